// Where probe workers go when their window closes before they have ended. Closing the Sources
// Found window must not wait for a worker that is still inside a capture or a receiver call, and
// a worker must never be left running when the NDI library goes away. So the window hands its
// unfinished workers (each with its run's state, which it owns through a shared pointer) to this
// park, which belongs to whatever outlives every such window and the library's users: it joins
// each worker once the worker has said it is done (Reap), and the rest when it is destroyed,
// before the library is closed. The overlay window parks its picture-loading workers here too
// (platform/background_workers.h): any worker that sets its flag as its last step can be parked.
// Window thread only.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace velmor {

class ProbeThreadPark {
public:
    ProbeThreadPark() = default;
    ProbeThreadPark(const ProbeThreadPark&) = delete;
    ProbeThreadPark& operator=(const ProbeThreadPark&) = delete;
    ~ProbeThreadPark() { JoinAll(); }

    // Takes `thread`, which sets `finished` as the last thing it does.
    void Adopt(std::thread thread, std::shared_ptr<const std::atomic<bool>> finished);
    // Joins the workers that have finished; never waits for one that has not.
    void Reap();
    // Joins every worker, waiting for those still running: each is at most one capture time-out
    // and a receiver's destruction from its end. For the moment before the library closes.
    void JoinAll();
    size_t size() const { return parked_.size(); }

private:
    struct Parked {
        std::thread thread;
        std::shared_ptr<const std::atomic<bool>> finished;
    };
    std::vector<Parked> parked_;
};

}  // namespace velmor
