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

// One writer thread and `Readers` reader threads, each reader with its own number (0 to Readers -
// 1): the same contract as the triple buffer for every reader. The writer never waits: each reader
// holds at most one slot, so of the Readers + 2 slots one is always neither held nor the newest.
// A reader marks the newest slot as held and then checks that it is still the newest, so the
// writer, which only writes a slot that is unheld and not the newest, cannot have started on it
// (the order of these steps is sequentially consistent). Used where a second, independent
// consumer reads the same values, such as the preview that both the window paints and the HTTP
// front end encodes.
template <class T, int Readers>
class MultiReaderBuffer {
public:
    static constexpr int kSlots = Readers + 2;

    MultiReaderBuffer() {
        for (int& r : readerSlot_)
            r = -1;
    }

    // Writer side.
    T& Back() { return slots_[back_]; }
    void Publish() {
        latest_.store(back_, std::memory_order_seq_cst);
        lastPublished_ = back_;
        for (int s = 0; s < kSlots; ++s) {
            if (s != lastPublished_ && held_[s].load(std::memory_order_seq_cst) == 0) {
                back_ = s;
                return;
            }
        }
    }
    const T& LastPublished() const { return slots_[lastPublished_]; }
    T& Slot(int i) { return slots_[i]; }

    // Reader `reader`'s side. Never null; a default-constructed value until the first Publish().
    // Lets go of the value this reader acquired before.
    const T* Acquire(int reader) {
        int& mine = readerSlot_[reader];
        if (mine >= 0) held_[mine].fetch_sub(1, std::memory_order_seq_cst);
        for (;;) {
            const int s = latest_.load(std::memory_order_seq_cst);
            held_[s].fetch_add(1, std::memory_order_seq_cst);
            if (latest_.load(std::memory_order_seq_cst) == s) {
                mine = s;
                return &slots_[s];
            }
            held_[s].fetch_sub(1, std::memory_order_seq_cst);
        }
    }

private:
    T slots_[kSlots];
    std::atomic<int> held_[kSlots] = {};
    int back_ = 0;           // writer's
    int lastPublished_ = 1;  // the initial newest slot: a default value nobody writes
    std::atomic<int> latest_{1};
    int readerSlot_[Readers];  // each entry touched by its own reader only; -1: none held
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
