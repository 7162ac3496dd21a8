// The windows' IBackgroundWork: each piece of work runs on a thread of its own at the lowest
// priority (it must not take the processor from the engine's threads), which is handed at
// once to a ProbeThreadPark that joins it once it has ended, so the window thread never waits for
// a worker (not when the window closes either: the park belongs to the main window). Tasks reach
// the window thread through a WindowCalls queue of this object's own, which drops what has not
// run when the object goes.
#pragma once

#include "discovery/probe_park.h"
#include "platform/window_calls.h"
#include "relay/background_work.h"

namespace velmor {

class BackgroundWorkers : public IBackgroundWork {
public:
    // Window thread; `park` must outlive every worker's work (the main window's does).
    explicit BackgroundWorkers(ProbeThreadPark& park) : park_(park) {}
    BackgroundWorkers(const BackgroundWorkers&) = delete;
    BackgroundWorkers& operator=(const BackgroundWorkers&) = delete;

    void Run(std::function<void()> work) override;
    void Post(std::function<void()> task) override { calls_.Post(std::move(task)); }

private:
    ProbeThreadPark& park_;
    WindowCalls calls_;
};

}  // namespace velmor
