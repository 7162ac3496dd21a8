// How far the relay is behind its source, and when a frame is too late to be worth sending.
//
// A frame's lateness is the time between its send by the source (the timestamp the receiver
// reports) and now. The live delay is the least lateness seen over the last few seconds: what the
// network and the relay's own work cost when nothing waits. A frame later than that by more than
// a slack is behind: it waited in a queue (the receiver's, while the relay was stalled or
// busy). The threads skip such a frame only when a newer one is already waiting, so a relay that
// keeps up never drops anything, and one that fell behind returns to the live delay at once
// instead of sending its backlog at the output's pace for ever.
//
// Comparing the source's clock with this machine's is safe here: only differences of lateness
// count, so a constant offset between the clocks cancels out; a clock that steps makes the
// baseline follow within the window (a frame is never skipped without a newer one waiting).
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <limits>

namespace velmor {

// This machine's wall clock in the 100 ns units of NDI timestamps.
inline int64_t WallClock100ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() /
           100;
}

// A timestamp that says when the frame was sent (the runtime reports INT64_MAX, or 0 from some
// senders, when it does not know).
inline bool KnownTimestamp(int64_t timestamp) {
    return timestamp > 0 && timestamp != std::numeric_limits<int64_t>::max();
}

class LiveEdge {
public:
    static constexpr int64_t kSecond = 10'000'000;
    static constexpr int kWindowSeconds = 4;

    // Forgets what was seen (a new connection).
    void Reset() {
        mins_.fill(kNone);
        bucketStart_ = 0;
    }

    // Notes the frame sent at `timestamp` and seen `now`, and returns whether it is later than the
    // live delay by more than `slack` (all in 100 ns units). A frame without a known timestamp is
    // never behind.
    bool Behind(int64_t timestamp, int64_t now, int64_t slack) {
        if (!KnownTimestamp(timestamp)) return false;
        const int64_t lateness = now - timestamp;
        Note(lateness, now);
        const int64_t live = *std::min_element(mins_.begin(), mins_.end());
        return lateness - live > slack;
    }

    // The live delay now (100 ns units), or 0 before any frame.
    int64_t LiveDelay() const {
        const int64_t live = *std::min_element(mins_.begin(), mins_.end());
        return live == kNone ? 0 : live;
    }

private:
    static constexpr int64_t kNone = std::numeric_limits<int64_t>::max();

    void Note(int64_t lateness, int64_t now) {
        // One bucket a second; the oldest makes room as a new second starts. A clock that went
        // back starts afresh from this frame.
        if (bucketStart_ == 0 || now < bucketStart_) {
            mins_.fill(kNone);
            bucketStart_ = now;
            current_ = 0;
        }
        if (now - bucketStart_ >= kSecond) {
            // After seconds without frames (the relay or the machine stalled), the live delay
            // known before the gap still holds: the first frames after it are the stale ones.
            const int64_t before = *std::min_element(mins_.begin(), mins_.end());
            const int64_t seconds = (now - bucketStart_) / kSecond;
            for (int64_t i = 0; i < std::min<int64_t>(seconds, kWindowSeconds); ++i) {
                current_ = (current_ + 1) % kWindowSeconds;
                mins_[current_] = kNone;
            }
            bucketStart_ += seconds * kSecond;
            if (seconds >= kWindowSeconds) mins_[current_] = before;
        }
        mins_[current_] = std::min(mins_[current_], lateness);
    }

    std::array<int64_t, kWindowSeconds> mins_{kNone, kNone, kNone, kNone};
    int64_t bucketStart_ = 0;
    int current_ = 0;
};

// The slack of a video frame of `frameDuration` (100 ns units): one and a half frames, so that a
// backlog of two frames or more is cut back and ordinary network jitter is not, and at least 8 ms.
inline int64_t VideoSlack(int64_t frameDuration) {
    return std::max<int64_t>(frameDuration + frameDuration / 2, 80'000);
}

// The slack of an audio block of `samples` at `rate`: two blocks, at least 30 ms.
inline int64_t AudioSlack(int samples, int rate) {
    const int64_t block = rate > 0 ? int64_t{samples} * 10'000'000 / rate : 0;
    return std::max<int64_t>(2 * block, 300'000);
}

}  // namespace velmor
