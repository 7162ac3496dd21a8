#include <gtest/gtest.h>

#include <cstring>

#include "engine_fixture.h"

namespace velmor::testing {
namespace {

const NDIlib_video_frame_v2_t kUyvy = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY);
const NDIlib_video_frame_v2_t kBgra = VideoFormat(64, 36, NDIlib_FourCC_video_type_BGRA);

std::vector<std::vector<uint8_t>> SentData(FakeNdi& ndi, void* sender) {
    std::lock_guard lock(ndi.mutex);
    std::vector<std::vector<uint8_t>> out;
    for (const auto& v : ndi.video) {
        if (v.sender == sender) out.push_back(v.data);
    }
    return out;
}

TEST_F(EngineTest, PassthroughIsBitExactAfterThreeSkippedFrames) {
    for (const auto& format : {kUyvy, kBgra}) {
        QueueLeadIn(format);
        ASSERT_TRUE(Connect());
        void* main = record.mainSender;
        for (int i = 0; i < 5; ++i)
            ndi.QueueVideo(format, Pattern(format, i));
        ASSERT_TRUE(Drain());
        const auto sent = SentData(ndi, main);
        ASSERT_EQ(sent.size(), 5u) << "the three frames after the probe are not sent";
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(sent[i], Pattern(format, i)) << i;
        engine->Disconnect();
        engine->StopAndWait();
    }
}

TEST_F(EngineTest, FreezeSendsOneMoreFrameThenNothingUntilReleased) {
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    void* main = record.mainSender;
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 1));
    ASSERT_TRUE(Drain());
    engine->Freeze();
    EXPECT_EQ(record.freezeState.state(), FreezeState::Requested);
    for (int i = 2; i < 6; ++i)
        ndi.QueueVideo(kUyvy, Pattern(kUyvy, i));
    ASSERT_TRUE(Drain());
    auto sent = SentData(ndi, main);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], Pattern(kUyvy, 2));
    EXPECT_EQ(record.freezeState.state(), FreezeState::Held);

    // A grab during the hold writes the held picture once.
    record.grabRequest = 1;
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 6));
    ASSERT_TRUE(Drain());
    record.grabRequest = 1;
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 7));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(bridge.grabs.load(), 1);
    const RecordingBridge::GrabbedPicture held = bridge.LastGrab();
    EXPECT_EQ(held.width, 64);
    EXPECT_EQ(held.kind, kPixelUYVY);
    EXPECT_EQ(held.pixels, Pattern(kUyvy, 2));

    engine->Freeze();  // release
    EXPECT_TRUE(record.freezeState.live());
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 8));
    ASSERT_TRUE(Drain());
    sent = SentData(ndi, main);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2], Pattern(kUyvy, 8));
}

TEST_F(EngineTest, GrabRequestReachesTheWindowOnce) {
    QueueLeadIn(kBgra);
    ASSERT_TRUE(Connect());
    engine->RequestGrab();
    for (int i = 0; i < 3; ++i)
        ndi.QueueVideo(kBgra, Pattern(kBgra, i));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(bridge.grabs.load(), 1);
    EXPECT_EQ(record.grabRequest, 0);
    EXPECT_EQ(bridge.LastGrab().kind, kPixelBGRA);
    EXPECT_TRUE(bridge.Saw("grab started")) << "amber while the grab is written";
}

TEST_F(EngineTest, FreezeNeedsAConnection) {
    engine->Freeze();
    EXPECT_TRUE(record.freezeState.live());
}

TEST_F(EngineTest, KeyFillSplitOnBgra) {
    record.keyFillMenuChecked = 1;
    QueueLeadIn(kBgra);
    ASSERT_TRUE(Connect());
    ASSERT_EQ(record.keyFillSplit, 1);
    void* main = record.mainSender;
    void* key = record.keySender;
    auto picture = Pattern(kBgra, 0);
    for (size_t p = 0; p < picture.size() / 4; ++p)
        picture[p * 4 + 3] = (p % 2) ? 255 : 0;
    ndi.QueueVideo(kBgra, picture);
    ASSERT_TRUE(Drain());
    std::lock_guard lock(ndi.mutex);
    const SentVideo* mainFrame = nullptr;
    const SentVideo* keyFrame = nullptr;
    for (const auto& v : ndi.video) {
        if (v.sender == main) mainFrame = &v;
        if (v.sender == key) keyFrame = &v;
    }
    ASSERT_TRUE(mainFrame && keyFrame);
    EXPECT_EQ(mainFrame->frame.FourCC, NDIlib_FourCC_video_type_BGRX);
    EXPECT_EQ(mainFrame->data, picture);
    EXPECT_EQ(keyFrame->frame.FourCC, NDIlib_FourCC_video_type_UYVY);
    EXPECT_EQ(keyFrame->frame.xres, 64);
    EXPECT_EQ(keyFrame->frame.line_stride_in_bytes, 128);
    for (int p = 0; p < 64 * 36; ++p) {
        ASSERT_EQ(keyFrame->data[2 * p], 0x80);
        ASSERT_EQ(keyFrame->data[2 * p + 1], (p % 2) ? 235 : 16) << p;
    }
}

TEST_F(EngineTest, KeyFillSplitSwitchesItselfOffOnUyvy) {
    record.keyFillMenuChecked = 1;
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 0));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.keyFillSplit, 0);
    EXPECT_TRUE(bridge.Saw("keyfill-label off"));
    EXPECT_EQ(ndi.VideoSentTo(record.keySender), 0u);
    EXPECT_EQ(SentData(ndi, record.mainSender).back(), Pattern(kUyvy, 0))
        << "the main output carries on";
}

TEST_F(EngineTest, TallyEchoAndUpstreamTally) {
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    struct Case {
        const char* text;
        TallyState state;
    };
    const Case cases[] = {
        {"<ndi_tally_echo on_program=\"true\" on_preview=\"false\"/>", TallyState::Program},
        {"<ndi_tally_echo on_program=\"false\" on_preview=\"true\"/>", TallyState::Preview},
        {"<ndi_tally_echo on_program=\"false\" on_preview=\"false\"/>", TallyState::None},
        {"<ndi_tally_echo on_program=\"true\" on_preview=\"true\"/>", TallyState::Program},
        {"<other_metadata/>", TallyState::Program},  // leaves the state alone
    };
    for (const Case& c : cases) {
        ndi.QueueMetadata(c.text);
        ASSERT_TRUE(ndi.WaitFor([&] {
            std::lock_guard lock(ndi.mutex);
            return ndi.sentMetadata.size() > 0 && ndi.sentMetadata.back() == c.text;
        }));
        ASSERT_TRUE(ndi.WaitFor([&] { return ndi.metadataFreed.load() >= 1; }));
        EXPECT_TRUE(ndi.WaitFor([&] { return record.preview.tallyState == c.state; })) << c.text;
    }
    // Tally from the output's receivers goes upstream and shows in the preview.
    ndi.SetTally(false, true);
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 0));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.preview.tallyState, TallyState::Preview);
    std::lock_guard lock(ndi.mutex);
    ASSERT_FALSE(ndi.tallySetOnReceiver.empty());
    EXPECT_FALSE(ndi.tallySetOnReceiver.back().on_program);
    EXPECT_TRUE(ndi.tallySetOnReceiver.back().on_preview);
}

TEST_F(EngineTest, RateChangeKeepsTheOutputAndStopsTheAudioDelay) {
    QueueLeadIn(kUyvy);  // 25 fps
    ASSERT_TRUE(Connect());
    record.audioDelayOn = 1;
    record.audioDelayFrames = 3;
    const auto ntsc = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY, 30000, 1001);
    ndi.QueueVideo(ntsc, Pattern(ntsc, 0));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.frameRateMismatch, 1);
    EXPECT_FLOAT_EQ(record.outputFormat.rate(), 25.0f);
    EXPECT_EQ(record.ebuMode, 1);
    EXPECT_EQ(record.audioDelayOn, 0);
    EXPECT_EQ(record.audioDelayFrames, 0);
    EXPECT_TRUE(bridge.Saw("video 64x36 29.97 progressive UYVY"));
    EXPECT_TRUE(bridge.Saw("audio delay off"));
    // Back to 25: set up again.
    ndi.QueueVideo(kUyvy, Pattern(kUyvy, 1));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.frameRateMismatch, 0);
    EXPECT_FLOAT_EQ(record.outputFormat.rate(), 25.0f);
}

TEST_F(EngineTest, SizeChangeSetsUpTheOutputAgain) {
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    record.meterLink.meterChangeFlags = 0;
    const auto larger = VideoFormat(128, 72, NDIlib_FourCC_video_type_UYVY);
    ndi.QueueVideo(larger, Pattern(larger, 0));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.outputFormat.width(), 128);
    EXPECT_EQ(record.outputFormat.height(), 72);
    EXPECT_NE(record.meterLink.meterChangeFlags & kMeterChangePicture, 0)
        << "the meter is placed again once it is sized for the new frames";
    EXPECT_EQ(SentData(ndi, record.mainSender).back(), Pattern(larger, 0));
}

TEST_F(EngineTest, RotationAndFlipReachTheOutput) {
    QueueLeadIn(kBgra);
    ASSERT_TRUE(Connect());
    record.rotationMode = 1;
    ndi.QueueVideo(kBgra, Pattern(kBgra, 0));
    ASSERT_TRUE(Drain());
    {
        std::lock_guard lock(ndi.mutex);
        const SentVideo& v = ndi.video.back();
        EXPECT_EQ(v.frame.xres, 36);
        EXPECT_EQ(v.frame.yres, 64);
        EXPECT_EQ(v.frame.line_stride_in_bytes, 36 * 4);
        EXPECT_FLOAT_EQ(v.frame.picture_aspect_ratio, 9.0f / 16.0f);
    }
    record.rotationMode = 5;  // V-Flip: the last line comes first
    const auto picture = Pattern(kBgra, 1);
    ndi.QueueVideo(kBgra, picture);
    ASSERT_TRUE(Drain());
    const auto sent = SentData(ndi, record.mainSender).back();
    EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + 256, picture.end() - 256));
}

TEST_F(EngineTest, ReceiverIsDestroyedOnceWhicheverThreadEndsLast) {
    for (bool videoFirst : {true, false}) {
        QueueLeadIn(kUyvy);
        ASSERT_TRUE(Connect());
        const int before = ndi.receiversDestroyed;
        (videoFirst ? record.videoThreadRun : record.audioThreadRun) = 0;
        ASSERT_TRUE(ndi.WaitFor(
            [&] { return (videoFirst ? record.videoThreadAlive : record.audioThreadAlive) == 0; }));
        EXPECT_EQ(ndi.receiversDestroyed.load(), before) << "the other thread still captures";
        (videoFirst ? record.audioThreadRun : record.videoThreadRun) = 0;
        engine->StopAndWait();
        EXPECT_EQ(ndi.receiversDestroyed.load(), before + 1);
        EXPECT_EQ(record.mainReceiver.load(), nullptr);
    }
    // Both at once, many times.
    for (int i = 0; i < 20; ++i) {
        ndi.QueueVideo(kUyvy, Pattern(kUyvy, 0));
        ndi.QueueAudio(AudioFormat(2, 64), Ramp(2, 64, 0));
        ASSERT_TRUE(Connect());
        engine->Disconnect();
        engine->StopAndWait();
    }
    EXPECT_EQ(ndi.receiversDestroyed.load(), 22);
    EXPECT_TRUE(bridge.Saw("video ended"));
    EXPECT_TRUE(bridge.Saw("audio ended"));
}

TEST_F(EngineTest, DisconnectResetsOverlayFreezeMapAndDelay) {
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    engine->Freeze();
    record.overlaySetup.overlayOn = 1;
    record.mapActive = 2;
    record.audioDelayFrames = 4;
    record.audioDelayOn = 1;
    record.rotationMode = 2;
    engine->Disconnect();
    EXPECT_TRUE(record.freezeState.live());
    EXPECT_EQ(record.overlaySetup.overlayOn, 0);
    EXPECT_EQ(record.mapActive, 0);
    EXPECT_EQ(record.audioDelayFrames, 0);
    EXPECT_EQ(record.audioDelayOn, 1) << "Disconnect leaves the delay switch alone";
    EXPECT_EQ(record.rotationMode, 2);
    EXPECT_TRUE(bridge.Saw("delay 0"));
    EXPECT_TRUE(bridge.Saw("time 0"));
}

TEST_F(EngineTest, WatchdogExpiresOnlyAfterAPeriodWithoutFrames) {
    record.frameTick = 5;
    EXPECT_FALSE(engine->WatchdogExpired());
    EXPECT_EQ(record.frameTick, 0);
    EXPECT_TRUE(engine->WatchdogExpired());
    QueueLeadIn(kUyvy);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(Drain());
    EXPECT_FALSE(engine->WatchdogExpired()) << "frames arrived during the period";
}

TEST_F(EngineTest, DelayButtons) {
    for (int i = 0; i < 20; ++i)
        engine->DelayPlus();
    EXPECT_EQ(record.audioDelayFrames, 15);
    EXPECT_EQ(record.settingsRecord.delayFramesSetting, 15);
    for (int i = 0; i < 20; ++i)
        engine->DelayMinus();
    EXPECT_EQ(record.audioDelayFrames, 0);
    record.frameRateMismatch = 1;
    engine->DelayPlus();
    engine->ToggleAudioDelay();
    EXPECT_EQ(record.audioDelayFrames, 0);
    EXPECT_EQ(record.audioDelayOn, 0);
}

}  // namespace
}  // namespace velmor::testing

namespace velmor::testing {
namespace {

TEST_F(EngineTest, MeterOverlayOnTheOutputAndTheMeterSource) {
    const auto format = VideoFormat(320, 180, NDIlib_FourCC_video_type_BGRA);
    PrepareMeter(320, 180);
    record.meterSettings.meterOnMainOutput = 1;
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());
    void* ppm = record.ppmSender;
    ASSERT_NE(ppm, nullptr);
    StartMeter();
    SetMeterChangeFlags(record, kMeterChangePicture);
    const auto picture = Pattern(format, 3);
    ndi.QueueVideo(format, picture);
    ASSERT_TRUE(Drain());
    std::lock_guard lock(ndi.mutex);
    const SentVideo* main = nullptr;
    const SentVideo* meterFrame = nullptr;
    for (const auto& v : ndi.video) {
        if (v.sender == record.mainSender.load()) main = &v;
        if (v.sender == ppm) meterFrame = &v;
    }
    ASSERT_TRUE(main && meterFrame);
    EXPECT_NE(main->data, picture) << "the meter is drawn onto the output";
    EXPECT_EQ(meterFrame->frame.FourCC, NDIlib_FourCC_video_type_BGRA);
    EXPECT_EQ(meterFrame->frame.xres, 320);
    size_t drawn = 0;
    for (size_t i = 3; i < meterFrame->data.size(); i += 4)
        drawn += meterFrame->data[i] != 0;
    EXPECT_GT(drawn, 0u) << "the meter source carries the meter picture";
    EXPECT_LT(drawn, 320u * 180u) << "and transparency around it";
    EXPECT_EQ(record.meterLink.meterChangeFlags & kMeterChangePicture, 0);
}

}  // namespace
}  // namespace velmor::testing

#include "relay/text_box.h"
#include "support/block_rasteriser.h"

namespace velmor::testing {
namespace {

TEST_F(EngineTest, TextBoxOverlayIsBlendedNearTheBottom) {
    const auto format = VideoFormat(320, 180, NDIlib_FourCC_video_type_BGRA);
    BlockRasteriser rasteriser;
    EXPECT_FALSE(PublishTextBox(record.overlaySetup, "x", 0, 0, rasteriser)) << "no frame size yet";
    ASSERT_TRUE(PublishTextBox(record.overlaySetup, "On air", 320, 180, rasteriser));
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());
    record.overlaySetup.overlayOn = 1;
    std::vector<uint8_t> grey(format.line_stride_in_bytes * 180, 128);
    ndi.QueueVideo(format, grey);
    ASSERT_TRUE(Drain());
    std::lock_guard lock(ndi.mutex);
    const std::vector<uint8_t>& out = ndi.video.back().data;
    auto pixel = [&](int x, int y) { return out[(static_cast<size_t>(y) * 320 + x) * 4]; };
    // The band is 280 x 30, centred across, its bottom 15 lines above the frame's bottom.
    EXPECT_EQ(pixel(5, 5), 128) << "outside the band the picture is untouched";
    EXPECT_EQ(pixel(160, 150), 255) << "opaque white text";
    EXPECT_EQ(pixel(30, 140), 128 * (255 - 175) / 255) << "translucent black band";
    EXPECT_EQ(pixel(160, 170), 128) << "below the band";
}

}  // namespace
}  // namespace velmor::testing
