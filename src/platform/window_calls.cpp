#include "platform/window_calls.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <cstdint>

namespace velmor {

WindowCalls::WindowCalls(QObject* parent)
    : QObject(parent), windowThread_(std::this_thread::get_id()) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ >= 0) {
        wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
        connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] { OnWake(); });
    }
}

WindowCalls::~WindowCalls() {
    Close();
    delete wakeNotifier_;
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void WindowCalls::Post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (closed_ || wakeFd_ < 0) return;
    queue_.push_back({std::move(task), 0});
    WakeLocked();
}

void WindowCalls::PostLatest(uint64_t key, std::function<void()> task) {
    if (OnWindowThread()) {
        std::function<void()> older;
        {
            std::lock_guard lock(mutex_);
            if (closed_) return;
            for (auto it = queue_.begin(); it != queue_.end(); ++it) {
                if (it->key == key) {
                    older = std::move(it->task);
                    queue_.erase(it);
                    break;
                }
            }
        }
        task();
        return;
    }
    std::function<void()> replaced;  // destroyed after the lock is given back
    std::lock_guard lock(mutex_);
    if (closed_ || wakeFd_ < 0) return;
    // The newer report goes to the end, after everything posted before it.
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->key == key) {
            replaced = std::move(it->task);
            queue_.erase(it);
            break;
        }
    }
    queue_.push_back({std::move(task), key});
    WakeLocked();
}

size_t WindowCalls::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void WindowCalls::WakeLocked() {
    if (wakePending_) return;
    wakePending_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void WindowCalls::OnWake() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    // The tasks run from a posted event, not from the notifier: the event loop does not serve a
    // socket notifier again while its own activation runs, but it does serve posted events in a
    // nested loop (a message box opened by a task). Posted to this thread only, so no Qt object
    // crosses threads.
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
}

void WindowCalls::Drain() {
    std::unique_lock lock(mutex_);
    wakePending_ = false;
    for (;;) {
        if (closed_ || queue_.empty()) return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        // The task may open a nested event loop (a message box); what is queued behind it must
        // still be served there, as a window message would be.
        if (!queue_.empty()) WakeLocked();
        lock.unlock();
        item.task();
        lock.lock();
    }
}

void WindowCalls::Close() {
    std::deque<Item> dropped;  // destroyed after the lock is given back
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.swap(dropped);
}

}  // namespace velmor
