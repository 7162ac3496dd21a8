// Two IBackgroundWork implementations for tests. In both, the test's own thread is the window
// thread: posted tasks run only when the test runs them.
// - ManualWork keeps the work too and runs it on the test's thread when asked: each step of a
//   model's hand-over can be looked at in turn.
// - ThreadWork runs each piece of work on a real thread of its own (joined when it goes), as the
//   window does, for tests of what happens while a worker runs (and for ThreadSanitizer).
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "relay/background_work.h"

namespace velmor::testing {

class ManualWork : public IBackgroundWork {
public:
    void Run(std::function<void()> work) override { work_.push_back(std::move(work)); }
    void Post(std::function<void()> task) override { posted_.push_back(std::move(task)); }

    // Runs the work waiting (and work it starts); true when there was some.
    bool RunWork() { return RunAll(work_); }
    // Runs the posted tasks (and those they post); true when there were some.
    bool RunPosted() { return RunAll(posted_); }
    // Both, until nothing is left.
    void Settle() {
        while (RunWork() || RunPosted()) {
        }
    }
    size_t waitingWork() const { return work_.size(); }

private:
    static bool RunAll(std::deque<std::function<void()>>& queue) {
        bool ran = false;
        while (!queue.empty()) {
            std::function<void()> f = std::move(queue.front());
            queue.pop_front();
            f();
            ran = true;
        }
        return ran;
    }
    std::deque<std::function<void()>> work_;
    std::deque<std::function<void()>> posted_;
};

class ThreadWork : public IBackgroundWork {
public:
    ~ThreadWork() override { JoinAll(); }

    void Run(std::function<void()> work) override {
        running_.fetch_add(1);
        std::lock_guard lock(mutex_);
        threads_.emplace_back([this, work = std::move(work)]() mutable {
            work();
            work = nullptr;
            running_.fetch_sub(1);
        });
    }
    void Post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
    }

    // The window thread's turn: runs what was posted so far (and what that posts).
    void RunPosted() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (posted_.empty()) return;
                task = std::move(posted_.front());
                posted_.pop_front();
            }
            task();
        }
    }
    // Serves posted tasks until `done` holds (true) or `limit` passes (false).
    bool WaitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            RunPosted();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Workers that have not ended yet.
    int running() const { return running_.load(); }
    void JoinAll() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (std::thread& t : threads)
            t.join();
    }

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> posted_;
    std::atomic<int> running_{0};
};

}  // namespace velmor::testing
