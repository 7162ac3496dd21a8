#include "platform/window_calls.h"

#include <QMetaObject>

namespace velmor {

WindowCalls::WindowCalls(QObject* parent)
    : QObject(parent), windowThread_(std::this_thread::get_id()) {}

WindowCalls::~WindowCalls() {
    Close();
}

void WindowCalls::Call(std::function<void()> task) {
    if (OnWindowThread()) {
        if (!closed_) task();
        return;
    }
    bool finished = false;
    std::unique_lock lock(mutex_);
    if (closed_) return;
    queue_.push_back({std::move(task), &finished});
    WakeLocked();
    done_.wait(lock, [&] { return closed_ || finished; });
}

void WindowCalls::Post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    queue_.push_back({std::move(task), nullptr});
    WakeLocked();
}

void WindowCalls::WakeLocked() {
    if (wakePending_) return;
    wakePending_ = true;
    // Posting an event is safe from any thread; the functor runs on this object's thread.
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
}

void WindowCalls::Drain() {
    for (;;) {
        std::unique_lock lock(mutex_);
        wakePending_ = false;
        if (closed_ || queue_.empty()) return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        // The task may open a nested event loop (a message box); what is queued behind it must
        // still be served there, as a window message would be.
        if (!queue_.empty()) WakeLocked();
        lock.unlock();
        item.task();
        if (item.finished) {
            lock.lock();
            // After Close the caller has already returned: its flag is gone.
            if (!closed_) *item.finished = true;
            lock.unlock();
            done_.notify_all();
        }
    }
}

void WindowCalls::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        queue_.clear();
    }
    done_.notify_all();
}

}  // namespace velmor
