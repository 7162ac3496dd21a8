// The engine against hostile sources and against the output rules that a real NDI runtime holds
// it to: frames beyond the limits, padded audio planes, the key's timecode, the asynchronous meter
// buffer, the AirSend choice without an AirSend output, the audio thread's priority and the grab
// hand-over.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <mutex>
#include <thread>

#include "engine/frame_limits.h"
#include "engine/thread_priority.h"
#include "engine_fixture.h"

namespace velmor::testing {
namespace {

const NDIlib_video_frame_v2_t kUyvy = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY);

TEST(FrameLimits, SizesStridesAndRates) {
    struct VideoCase {
        int w, h, stride;
        bool usable;
    };
    const VideoCase video[] = {
        {1920, 1080, 3840, true}, {7680, 4320, 15360, true}, {8192, 4320, 16384, true},
        {1920, 1080, 4096, true},  // padded rows
        {8193, 16, 16386, false}, {16, 8193, 32, false},     {8192, 8192, 16384, false},
        {0, 1080, 0, false},      {1920, 1080, 3838, false}, {1920, 1080, 1 << 30, false},
    };
    std::vector<uint8_t> pixel(4);
    for (const VideoCase& c : video) {
        NDIlib_video_frame_v2_t f = VideoFormat(c.w, c.h, NDIlib_FourCC_video_type_UYVY);
        f.line_stride_in_bytes = c.stride;
        f.p_data = pixel.data();
        EXPECT_EQ(VideoFrameProblem(f).empty(), c.usable) << c.w << "x" << c.h << " " << c.stride;
    }
    NDIlib_video_frame_v2_t noData = kUyvy;
    EXPECT_FALSE(VideoFrameProblem(noData).empty());

    struct AudioCase {
        int channels, samples, rate, stride;
        bool usable;
    };
    const AudioCase audio[] = {
        {2, 1920, 48000, 7680, true},   {64, 48000, 192000, 192000, true},
        {2, 1920, 48000, 8000, true},  // padded planes
        {65, 1920, 48000, 7680, false}, {2, 48001, 48000, 192004, false},
        {2, 1920, 192001, 7680, false}, {2, 1920, 48000, 7676, false},
        {2, 1920, 48000, 7682, false},  {0, 1920, 48000, 7680, false},
        {2, 0, 48000, 0, false},
    };
    float sample = 0;
    for (const AudioCase& c : audio) {
        NDIlib_audio_frame_v2_t f = AudioFormat(c.channels, c.samples, c.rate);
        f.channel_stride_in_bytes = c.stride;
        f.p_data = &sample;
        EXPECT_EQ(AudioFrameProblem(f).empty(), c.usable)
            << c.channels << " ch, " << c.samples << ", " << c.rate << " Hz, " << c.stride;
    }

    // A vanishingly small rate does not overflow the 32-bit frame duration.
    EXPECT_EQ(FrameDurationOf(1.0f / 2147483647.0f), INT32_MAX);
    EXPECT_EQ(FrameDurationOf(25.0f), 400000);
    EXPECT_EQ(FrameDurationOf(std::nanf("")), 0);
}

TEST_F(EngineTest, FramesBeyondTheLimitsAreSkippedCountedAndShownOnce) {
    // The probe passes over an oversized first audio frame and takes the next one.
    ndi.QueueAudio(AudioFormat(2, 100000), std::vector<float>(200000, 0.5f));
    ndi.QueueAudio(AudioFormat(2, 480), Ramp(2, 480, 0));
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    EXPECT_EQ(engine->audioRing().frames[0].no_samples, 480);
    EXPECT_EQ(engine->audioRing().buffers[0].size(), 2u * 480);

    // Video: too large, a row too short for its width; then a good frame.
    NDIlib_video_frame_v2_t huge = VideoFormat(8192, 8192, NDIlib_FourCC_video_type_UYVY);
    ndi.QueueVideo(huge, std::vector<uint8_t>(16));  // the size is all the engine may look at
    NDIlib_video_frame_v2_t shortRows = kUyvy;
    shortRows.line_stride_in_bytes = 64;
    ndi.QueueVideo(shortRows, std::vector<uint8_t>(64 * 36));
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 9));
    ASSERT_TRUE(ndi.WaitForVideoSent(1));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.skippedVideoFrames, 2);
    EXPECT_EQ(record.outputFormat.width(), 64) << "a skipped frame sets nothing up";
    {
        std::lock_guard lock(ndi.mutex);
        ASSERT_EQ(ndi.video.size(), 1u);
        EXPECT_EQ(ndi.video[0].data, Pattern(kUyvy, 9));
    }

    // Audio: too many samples, too many channels, planes overlapping; then a good frame.
    ndi.QueueAudio(AudioFormat(2, 60000), std::vector<float>(120000, 0.5f));
    ndi.QueueAudio(AudioFormat(65, 16), std::vector<float>(65 * 16, 0.5f));
    NDIlib_audio_frame_v2_t overlapping = AudioFormat(2, 480);
    overlapping.channel_stride_in_bytes = 400;
    ndi.QueueAudio(overlapping, Ramp(2, 480, 0));
    ndi.QueueAudio(AudioFormat(2, 480), Ramp(2, 480, 7));
    ASSERT_TRUE(ndi.WaitFor([&] {
        std::lock_guard lock(ndi.mutex);
        return !ndi.audio.empty();
    }));
    ASSERT_TRUE(ndi.WaitFor([&] { return ndi.audioFreed.load() >= 5; }));
    EXPECT_EQ(record.skippedAudioFrames, 4) << "three here and one during the probe";
    {
        std::lock_guard lock(ndi.mutex);
        ASSERT_EQ(ndi.audio.size(), 1u);
        EXPECT_EQ(ndi.audio[0].data, Ramp(2, 480, 7));
    }
    int videoCaptions = 0, audioCaptions = 0;
    for (const std::string& call : bridge.Calls()) {
        videoCaptions += call.rfind("video skipped ", 0) == 0;
        audioCaptions += call.rfind("audio skipped ", 0) == 0;
    }
    EXPECT_EQ(videoCaptions, 1);
    EXPECT_EQ(audioCaptions, 1);
    EXPECT_TRUE(bridge.Saw("video skipped picture size 8192 x 8192"));
    EXPECT_TRUE(bridge.Saw("audio skipped 100000 samples"));
}

class PaddedPlanes : public EngineTest {};

TEST_F(PaddedPlanes, MapReadsInputPlanesByTheChannelStride) {
    constexpr int kSamples = 4, kPadded = 7;
    engine->PrepareAudioRing(AudioFormat(2, kSamples));
    record.channelMap[0] = 1;
    record.channelMap[1] = 0;
    std::vector<float> data(2 * kPadded, 99.0f);  // the padding must never be copied
    for (int j = 0; j < kSamples; ++j) {
        data[j] = 1.0f + j;
        data[kPadded + j] = 10.0f + j;
    }
    NDIlib_audio_frame_v2_t frame = AudioFormat(2, kSamples);
    frame.channel_stride_in_bytes = kPadded * 4;
    frame.p_data = data.data();
    ASSERT_TRUE(engine->RemapAudioFrame(frame));
    const float* out = engine->audioRing().frames[engine->audioRing().write].p_data;
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{10, 11, 12, 13}));
    EXPECT_EQ(std::vector<float>(out + 4, out + 8), (std::vector<float>{1, 2, 3, 4}));

    frame.channel_stride_in_bytes = 3 * 4;  // planes would overlap: a broken frame
    EXPECT_FALSE(engine->RemapAudioFrame(frame));
}

TEST_F(PaddedPlanes, GainNeverProducesNanOrInfinity) {
    engine->PrepareAudioRing(AudioFormat(1, 4));
    std::vector<float> data = {std::nanf(""), 3.0e38f, -3.0e38f, 0.5f};
    NDIlib_audio_frame_v2_t frame = AudioFormat(1, 4);
    frame.p_data = data.data();
    record.audioGain = 10.0;
    ASSERT_TRUE(engine->RemapAudioFrame(frame));
    const float* out = engine->audioRing().frames[engine->audioRing().write].p_data;
    for (int j = 0; j < 4; ++j)
        EXPECT_TRUE(std::isfinite(out[j])) << j;
    EXPECT_EQ(out[3], 5.0f);
}

TEST_F(EngineTest, KeyFramesCarryTheTimecodeOfTheirFill) {
    const auto bgra = VideoFormat(64, 36, NDIlib_FourCC_video_type_BGRA);
    record.keyFillMenuChecked = 1;
    QueueLeadIn(bgra);
    ASSERT_TRUE(Connect());
    // Padded source rows: the key still comes out packed, from the buffer set up for it.
    NDIlib_video_frame_v2_t padded = bgra;
    padded.line_stride_in_bytes = 64 * 4 + 32;
    for (int64_t tc : {int64_t{123456789}, int64_t{987654321}}) {
        padded.timecode = tc;
        ndi.QueueVideo(padded, Pattern(padded, static_cast<int>(tc % 7)));
    }
    ASSERT_TRUE(Drain());
    std::lock_guard lock(ndi.mutex);
    std::vector<int64_t> fill, key;
    for (const auto& v : ndi.video) {
        if (v.sender == record.mainSender.load()) fill.push_back(v.frame.timecode);
        if (v.sender == record.keySender.load()) {
            key.push_back(v.frame.timecode);
            EXPECT_EQ(v.frame.line_stride_in_bytes, 128);
        }
    }
    EXPECT_EQ(fill, (std::vector<int64_t>{123456789, 987654321}));
    EXPECT_EQ(key, fill);
}

TEST_F(EngineTest, MeterBufferIsNotRewrittenWhileTheSenderMayReadIt) {
    const auto format = VideoFormat(320, 180, NDIlib_FourCC_video_type_BGRA);
    PrepareMeter(320, 180);
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());
    void* ppm = record.ppmSender;
    ASSERT_NE(ppm, nullptr);
    StartMeter();
    // The meter moves between every two frames, so each frame's meter picture differs.
    for (int i = 0; i < 6; ++i) {
        std::atomic_ref<int32_t>(record.meterSettings.meterPosV).store(i % 2 ? 0 : 100);
        SetMeterChangeFlags(record, kMeterChangePicture);
        ndi.QueueVideo(format, Pattern(format, i));
        ASSERT_TRUE(Drain());
    }
    engine->StopAndWait();
    engine->CloseOutputs();  // lets go of the last frame
    EXPECT_EQ(ndi.VideoSentTo(ppm), 6u);
    EXPECT_EQ(ndi.asyncBufferRewrites, 0);
}

TEST_F(EngineTest, AirSendChosenWithoutAnAirSendOutputSendsOnNdi) {
    unsetenv("VELMOR_AIRSEND");  // AirSend_Create fails
    record.airSendOutput = 1;
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    EXPECT_EQ(record.airSend.load(), nullptr);
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 5));
    ASSERT_TRUE(ndi.WaitForVideoSent(1));
    std::lock_guard lock(ndi.mutex);
    EXPECT_EQ(ndi.video.back().sender, record.mainSender.load());
    EXPECT_EQ(ndi.video.back().data, Pattern(kUyvy, 5));
}

TEST_F(EngineTest, AudioThreadRunsAtALowerNiceValueWherePermitted) {
    int permitted = 0, base = 0;
    std::thread probe([&] {
        base = ThreadNiceValue();
        permitted = RaiseThreadPriority(1) < base;
    });
    probe.join();
    if (!permitted) GTEST_SKIP() << "this system permits no lower nice value";
    ndi.QueueAudio(AudioFormat(2, 480), Ramp(2, 480, 0));
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    ndi.QueueAudio(AudioFormat(2, 480), Ramp(2, 480, 1));
    ASSERT_TRUE(ndi.WaitFor([&] { return ndi.audioFreed.load() >= 2; }));
    EXPECT_LT(ndi.audioCaptureNice.load(), base);
}

// A grab sink that the test opens and closes.
class FakeGrabSink : public IGrabSink {
public:
    void SetNaming(const GrabNaming& naming, int instanceIndex) override {
        std::lock_guard lock(mutex);
        baseName = naming.baseName;
        instance = instanceIndex;
    }
    bool Ready() override { return ready; }
    void Submit(ImageBuffer& picture) override {
        std::lock_guard lock(mutex);
        pictures.emplace_back(picture.pixels(), picture.pixels() + picture.byteSize);
        names.push_back(baseName);
    }
    std::atomic<bool> ready{true};
    std::mutex mutex;
    std::string baseName;
    int instance = -1;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<std::string> names;
};

TEST_F(EngineTest, GrabsGoToTheSinkAndWaitWhileItIsBusy) {
    FakeGrabSink sink;
    engine->SetGrabSink(&sink);
    record.instanceIndex = 2;
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());

    record.grabSetup.baseName = "First";
    engine->RequestGrab();
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 1));
    ASSERT_TRUE(Drain());
    sink.ready = false;
    record.grabSetup.baseName = "Second";
    engine->RequestGrab();
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 2));  // the sink is busy: the request waits
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.grabRequest, 1);
    sink.ready = true;
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 3));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.grabRequest, 0);

    std::lock_guard lock(sink.mutex);
    ASSERT_EQ(sink.pictures.size(), 2u);
    EXPECT_EQ(sink.pictures[0], Pattern(kUyvy, 1));
    EXPECT_EQ(sink.pictures[1], Pattern(kUyvy, 3));
    EXPECT_EQ(sink.names, (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(sink.instance, 2);
    EXPECT_EQ(bridge.grabs, 0) << "the window no longer writes while the video thread waits";
    EXPECT_EQ(ndi.VideoSentTo(record.mainSender), 3u) << "every frame still went out";
}

}  // namespace
}  // namespace velmor::testing
