// The monitor ring between the audio thread (producer) and the sound device's thread (consumer):
// it never waits, drops and counts what does not fit, wraps, and trims a backlog left by a stalled
// device back to the monitor's latency. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/monitor_queue.h"

namespace velmor {
namespace {

// `pairs` stereo pairs numbered from `first`: each pair holds its number, so any byte out of place
// shows.
std::vector<uint8_t> Pairs(uint32_t first, size_t pairs) {
    std::vector<uint8_t> bytes(pairs * kMonitorPairBytes);
    for (size_t i = 0; i < pairs; ++i) {
        const uint32_t n = first + static_cast<uint32_t>(i);
        std::memcpy(bytes.data() + i * kMonitorPairBytes, &n, sizeof n);
    }
    return bytes;
}

std::vector<uint8_t> ReadAll(MonitorQueue& queue) {
    std::vector<uint8_t> out(queue.Capacity());
    out.resize(queue.Read(out.data(), out.size()));
    return out;
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(MonitorRing, BlocksComeOutInOrderAcrossTheRingsEnd) {
    MonitorQueue queue(64);
    queue.Open();
    const auto a = Pairs(0, 10), b = Pairs(10, 10);  // 40 bytes each
    EXPECT_EQ(queue.Queue(a.data(), a.size()), 40u);
    EXPECT_EQ(ReadAll(queue), a);
    EXPECT_EQ(queue.Queue(b.data(), b.size()), 40u);  // bytes 40..63, then 0..15
    EXPECT_EQ(queue.Peek().size(), 24u) << "the first piece ends at the ring's end";
    EXPECT_EQ(ReadAll(queue), b);
    EXPECT_EQ(queue.Queued(), 0u);
    EXPECT_EQ(queue.TakenBytes(), 80u);
    EXPECT_EQ(queue.DroppedBytes(), 0u);
}

TEST(MonitorRing, AFullRingDropsTheNewestAudioAndCountsIt) {
    MonitorQueue queue(64);
    queue.Open();
    const auto a = Pairs(0, 12), b = Pairs(12, 8);  // 48 + 32 bytes into 64
    EXPECT_EQ(queue.Queue(a.data(), a.size()), 48u);
    EXPECT_EQ(queue.Queue(b.data(), b.size()), 16u);
    EXPECT_EQ(queue.DroppedBytes(), 16u);
    EXPECT_EQ(queue.Queue(b.data(), b.size()), 0u) << "nothing waits for room";
    EXPECT_EQ(queue.DroppedBytes(), 48u);
    EXPECT_EQ(ReadAll(queue), Join(a, Pairs(12, 4)));
    // Half a pair is never queued: the device would play the channels swapped from there on.
    EXPECT_EQ(queue.Queue(a.data(), 7), 4u);
}

TEST(MonitorRing, OpeningForgetsWhatWaitedAndWakesTheDeviceForEachBlock) {
    struct Wake : IMonitorWake {
        void AudioQueued() override { ++count; }
        int count = 0;
    } wake;
    MonitorQueue queue(64);
    EXPECT_FALSE(queue.IsOpen());
    const auto a = Pairs(0, 4);
    queue.Queue(a.data(), a.size());
    queue.Open();  // the device has just come: audio from before it would only play late
    EXPECT_TRUE(queue.IsOpen());
    EXPECT_EQ(queue.Queued(), 0u);
    queue.SetWake(&wake);
    queue.Queue(a.data(), a.size());
    queue.Queue(a.data(), a.size());
    EXPECT_EQ(wake.count, 2);
    queue.SetWake(nullptr);
    queue.Close();
    EXPECT_FALSE(queue.IsOpen());
    EXPECT_EQ(queue.Queued(), 32u) << "closing keeps what is queued until the next opening";
}

TEST(MonitorRing, AfterAStallOnlyTheNewestBlockIsKept) {
    MonitorQueue queue;  // 32768 bytes
    queue.Open();
    // A device that takes nothing: eight 1024-pair blocks fill the ring, the ninth is dropped.
    constexpr size_t kBlockPairs = 1024, kBlock = kBlockPairs * kMonitorPairBytes;
    for (uint32_t block = 0; block < 9; ++block) {
        const auto b = Pairs(block * kBlockPairs, kBlockPairs);
        queue.Queue(b.data(), b.size());
    }
    EXPECT_EQ(queue.Queued(), 8 * kBlock);
    EXPECT_EQ(queue.DroppedBytes(), kBlock);
    // The device is back: it plays from the newest block it has, at its usual latency.
    EXPECT_EQ(queue.TrimLatency(), 7 * kBlock);
    EXPECT_EQ(queue.TrimmedBytes(), 7 * kBlock);
    EXPECT_EQ(ReadAll(queue), Pairs(7 * kBlockPairs, kBlockPairs));
}

TEST(MonitorRing, ABacklogWithinTheSlackIsNotTrimmed) {
    // 800-pair blocks (60 frames a second): the device may lag one block plus the slack.
    MonitorQueue queue;
    queue.Open();
    const size_t block = 800 * kMonitorPairBytes;
    const auto b = Pairs(0, 800);
    const size_t allowed = block + kMonitorSlackBytes;
    size_t queued = 0;
    while (queued + block <= allowed) {
        queue.Queue(b.data(), b.size());
        queued += block;
    }
    EXPECT_EQ(queue.TrimLatency(), 0u);
    queue.Queue(b.data(), b.size());
    EXPECT_EQ(queue.TrimLatency(), queued);
    EXPECT_EQ(queue.Queued(), block);
}

// The audio thread queues blocks of varying length as fast as it can while a device thread reads
// in pieces of its own, sleeps now and then and trims its backlog: every pair that arrives is a
// whole pair of the sequence, in order, and queued = taken + dropped + trimmed + left over.
TEST(MonitorRing, AProducerAndAConsumerThreadHammeringIt) {
    MonitorQueue queue(4096);
    queue.Open();
    constexpr uint32_t kPairs = 400000;
    std::atomic<bool> done{false};
    uint64_t queuedBytes = 0;
    std::thread producer([&] {
        uint32_t next = 0;
        size_t length = 1;
        while (next < kPairs) {
            const size_t pairs = std::min<size_t>(length, kPairs - next);
            const auto block = Pairs(next, pairs);
            queuedBytes += queue.Queue(block.data(), block.size());
            next += static_cast<uint32_t>(pairs);
            length = length % 700 + 37;
        }
        done = true;
    });
    int64_t last = -1;
    size_t reads = 0, outOfOrder = 0;
    std::vector<uint8_t> piece(1000);
    for (;;) {
        const bool finished = done.load();
        if (++reads % 64 == 0) queue.TrimLatency();
        if (reads % 512 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const size_t n = queue.Read(piece.data(), (reads % 5 + 1) * 4 * 50);
        for (size_t i = 0; i + kMonitorPairBytes <= n; i += kMonitorPairBytes) {
            uint32_t value = 0;
            std::memcpy(&value, piece.data() + i, sizeof value);
            if (static_cast<int64_t>(value) <= last || value >= kPairs) ++outOfOrder;
            last = value;
        }
        if (finished && queue.Queued() == 0) break;
    }
    producer.join();
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_EQ(queuedBytes, queue.TakenBytes() + queue.TrimmedBytes());
    EXPECT_EQ(queuedBytes + queue.DroppedBytes(), uint64_t{kPairs} * kMonitorPairBytes);
    EXPECT_GT(queue.TakenBytes(), 0u);
}

}  // namespace
}  // namespace velmor
