#include "discovery/scan_loop.h"

#include <algorithm>
#include <vector>

namespace velmor {

ScanLoop::ScanLoop() : wake_(std::make_shared<WakeState>()) {}

void ScanLoop::StartTimer(int id, int periodMs) {
    timers_[id] = {periodMs, Clock::now() + std::chrono::milliseconds(periodMs)};
}

void ScanLoop::StopTimer(int id) {
    timers_.erase(id);
}

int ScanLoop::timerPeriod(int id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second.periodMs;
}

std::function<void()> ScanLoop::Waker() const {
    return [state = wake_] {
        {
            std::lock_guard lock(state->mutex);
            state->pending = true;
        }
        state->cv.notify_one();
    };
}

bool ScanLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const Clock::time_point end = Clock::now() + limit;
    while (!done()) {
        Clock::time_point next = end;
        for (const auto& [id, timer] : timers_)
            next = std::min(next, timer.due);
        bool woken = false;
        {
            std::unique_lock lock(wake_->mutex);
            wake_->cv.wait_until(lock, next, [&] { return wake_->pending; });
            woken = wake_->pending;
            wake_->pending = false;
        }
        if (woken && onWake) onWake();
        const Clock::time_point now = Clock::now();
        // A handler may start and stop timers: fire from a list of what is due now.
        std::vector<int> due;
        for (const auto& [id, timer] : timers_)
            if (timer.due <= now) due.push_back(id);
        for (int id : due) {
            auto it = timers_.find(id);
            if (it == timers_.end() || it->second.due > now) continue;
            it->second.due = now + std::chrono::milliseconds(it->second.periodMs);
            if (onTimer) onTimer(id);
        }
        if (now >= end) return done();
    }
    return true;
}

}  // namespace velmor
