#include "engine/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace velmor {
namespace {

// On Linux the "process" priority of a thread id is that thread's own nice value.
id_t ThreadId() {
    return static_cast<id_t>(::syscall(SYS_gettid));
}

}  // namespace

int ThreadNiceValue() {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, ThreadId());
    return errno == 0 ? nice : 0;
}

int RaiseThreadPriority(int steps) {
    const int current = ThreadNiceValue();
    for (int target = current - steps; target < current; ++target) {
        if (target < -20) continue;
        if (::setpriority(PRIO_PROCESS, ThreadId(), target) == 0) return target;
    }
    return current;
}

void LowerThreadPriority(int steps) {
    ::setpriority(PRIO_PROCESS, ThreadId(), std::min(ThreadNiceValue() + steps, 19));
}

}  // namespace velmor
