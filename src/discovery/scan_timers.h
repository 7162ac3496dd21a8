// The window timers of the Sources Found window, as the scanner asks for them: a started timer
// fires every period until it is stopped or started again (which restarts its period). The
// window implements them with Qt timers; the terminal listing and the tests with a ScanLoop.
#pragma once

namespace velmor {

class IScanTimers {
public:
    virtual ~IScanTimers() = default;
    virtual void StartTimer(int id, int periodMs) = 0;
    virtual void StopTimer(int id) = 0;
};

}  // namespace velmor
