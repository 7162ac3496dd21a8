#include "platform/background_workers.h"

#include <atomic>
#include <memory>
#include <thread>

#include "engine/thread_priority.h"

namespace velmor {

namespace {

// As far down as the grab worker: a picture decoding never takes the processor from the engine's
// video and audio threads.
constexpr int kWorkerNiceSteps = 19;

}  // namespace

void BackgroundWorkers::Run(std::function<void()> work) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([work = std::move(work), finished]() mutable {
        LowerThreadPriority(kWorkerNiceSteps);
        work();
        work = nullptr;  // what the work held goes on this thread, before it counts as ended
        finished->store(true, std::memory_order_release);
    });
    park_.Adopt(std::move(worker), std::move(finished));
}

}  // namespace velmor
