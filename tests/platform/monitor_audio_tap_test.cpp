// The engine's audio tap reads the record's monitor settings and the frame's plane stride.
#include <gtest/gtest.h>

#include <memory>

#include "platform/monitor_audio_tap.h"

namespace velmor {
namespace {

// What one tap queued, as the device would take it.
struct Recorder {
    explicit Recorder(MonitorQueue& q) : queue(q) { queue.Open(); }
    void Take() {
        std::vector<uint8_t> bytes(queue.Capacity());
        bytes.resize(queue.Read(bytes.data(), bytes.size()));
        heard.assign(reinterpret_cast<const int16_t*>(bytes.data()),
                     reinterpret_cast<const int16_t*>(bytes.data() + bytes.size()));
    }
    MonitorQueue& queue;
    std::vector<int16_t> heard;
};

TEST(MonitorAudioTap, TakesPlanesByStrideAndTheMapDialogChannels) {
    auto record = std::make_unique<RelayRecord>();
    MonitorQueue queue;
    Recorder out(queue);
    float seenGain = -1;
    MonitorAudioTap tap(queue, [&](float*, float*, int, float gain) {
        seenGain = gain;
        return kMeterScaleEbu;
    });

    // Three channels of 1024 samples, planes 1100 floats apart; channel k holds 0.1 * (k + 1).
    const int samples = 1024, stride = 1100;
    std::vector<float> data(3 * stride, 9.0f);  // the padding must never be heard
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < samples; ++j)
            data[static_cast<size_t>(k * stride + j)] = 0.1f * static_cast<float>(k + 1);
    NDIlib_audio_frame_v2_t frame{};
    frame.sample_rate = 48000;
    frame.no_channels = 3;
    frame.no_samples = samples;
    frame.p_data = data.data();
    frame.channel_stride_in_bytes = stride * 4;
    const float f = MonitorFactor(1.0f, kMeterScaleEbu, 1);
    auto level = [&](int k) { return static_cast<int16_t>(f * 0.1f * static_cast<float>(k + 1)); };

    tap.MonitorTap(*record, frame);
    out.Take();
    ASSERT_EQ(out.heard.size(), 2u * samples);
    EXPECT_EQ(out.heard[2 * 1023], level(0));
    EXPECT_EQ(out.heard[2 * 1023 + 1], level(1));
    EXPECT_EQ(seenGain, 0.0f);

    record->mapDialogOpen = 1;
    record->audioMapper.mapperMap[0] = 2;
    record->audioMapper.mapperMap[1] = 3;  // equal to the channel count: absent
    record->audioMapper.mapperGain = 2.0;
    tap.MonitorTap(*record, frame);
    out.Take();
    EXPECT_EQ(out.heard[0], level(2));
    EXPECT_EQ(out.heard[1], 0);
    EXPECT_EQ(seenGain, 2.0f);

    record->mapDialogOpen = 0;
    frame.channel_stride_in_bytes = 1000 * 4;  // planes would overlap: play silence
    tap.MonitorTap(*record, frame);
    out.Take();
    EXPECT_EQ(out.heard, std::vector<int16_t>(2 * samples, 0));

    // A block longer than any frame Velmor takes is not played (nor its scratch buffer grown).
    std::vector<float> huge(2 * 100000, 0.5f);
    NDIlib_audio_frame_v2_t tooLong = frame;
    tooLong.no_channels = 2;
    tooLong.no_samples = 100000;
    tooLong.channel_stride_in_bytes = 100000 * 4;
    tooLong.p_data = huge.data();
    out.heard.clear();
    seenGain = -1;
    tap.MonitorTap(*record, tooLong);
    out.Take();
    EXPECT_TRUE(out.heard.empty());
    EXPECT_EQ(seenGain, -1) << "not metered either";
}

}  // namespace
}  // namespace velmor
