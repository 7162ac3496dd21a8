#include "discovery/probe_park.h"

#include <algorithm>

namespace velmor {

void ProbeThreadPark::JoinAll() {
    for (Parked& p : parked_)
        if (p.thread.joinable()) p.thread.join();
    parked_.clear();
}

void ProbeThreadPark::Adopt(std::thread thread, std::shared_ptr<const std::atomic<bool>> finished) {
    Reap();
    parked_.push_back({std::move(thread), std::move(finished)});
}

void ProbeThreadPark::Reap() {
    auto done = [](Parked& p) {
        if (!p.finished->load(std::memory_order_acquire)) return false;
        if (p.thread.joinable()) p.thread.join();
        return true;
    };
    parked_.erase(std::remove_if(parked_.begin(), parked_.end(), done), parked_.end());
}

}  // namespace velmor
