// Hands whole, immutable values from one thread (the window thread) to another (the video thread)
// by swapping a pointer, for values too large to copy into the slots of a TripleBuffer: the
// overlay's picture lists, which may hold hundreds of full-frame pictures.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

namespace velmor {

// One writer thread and one reader thread. The writer publishes a new value; the value it
// replaces is retired and freed on the writer's thread once the reader no longer uses it, so the
// reader never frees anything and never waits. The reader marks the value it uses with Acquire()
// and unmarks it with Release(); between the two the value stays alive and unchanged.
template <class T>
class SnapshotPublisher {
public:
    SnapshotPublisher() = default;
    SnapshotPublisher(const SnapshotPublisher&) = delete;
    SnapshotPublisher& operator=(const SnapshotPublisher&) = delete;
    // No reader may be between Acquire() and Release() any more.
    ~SnapshotPublisher() {
        delete published_.load();
        for (const T* r : retired_)
            delete r;
    }

    // Writer side. `value` may be null (nothing to draw).
    void Publish(std::unique_ptr<const T> value) {
        const T* old = published_.exchange(value.release(), std::memory_order_seq_cst);
        if (old) retired_.push_back(old);
        Collect();
    }
    // The value published last (the writer may read it, e.g. to build the next one from it).
    const T* Latest() const { return published_.load(std::memory_order_relaxed); }
    // Frees the retired values the reader is not using. Returns how many are still kept.
    size_t Collect() {
        const T* inUse = inUse_.load(std::memory_order_seq_cst);
        size_t kept = 0;
        for (const T* r : retired_) {
            if (r == inUse) {
                retired_[kept++] = r;
            } else {
                delete r;
            }
        }
        retired_.resize(kept);
        return kept;
    }

    // Reader side: the newest value (or null), valid until Release().
    const T* Acquire() {
        const T* p = published_.load(std::memory_order_seq_cst);
        for (;;) {
            inUse_.store(p, std::memory_order_seq_cst);
            // Published again before the mark was seen: the writer may already have retired p.
            const T* again = published_.load(std::memory_order_seq_cst);
            if (again == p) return p;
            p = again;
        }
    }
    void Release() { inUse_.store(nullptr, std::memory_order_seq_cst); }

private:
    std::atomic<const T*> published_{nullptr};
    std::atomic<const T*> inUse_{nullptr};
    std::vector<const T*> retired_;  // writer's
};

}  // namespace velmor
