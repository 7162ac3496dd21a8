// When a frame is too late to be worth sending: the live delay over the last seconds, the slack,
// stalls, clock steps and frames that say nothing about their send time.
#include <gtest/gtest.h>

#include <limits>

#include "engine/live_edge.h"

namespace velmor {
namespace {

constexpr int64_t kMs = 10'000;
constexpr int64_t kStart = 17'000'000'000'000'000;  // some wall-clock time
constexpr int64_t kPeriod = 166'667;                // 60 frames a second
const int64_t kSlack = VideoSlack(kPeriod);

// Feeds `frames` frames, one a period, each `lateness` behind its send time (plus `jitter`
// alternating in sign); returns how many were behind.
int Feed(LiveEdge& edge, int64_t& now, int frames, int64_t lateness, int64_t jitter = 0) {
    int behind = 0;
    for (int i = 0; i < frames; ++i) {
        now += kPeriod;
        const int64_t l = lateness + ((i % 2) ? jitter : -jitter);
        behind += edge.Behind(now - l, now, kSlack) ? 1 : 0;
    }
    return behind;
}

TEST(LiveEdge, AFrameIsBehindOnlyWhenLaterThanTheLiveDelayByMoreThanTheSlack) {
    EXPECT_EQ(kSlack, kPeriod + kPeriod / 2) << "a frame and a half at 60p";
    EXPECT_EQ(VideoSlack(10 * kMs / 10), 8 * kMs) << "at least 8 ms";
    EXPECT_EQ(AudioSlack(800, 48000), 2 * 166'666) << "two blocks";
    EXPECT_EQ(AudioSlack(100, 48000), 30 * kMs) << "at least 30 ms";

    LiveEdge edge;
    int64_t now = kStart;
    // A steady 12 ms with 3 ms of jitter either way: never behind. The clocks' offset (the
    // source's clock may run seconds apart from this one) does not matter.
    EXPECT_EQ(Feed(edge, now, 300, 12 * kMs, 3 * kMs), 0);
    EXPECT_EQ(edge.LiveDelay(), 9 * kMs);
    LiveEdge offset;
    int64_t later = kStart;
    EXPECT_EQ(Feed(offset, later, 300, -2000 * kMs, 3 * kMs), 0);

    struct Case {
        int64_t lateness;
        bool behind;
    } cases[] = {
        {9 * kMs + kSlack, false},      // exactly the slack
        {9 * kMs + kSlack + 1, true},   // just beyond
        {9 * kMs + 2 * kPeriod, true},  // two frames queued
        {500 * kMs, true},
    };
    for (const Case& c : cases) {
        now += kPeriod;
        EXPECT_EQ(edge.Behind(now - c.lateness, now, kSlack), c.behind) << c.lateness / kMs;
    }
}

TEST(LiveEdge, AfterAStallTheBacklogIsBehindAndTheLiveDelayIsKept) {
    LiveEdge edge;
    int64_t now = kStart;
    Feed(edge, now, 120, 5 * kMs);
    // Four and a half seconds without a frame; then the queued frames, oldest first, arrive at
    // once: all but the newest are behind.
    now += 4500 * kMs;
    int behind = 0;
    for (int k = 14; k >= 0; --k)
        behind += edge.Behind(now - 5 * kMs - k * kPeriod, now, kSlack) ? 1 : 0;
    EXPECT_EQ(behind, 13) << "the newest two are within a frame and a half";
    EXPECT_EQ(edge.LiveDelay(), 5 * kMs);
}

TEST(LiveEdge, ALastingChangeOfTheDelayBecomesTheLiveDelayWithinTheWindow) {
    LiveEdge edge;
    int64_t now = kStart;
    Feed(edge, now, 120, 5 * kMs);
    // The network path (or the source's clock) now adds 100 ms for good: behind at first, then
    // the new normal once the old delay has left the window.
    EXPECT_GT(Feed(edge, now, 60, 105 * kMs), 50);
    Feed(edge, now, 60 * LiveEdge::kWindowSeconds, 105 * kMs);
    EXPECT_EQ(Feed(edge, now, 60, 105 * kMs), 0);
    // A clock that steps back starts afresh.
    now -= 3600 * 10'000'000LL;
    EXPECT_FALSE(edge.Behind(now - 300 * kMs, now, kSlack));
    EXPECT_EQ(edge.LiveDelay(), 300 * kMs);
}

TEST(LiveEdge, FramesWithoutASendTimeAreNeverBehind) {
    LiveEdge edge;
    int64_t now = kStart;
    Feed(edge, now, 10, 5 * kMs);
    EXPECT_FALSE(edge.Behind(0, now, kSlack));
    EXPECT_FALSE(edge.Behind(std::numeric_limits<int64_t>::max(), now, kSlack));
}

}  // namespace
}  // namespace velmor
