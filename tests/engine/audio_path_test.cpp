#include <gtest/gtest.h>

#include <cmath>

#include "engine_fixture.h"

namespace velmor::testing {
namespace {

constexpr int kSamples = 4;

struct RemapCase {
    const char* label;
    std::vector<int8_t> map;
    int monoMix;
    double gain;
    std::vector<std::vector<float>> expected;  // per output channel
};

std::vector<float> Plane(int channel, float scale = 1.0f) {
    std::vector<float> p(kSamples);
    for (int j = 0; j < kSamples; ++j)
        p[j] = (channel * 1000.0f + j) * scale;
    return p;
}

std::vector<float> Mix(float (*f)(float a, float b)) {
    std::vector<float> p(kSamples);
    for (int j = 0; j < kSamples; ++j)
        p[j] = f(0.0f * 1000 + j, 1000.0f + j);
    return p;
}

std::vector<float> Gained(int channel, double gain) {
    std::vector<float> p(kSamples);
    for (int j = 0; j < kSamples; ++j)
        p[j] = static_cast<float>(static_cast<double>(channel * 1000.0f + j) * gain);
    return p;
}

class RemapTest : public EngineTest {
protected:
    std::vector<float> OutputPlane(int i) {
        const AudioRing& ring = engine->audioRing();
        const NDIlib_audio_frame_v2_t& slot = ring.frames[ring.write];
        return std::vector<float>(slot.p_data + i * slot.no_samples,
                                  slot.p_data + (i + 1) * slot.no_samples);
    }
};

TEST_F(RemapTest, MapMonoMixAndGain) {
    const double plus6 = std::pow(10.0, 6.0 / 20.0);
    const std::vector<float> zeros(kSamples, 0.0f);
    const RemapCase cases[] = {
        {"identity", {0, 1}, 0, 0.0, {Plane(0), Plane(1)}},
        {"swap", {1, 0}, 0, 0.0, {Plane(1), Plane(0)}},
        {"mute output 2", {0, 2}, 0, 0.0, {Plane(0), zeros}},
        {"entries naming no input are silent", {5, -1}, 0, 0.0, {zeros, zeros}},
        {"mono mix halves the sum",
         {0, 1},
         1,
         0.0,
         {Mix([](float a, float b) { return (a + b) * 0.5f; }),
          Mix([](float a, float b) { return (a + b) * 0.5f; })}},
        {"mono mix of one input", {0, 2}, 1, 0.0, {Plane(0, 0.5f), Plane(0, 0.5f)}},
        {"mono mix of nothing", {2, 2}, 1, 0.0, {zeros, zeros}},
        {"+6 dB", {0, 1}, 0, plus6, {Gained(0, plus6), Gained(1, plus6)}},
        {"gain 1.0 is exact", {1, 0}, 0, 1.0, {Plane(1), Plane(0)}},
    };
    const auto format = AudioFormat(2, kSamples);
    engine->PrepareAudioRing(format);
    const auto input = Ramp(2, kSamples, 0.0f);
    for (const RemapCase& c : cases) {
        record.channelMap[0] = c.map[0];
        record.channelMap[1] = c.map[1];
        record.monoMix = c.monoMix;
        record.audioGain = c.gain;
        NDIlib_audio_frame_v2_t frame = format;
        frame.p_data = const_cast<float*>(input.data());
        frame.timecode = 1234;
        ASSERT_TRUE(engine->RemapAudioFrame(frame)) << c.label;
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(OutputPlane(i), c.expected[i]) << c.label << " output " << i;
        EXPECT_EQ(engine->audioRing().frames[engine->audioRing().write].timecode, 1234);
    }
}

TEST_F(RemapTest, ShortOrWiderFramesAreNeverReadPastTheirEnd) {
    engine->PrepareAudioRing(AudioFormat(2, kSamples));
    // A later frame with two samples per channel: the rest of each output is silence.
    auto shortData = Ramp(2, 2, 0.0f);
    NDIlib_audio_frame_v2_t shortFrame = AudioFormat(2, 2);
    shortFrame.p_data = shortData.data();
    ASSERT_TRUE(engine->RemapAudioFrame(shortFrame));
    EXPECT_EQ(OutputPlane(1), (std::vector<float>{1000.0f, 1001.0f, 0.0f, 0.0f}));
    // Eight channels into two-channel slots: only two are processed.
    auto wideData = Ramp(8, kSamples, 0.0f);
    NDIlib_audio_frame_v2_t wide = AudioFormat(8, kSamples);
    wide.p_data = wideData.data();
    record.channelMap[1] = 7;  // names a channel beyond the processed two: silence
    ASSERT_TRUE(engine->RemapAudioFrame(wide));
    EXPECT_EQ(OutputPlane(1), std::vector<float>(kSamples, 0.0f));
}

TEST_F(RemapTest, MonoMixIntoOneChannelWritesOnePlane) {
    engine->PrepareAudioRing(AudioFormat(1, kSamples));
    auto data = Ramp(1, kSamples, 0.0f);
    NDIlib_audio_frame_v2_t frame = AudioFormat(1, kSamples);
    frame.p_data = data.data();
    record.monoMix = 1;
    ASSERT_TRUE(engine->RemapAudioFrame(frame));
    EXPECT_EQ(OutputPlane(0), Plane(0, 0.5f));
}

TEST_F(RemapTest, SlotWithoutBufferIsNotProcessed) {
    auto data = Ramp(2, kSamples, 0.0f);
    NDIlib_audio_frame_v2_t frame = AudioFormat(2, kSamples);
    frame.p_data = data.data();
    EXPECT_FALSE(engine->RemapAudioFrame(frame));
}

// Runs a connection with `frames` audio frames after the probe's; returns what was sent.
std::vector<SentAudio> RunAudio(FakeNdi& ndi, Engine& engine, int channels, int frames) {
    const int freedBefore = ndi.audioFreed;
    for (int k = 0; k <= frames; ++k) {
        NDIlib_audio_frame_v2_t f = AudioFormat(channels, kSamples);
        f.timecode = k;
        ndi.QueueAudio(f, Ramp(channels, kSamples, k * 10.0f));
    }
    EXPECT_TRUE(engine.ConnectTo(NDIlib_source_t{"HOST (Audio)", "127.0.0.1:1"}));
    EXPECT_TRUE(ndi.WaitFor([&] { return ndi.audioFreed.load() >= freedBefore + frames + 1; }));
    engine.Disconnect();
    engine.StopAndWait();
    std::lock_guard lock(ndi.mutex);
    std::vector<SentAudio> sent = std::move(ndi.audio);
    ndi.audio.clear();
    return sent;
}

TEST_F(EngineTest, DelaySendsFrameKMinus3WithFrameKsStamps) {
    record.settingsRecord.delayFramesSetting = 3;
    record.audioDelayFrames = 3;
    record.audioDelayOn = 1;
    const auto sent = RunAudio(ndi, *engine, 2, 8);
    ASSERT_EQ(sent.size(), 8u);
    for (int k = 1; k <= 8; ++k) {
        const SentAudio& a = sent[k - 1];
        EXPECT_EQ(a.frame.timecode, k);
        if (k > 3) {
            EXPECT_EQ(a.data, Ramp(2, kSamples, (k - 3) * 10.0f)) << k;
        } else {
            EXPECT_EQ(a.data, std::vector<float>(2 * kSamples, 0.0f)) << "fresh slots are silent";
        }
    }
}

TEST_F(EngineTest, DelayCountWithoutDelaySwitchSendsTheCurrentFrame) {
    record.audioDelayFrames = 3;
    record.audioDelayOn = 0;
    const auto sent = RunAudio(ndi, *engine, 2, 4);
    ASSERT_EQ(sent.size(), 4u);
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(sent[k - 1].data, Ramp(2, kSamples, k * 10.0f));
}

TEST_F(EngineTest, PassThroughWithoutMapOrDelay) {
    record.channelMap[0] = 1;  // a map that is not active does nothing
    const auto sent = RunAudio(ndi, *engine, 2, 3);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].data, Ramp(2, kSamples, 30.0f));
}

TEST_F(EngineTest, AcceptedMapComesBackOnReconnectWithTheSameChannelCount) {
    // As accepted in the audio map window for a two-channel source.
    record.channelMap[0] = 1;
    record.channelMap[1] = 0;
    record.mapActive = 2;
    record.audioChannelCount = 2;
    record.settingsRecord.mapChannelsSetting = 2;
    auto sent = RunAudio(ndi, *engine, 2, 2);
    ASSERT_EQ(sent.size(), 2u);
    // Output 1 carries input 2 of frame 1 (ramp seed 10).
    EXPECT_EQ(std::vector<float>(sent[0].data.begin(), sent[0].data.begin() + kSamples),
              (std::vector<float>{1010.0f, 1011.0f, 1012.0f, 1013.0f}));
    EXPECT_EQ(record.mapActive, 0) << "Disconnect switches the map off";
    sent = RunAudio(ndi, *engine, 2, 1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data[0], 10.0f + 1000.0f) << "swapped again after reconnecting";
    // A source with another channel count does not bring it back.
    sent = RunAudio(ndi, *engine, 4, 1);
    EXPECT_EQ(record.mapActive, 0);
    EXPECT_EQ(sent[0].data[0], 10.0f);
}

TEST_F(EngineTest, ChannelCountChangeMidStream) {
    record.channelMap[0] = 8;  // "Mute" for an 8-channel source
    record.channelMap[5] = 8;
    NDIlib_audio_frame_v2_t eight = AudioFormat(8, kSamples);
    ndi.QueueAudio(eight, Ramp(8, kSamples, 0));
    ASSERT_TRUE(Connect());
    NDIlib_audio_frame_v2_t two = AudioFormat(2, kSamples);
    ndi.QueueAudio(two, Ramp(2, kSamples, 0));
    ASSERT_TRUE(ndi.WaitFor([&] { return ndi.audioFreed.load() >= 2; }));
    EXPECT_EQ(record.channelMap[0], 0);
    EXPECT_EQ(record.channelMap[5], 5);
    EXPECT_EQ(record.audioMapper.mapperMap[5], 5);
    EXPECT_EQ(record.audioChannelCount, 2);
    EXPECT_TRUE(bridge.Saw("audio 2 channels 48000"));
}

}  // namespace
}  // namespace velmor::testing
