// A small event loop for the scanner where there is no window: the terminal listing of
// `velmor-sink --list --probe` and the tests. It keeps the scanner's timers and runs them, and what
// the workers' wake asks for, on the thread that calls RunUntil, the scanner's window thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "discovery/scan_timers.h"

namespace velmor {

class ScanLoop : public IScanTimers {
public:
    using Clock = std::chrono::steady_clock;

    ScanLoop();
    void StartTimer(int id, int periodMs) override;
    void StopTimer(int id) override;

    // A wake for the workers: callable from any thread, also after the loop is gone; returns at
    // once. The loop then runs onWake.
    std::function<void()> Waker() const;

    // Runs timers (onTimer) and wakes (onWake) until `done` holds or `limit` has passed;
    // returns whether `done` holds.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

    std::function<void(int id)> onTimer;
    std::function<void()> onWake;

    // 0 when timer `id` is stopped, else its period.
    int timerPeriod(int id) const;

private:
    struct Timer {
        int periodMs;
        Clock::time_point due;
    };
    struct WakeState {
        std::mutex mutex;
        std::condition_variable cv;
        bool pending = false;
    };
    std::map<int, Timer> timers_;
    std::shared_ptr<WakeState> wake_;
};

}  // namespace velmor
