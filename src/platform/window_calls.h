// How other threads reach the window thread. Nobody waits here: an engine thread hands its window
// update over and goes on, so a window (or a display server) that stops serving for seconds delays
// nothing but its own updates. Reports that stand for a state (a caption, a lamp, the time text)
// are posted under a key: a newer report replaces one still queued under the same key, so the
// queue holds at most one task per key however long the window is away, and the window shows the
// newest state when it comes back. The window thread never waits either: a keyed report made on
// it runs at once.
//
// The hand-over is a queue under a std::mutex and a condition variable, and the window thread is
// woken through an eventfd that Qt's event loop watches. No Qt object crosses threads, so every
// ordering between the threads is one that ThreadSanitizer sees (the mutex, the eventfd), not one
// hidden in Qt's uninstrumented internals. Tasks run in the order they were queued, in
// whichever event loop the window thread is in (modal dialogs and message boxes included), so a
// handler can be re-entered by a call while a box of its own is open.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velmor {

class WindowCalls : public QObject {
public:
    // Must be made on the window thread.
    explicit WindowCalls(QObject* parent = nullptr);
    ~WindowCalls() override;

    // Queues `task` for the window thread and returns at once. Dropped after Close. For events
    // that happen a bounded number of times (a connection completed, a grab written); a report of
    // a state that can change every frame goes through PostLatest.
    void Post(std::function<void()> task);
    // Queues `task` under `key` (not 0) and returns at once: a task still queued under the same
    // key is dropped and `task` goes to the end of the queue, so only the newest report of that
    // state runs, after everything posted before it. On the window
    // thread a task queued under the key is dropped (it is older) and `task` runs at once.
    // Dropped after Close.
    void PostLatest(uint64_t key, std::function<void()> task);
    // Window thread: later posts do nothing and what is queued is dropped. Run before anything
    // the tasks touch goes away.
    void Close();
    // Tasks queued now (tests: the queue stays bounded while the window is away).
    size_t Pending() const;
    // Window thread: runs what is queued now (tests, and waits that must keep the queue moving).
    void RunPending() { Drain(); }

    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

private:
    struct Item {
        std::function<void()> task;
        uint64_t key = 0;  // 0: a plain post
    };
    void WakeLocked();
    void OnWake();
    void Drain();

    const std::thread::id windowThread_;
    int wakeFd_ = -1;
    QSocketNotifier* wakeNotifier_ = nullptr;
    mutable std::mutex mutex_;
    std::deque<Item> queue_;
    bool wakePending_ = false;
    bool closed_ = false;
};

}  // namespace velmor
