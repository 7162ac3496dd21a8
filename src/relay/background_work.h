// How a window's model has slow work done away from the window thread and hears back from it,
// while staying plain C++: the window implements this with worker threads and its event loop
// (platform/background_workers.h), tests with a thread of their own or by running the work when
// they choose.
#pragma once

#include <functional>

namespace velmor {

class IBackgroundWork {
public:
    virtual ~IBackgroundWork() = default;
    // Window thread: runs `work` on a worker thread and returns at once. `work` holds everything
    // it touches (shared by pointer), so it may go on after the model that started it has gone;
    // the implementation joins the worker later, without the window thread waiting for it.
    virtual void Run(std::function<void()> work) = 0;
    // Any thread: queues `task` for the window thread and returns at once, never waiting for the
    // window thread. Tasks run in the order they were posted.
    virtual void Post(std::function<void()> task) = 0;
};

}  // namespace velmor
