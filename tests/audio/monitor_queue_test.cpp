// The monitor ring's buffer accounting and the tap's conversion arithmetic.
#include "audio/monitor_queue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace velmor {
namespace {

// A device that keeps every buffer it is handed and returns them only when told to.
class FakeOutput : public IMonitorOutput {
public:
    bool Write(const uint8_t* data, size_t bytes) override {
        if (fail) return false;
        written.insert(written.end(), data, data + bytes);
        ++writes;
        if (doneAtOnce != nullptr) doneAtOnce->BufferDone();
        return true;
    }
    std::vector<uint8_t> written;
    int writes = 0;
    bool fail = false;
    MonitorQueue* doneAtOnce = nullptr;  // a device that has played a buffer before Write returns
};

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

TEST(MonitorQueue, TwoBlocksOf1600SamplesFillTheRingAsDescribed) {
    MonitorQueue queue;
    FakeOutput out;
    queue.Attach(&out);
    const auto first = Pattern(6400, 1);
    const auto second = Pattern(6400, 99);

    queue.Queue(first.data(), first.size());
    EXPECT_EQ(out.writes, 1);  // buffer 0 queued
    EXPECT_EQ(queue.Index(), 1);
    EXPECT_EQ(queue.FillCount(1), 2304);
    EXPECT_EQ(queue.FreeBuffers(), 15);

    queue.Queue(second.data(), second.size());
    EXPECT_EQ(out.writes, 3);  // buffer 1 completed with 1792 bytes, buffer 2 filled whole
    EXPECT_EQ(queue.Index(), 3);
    EXPECT_EQ(queue.FillCount(3), 512);
    EXPECT_EQ(queue.FreeBuffers(), 13);

    // The device received the two blocks back to back, in order, minus the 512 still waiting.
    std::vector<uint8_t> expected(first);
    expected.insert(expected.end(), second.begin(), second.end() - 512);
    EXPECT_EQ(out.written, expected);
}

TEST(MonitorQueue, BlockThatExactlyFillsTheSpaceIsQueuedAtOnce) {
    MonitorQueue queue;
    FakeOutput out;
    queue.Attach(&out);
    const auto block = Pattern(4096, 3);
    queue.Queue(block.data(), block.size());
    EXPECT_EQ(out.writes, 1);
    EXPECT_EQ(queue.Index(), 1);
    EXPECT_EQ(queue.FillCount(1), 0);
}

TEST(MonitorQueue, DeviceThatFinishesInsideWriteKeepsTheCountExact) {
    MonitorQueue queue;
    FakeOutput out;
    out.doneAtOnce = &queue;
    queue.Attach(&out);
    const auto block = Pattern(kMonitorBufferBytes * 40, 3);
    queue.Queue(block.data(), block.size());
    EXPECT_EQ(out.writes, 40);
    EXPECT_EQ(queue.FreeBuffers(), kMonitorBuffers);
}

TEST(MonitorQueue, ClearingAtAConnectionSilencesThePartlyFilledBuffer) {
    MonitorQueue queue;
    FakeOutput out;
    queue.Attach(&out);
    const auto old = Pattern(1000, 5);
    queue.Queue(old.data(), old.size());
    queue.ClearBuffers();
    const auto fresh = Pattern(kMonitorBufferBytes - 1000, 8);
    queue.Queue(fresh.data(), fresh.size());
    ASSERT_EQ(out.writes, 1);
    std::vector<uint8_t> expected(1000, 0);
    expected.insert(expected.end(), fresh.begin(), fresh.end());
    EXPECT_EQ(out.written, expected);
}

TEST(MonitorQueue, NothingIsQueuedWhenNoDeviceIsOpen) {
    MonitorQueue queue;
    const auto block = Pattern(8192, 3);
    queue.Queue(block.data(), block.size());  // must not touch an unallocated ring
    EXPECT_FALSE(queue.IsOpen());
    EXPECT_EQ(queue.FreeBuffers(), kMonitorBuffers);
}

TEST(MonitorQueue, FullRingWaitsUntilTheDeviceReturnsABuffer) {
    MonitorQueue queue(std::chrono::milliseconds(5000));
    FakeOutput out;
    queue.Attach(&out);
    const auto block = Pattern(kMonitorBufferBytes * 15, 5);
    queue.Queue(block.data(), block.size());
    ASSERT_EQ(queue.FreeBuffers(), 1);

    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        queue.BufferDone();
    });
    const auto one = Pattern(kMonitorBufferBytes, 9);
    queue.Queue(one.data(), one.size());  // the 16th: free reaches 0, waits for the callback
    EXPECT_EQ(queue.FreeBuffers(), 1);
    device.join();
    EXPECT_EQ(out.writes, 16);
    EXPECT_EQ(queue.DroppedBytes(), 0u);
    EXPECT_EQ(queue.Index(), 0);  // wrapped around
}

TEST(MonitorQueue, StuckDeviceDropsInsteadOfHangingAndRecoversWhenBuffersReturn) {
    MonitorQueue queue(std::chrono::milliseconds(300));
    FakeOutput out;
    queue.Attach(&out);
    const auto ring = Pattern(kMonitorBufferBytes * 16, 5);
    queue.Queue(ring.data(), ring.size());  // waits 300 ms, then gives up
    EXPECT_EQ(queue.FreeBuffers(), 0);

    const auto start = std::chrono::steady_clock::now();
    const auto more = Pattern(kMonitorBufferBytes * 2, 7);
    queue.Queue(more.data(), more.size());  // stalled: no second wait, both buffers dropped
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(out.writes, 16);
    EXPECT_EQ(queue.DroppedBytes(), 2u * kMonitorBufferBytes);

    queue.BufferDone();
    queue.Queue(more.data(), kMonitorBufferBytes);
    EXPECT_EQ(out.writes, 17);
}

TEST(MonitorQueue, FailedWriteIsCountedAndDoesNotConsumeABuffer) {
    MonitorQueue queue;
    FakeOutput out;
    out.fail = true;
    queue.Attach(&out);
    const auto block = Pattern(kMonitorBufferBytes, 1);
    queue.Queue(block.data(), block.size());
    EXPECT_EQ(queue.FreeBuffers(), kMonitorBuffers);
    EXPECT_EQ(queue.DroppedBytes(), static_cast<uint64_t>(kMonitorBufferBytes));
}

TEST(MonitorQueue, DetachWaitsForQueuedBuffersButOnlyUpToItsLimit) {
    MonitorQueue queue;
    FakeOutput out;
    queue.Attach(&out);
    const auto block = Pattern(kMonitorBufferBytes * 3 + 100, 2);
    queue.Queue(block.data(), block.size());
    std::thread device([&] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            queue.BufferDone();
        }
    });
    EXPECT_TRUE(queue.Detach(std::chrono::milliseconds(5000)));
    EXPECT_EQ(queue.FreeBuffers(), kMonitorBuffers);
    EXPECT_FALSE(queue.IsOpen());
    device.join();

    queue.Attach(&out);
    queue.Queue(block.data(), block.size());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.Detach(std::chrono::milliseconds(50)));  // device never answers
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST(MonitorLevel, ClickRowsChooseFullDimMute) {
    const std::pair<int, int> cases[] = {{0, 2}, {8, 2}, {9, 1}, {16, 1}, {17, 0}, {40, 0}};
    for (const auto& [y, level] : cases)
        EXPECT_EQ(MonitorLevelForClick(y), level) << y;
}

// --- MonitorTap ---

struct TapCase {
    const char* name;
    MonitorTapSettings settings;
    float sample;
    int16_t expected;
};

TEST(MonitorTap, FactorLevelsAndClamping) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const TapCase cases[] = {
        // F = level x meterScale x K x 65536
        {"EBU full", {1.0f, 1, 0, 0, 1, 1.0f}, 1.0f, 6553},    // 6553.6
        {"SMPTE full", {1.0f, 0, 0, 0, 1, 1.0f}, 1.0f, 3284},  // 3284.6
        {"EBU dim", {0.25f, 1, 0, 0, 1, 1.0f}, 1.0f, 1638},    // 1638.4
        {"mute", {0.0f, 1, 0, 0, 1, 1.0f}, 1.0f, 0},
        {"negative truncates toward zero", {1.0f, 1, 0, 0, 1, 1.0f}, -1.0f, -6553},
        {"overload clamps high", {1.0f, 1, 0, 0, 1, 1.0f}, 100.0f, 32767},
        {"overload clamps low", {1.0f, 1, 0, 0, 1, 1.0f}, -100.0f, -32768},
        {"NaN plays silence", {1.0f, 1, 0, 0, 1, 1.0f}, nan, 0},
    };
    for (const auto& c : cases) {
        // 2 channels of 37 samples: whole blocks of the vectorised loop and a scalar tail.
        std::vector<float> planes(2 * 37, c.sample);
        std::vector<int16_t> scratch;
        MonitorTap(c.settings, {planes.data(), 2, 37, 37}, nullptr, nullptr, scratch);
        EXPECT_EQ(scratch, std::vector<int16_t>(2 * 37, c.expected)) << c.name;
        // One channel absent takes the per-channel path.
        MonitorTap(c.settings, {planes.data(), 1, 37, 37}, nullptr, nullptr, scratch);
        for (size_t j = 0; j < 37; ++j) {
            EXPECT_EQ(scratch[2 * j], c.expected) << c.name;
            EXPECT_EQ(scratch[2 * j + 1], 0) << c.name;
        }
    }
}

// Four channels of 3 samples; channel k holds the value 0.1 * (k + 1) in every sample.
std::vector<float> FourChannels() {
    std::vector<float> v(12);
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 3; ++j)
            v[static_cast<size_t>(k * 3 + j)] = 0.1f * static_cast<float>(k + 1);
    return v;
}

TEST(MonitorTap, ChannelSelectionAndMeterHandOff) {
    struct Case {
        const char* name;
        int channels;
        MonitorTapSettings settings;
        int leftChannel;  // -1: expected silent
        int rightChannel;
        float previewGain;
    };
    const Case cases[] = {
        {"first two channels", 4, {1.0f, 1, 0, 3, 2, 2.0f}, 0, 1, 0.0f},
        {"map dialog open takes its entries and gain", 4, {1.0f, 1, 1, 2, 3, 2.0f}, 2, 3, 2.0f},
        {"mono source: right is absent", 1, {1.0f, 1, 0, 0, 1, 1.0f}, 0, -1, 0.0f},
        {"index equal to the count is absent", 4, {1.0f, 1, 1, 4, 1, 1.0f}, -1, 1, 1.0f},
        {"index beyond the count is absent too", 2, {1.0f, 1, 1, 9, -3, 1.0f}, -1, -1, 1.0f},
    };
    for (const auto& c : cases) {
        auto data = FourChannels();
        float* seenLeft = nullptr;
        float* seenRight = nullptr;
        float seenGain = -1;
        MonitorMeterFn meter = [&](float* l, float* r, int samples, float gain) {
            EXPECT_EQ(samples, 3);
            seenLeft = l;
            seenRight = r;
            seenGain = gain;
            return 0.5f;  // the meter's scale is the one the factor uses
        };
        std::vector<int16_t> scratch;
        MonitorTap(c.settings, {data.data(), c.channels, 3, 3}, meter, nullptr, scratch);
        const float factor = MonitorFactor(1.0f, 0.5f, 1);
        auto expect = [&](int channel, float* seen, int16_t got) {
            if (channel < 0) {
                EXPECT_EQ(seen, nullptr) << c.name;
                EXPECT_EQ(got, 0) << c.name;
            } else {
                EXPECT_EQ(seen, data.data() + channel * 3) << c.name;
                EXPECT_EQ(got,
                          static_cast<int16_t>(factor * 0.1f * static_cast<float>(channel + 1)))
                    << c.name;
            }
        };
        expect(c.leftChannel, seenLeft, scratch[4]);  // sample 2, left
        expect(c.rightChannel, seenRight, scratch[5]);
        EXPECT_EQ(seenGain, c.previewGain) << c.name;
    }
}

TEST(MonitorTap, MuteStillQueuesSilenceAtTheNormalRate) {
    MonitorQueue queue;
    FakeOutput out;
    queue.Attach(&out);
    std::vector<float> planes(2 * 1024, 0.5f);
    std::vector<int16_t> scratch;
    MonitorTapSettings mute;
    mute.monitorLevel = 0.0f;
    for (int i = 0; i < 4; ++i)
        MonitorTap(mute, {planes.data(), 2, 1024, 1024}, nullptr, &queue, scratch);
    EXPECT_EQ(out.writes, 4);  // one 4096-byte buffer per 1024-sample block, as at Full
    EXPECT_EQ(out.written, std::vector<uint8_t>(4 * kMonitorBufferBytes, 0));
}

}  // namespace
}  // namespace velmor
