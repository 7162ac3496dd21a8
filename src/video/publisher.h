// Hands a value built on one thread (the window thread) to another (the video thread) without a
// lock and without the reader ever seeing a half-written value: a triple buffer.
#pragma once

#include <atomic>
#include <mutex>

namespace velmor {

// One writer thread and one reader thread. The writer fills Back(), then Publish() makes it the
// newest value. The reader's Acquire() returns the newest published value and keeps it to itself
// until its next Acquire(); the writer never touches that slot meanwhile. The writer may also read
// LastPublished() (reads only), e.g. to build the next value from the previous one.
template <class T>
class TripleBuffer {
public:
    // Writer side.
    T& Back() { return slots_[back_]; }
    void Publish() {
        lastPublished_ = back_;
        back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex;
    }
    const T& LastPublished() const { return slots_[lastPublished_]; }
    // For set-up before the reader exists: every slot, e.g. to size them alike.
    T& Slot(int i) { return slots_[i]; }

    // Reader side. Never null; a default-constructed value until the first Publish().
    const T* Acquire() {
        if (middle_.load(std::memory_order_acquire) & kFresh) {
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
        }
        return &slots_[front_];
    }

private:
    static constexpr int kIndex = 3;
    static constexpr int kFresh = 4;

    T slots_[3];
    int back_ = 0;           // writer's
    int lastPublished_ = 1;  // the initial middle slot: a default value nobody writes
    std::atomic<int> middle_{1};
    int front_ = 2;  // reader's
};

}  // namespace velmor

namespace velmor {

// A value that several threads may set and one thread reads: the writers take turns under a
// mutex (they wait only for each other, never for the reader), and the reader gets the newest
// whole value from a triple buffer without any lock. For settings that must change together.
template <class T>
class Published {
public:
    // Writer side, any thread: `edit` changes a copy of the newest value, which is then published
    // whole. Returns the value published.
    template <class Edit>
    T Update(Edit edit) {
        std::lock_guard lock(writers_);
        T& next = buffer_.Back();
        next = buffer_.LastPublished();
        edit(next);
        buffer_.Publish();
        return buffer_.LastPublished();
    }
    // Writer side: the newest value published.
    T Latest() const {
        std::lock_guard lock(writers_);
        return buffer_.LastPublished();
    }
    // Reader side, one thread: the newest whole value, kept until the next Acquire.
    const T& Acquire() { return *buffer_.Acquire(); }

private:
    mutable std::mutex writers_;
    TripleBuffer<T> buffer_;
};

}  // namespace velmor
