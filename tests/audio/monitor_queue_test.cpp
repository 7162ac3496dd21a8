// The monitor tap: its conversion arithmetic, the planes it takes, and what it queues for the
// sound device (the ring itself: ring/monitor_ring_test.cpp).
#include "audio/monitor_queue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace velmor {
namespace {

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
    queue.Open();
    std::vector<float> planes(2 * 1024, 0.5f);
    std::vector<int16_t> scratch;
    MonitorTapSettings mute;
    mute.monitorLevel = 0.0f;
    for (int i = 0; i < 4; ++i)
        MonitorTap(mute, {planes.data(), 2, 1024, 1024}, nullptr, &queue, scratch);
    std::vector<uint8_t> queued(queue.Capacity());
    queued.resize(queue.Read(queued.data(), queued.size()));
    EXPECT_EQ(queued, std::vector<uint8_t>(4 * 1024 * kMonitorPairBytes, 0))
        << "4 blocks of 1024 pairs, as at Full";
}

TEST(MonitorTap, WithoutADeviceItOnlyMeasures) {
    MonitorQueue queue;  // not opened: no device takes audio
    std::vector<float> planes(2 * 480, 0.5f);
    std::vector<int16_t> scratch;
    int metered = 0;
    MonitorTap(
        {}, {planes.data(), 2, 480, 480},
        [&](float*, float*, int, float) { return ++metered, kMeterScaleEbu; }, &queue, scratch);
    EXPECT_EQ(metered, 1);
    EXPECT_EQ(queue.Queued(), 0u);
    EXPECT_EQ(queue.DroppedBytes(), 0u);
}

}  // namespace
}  // namespace velmor
