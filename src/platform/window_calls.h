// How other threads reach the window thread. An engine thread's window update is synchronous: the
// caller waits until the window thread has run it, so the engine never races the window's state.
// The window thread itself never waits here: a call made on it runs at once (a blocking queued call
// to its own thread would deadlock), and posted tasks never wait.
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

#include <condition_variable>
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

    // Runs `task` on the window thread and returns once it has run. On the window thread it runs
    // at once. After Close it returns at once and the task does not run.
    void Call(std::function<void()> task);
    // Queues `task` for the window thread and returns at once. Dropped after Close.
    void Post(std::function<void()> task);
    // Window thread: releases every waiting caller; later calls and posts do nothing. Run before
    // anything the tasks touch goes away, so a thread that is still ending cannot block on a window
    // that no longer runs its queue.
    void Close();
    // Window thread: runs what is queued now (tests, and waits that must keep the queue moving).
    void RunPending() { Drain(); }

    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

private:
    struct Item {
        std::function<void()> task;
        bool* finished = nullptr;  // the waiting caller's flag; null for a posted task
    };
    void WakeLocked();
    void OnWake();
    void Drain();

    const std::thread::id windowThread_;
    int wakeFd_ = -1;
    QSocketNotifier* wakeNotifier_ = nullptr;
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<Item> queue_;
    bool wakePending_ = false;
    bool closed_ = false;
};

}  // namespace velmor
