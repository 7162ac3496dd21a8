#include <gtest/gtest.h>

#include "engine/metadata_texts.h"
#include "engine_fixture.h"

namespace velmor::testing {
namespace {

const char* kFormatHint =
    "<ndi_format>\n"
    "   <video_format xres=\"1920\" yres=\"1080\" frame_rate_n=\"30000\" frame_rate_d=\"1200\" "
    "aspect_ratio=\"1.77778\" progressive=\"true\"/>\n"
    "   <video_format xres=\"1280\" yres=\"720\" frame_rate_n=\"30000\" frame_rate_d=\"1200\" "
    "aspect_ratio=\"1.77778\" progressive=\"true\"/>\n"
    "   <video_format xres=\"720\" yres=\"576\" frame_rate_n=\"30000\" frame_rate_d=\"1200\" "
    "aspect_ratio=\"1.77778\" progressive=\"true\"/>\n"
    "   <video_format xres=\"720\" yres=\"576\" frame_rate_n=\"30000\" frame_rate_d=\"1200\" "
    "aspect_ratio=\"1.33333\" progressive=\"true\"/>\n"
    "   <audio_format no_channels=\"4\" sample_rate=\"48000\"/>\n"
    "   <audio_format no_channels=\"2\" sample_rate=\"48000\"/>\n"
    "</ndi_format>";
const std::string kGap(14, ' ');
const std::string kReceiverProduct =
    "<ndi_product long_name=\"NDI Receiver-Transmitter.\"" + kGap + "short_name=\"NDI Velmor\"" +
    kGap + "manufacturer=\"Korvolabs\"" + kGap + "version=\"1.0.9.000\"" + kGap +
    "session=\"default\"" + kGap + "model_name=\"S1\"" + kGap + "serial=\"ABCDEFG\"/>";
const std::string kSenderProduct =
    "<ndi_product long_name=\"Korvo Receiver-Transmitter\"" + kGap + "short_name=\"Korvo Velmor\"" +
    kGap + "manufacturer=\"Brelta\"" + kGap + "version=\"1.07\"" + kGap + "session=\"default\"" +
    kGap + "model_name=\"K1\"" + kGap + "serial=\"00001\"/>";

TEST_F(EngineTest, ReceiverAnnouncesFormatHintThenProduct) {
    ndi.QueueVideo(VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY),
                   Pattern(VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY), 0));
    ASSERT_TRUE(Connect());
    std::lock_guard lock(ndi.mutex);
    ASSERT_EQ(ndi.receiverMetadata.size(), 2u);
    EXPECT_EQ(ndi.receiverMetadata[0], kFormatHint);
    EXPECT_EQ(ndi.receiverMetadata[1], kReceiverProduct);
    ASSERT_EQ(ndi.receiversCreated.size(), 1u);
    const NDIlib_recv_create_v3_t& settings = ndi.receiversCreated[0];
    EXPECT_STREQ(settings.source_to_connect_to.p_ndi_name, "HOST (Camera 1)");
    EXPECT_EQ(settings.color_format, NDIlib_recv_color_format_UYVY_BGRA);
    EXPECT_EQ(settings.bandwidth, NDIlib_recv_bandwidth_highest);
    EXPECT_TRUE(settings.allow_video_fields);
    EXPECT_STREQ(record.sourceName, "HOST (Camera 1)");
    EXPECT_TRUE(bridge.Saw("source connected 127.0.0.1:5961 HOST (Camera 1)"));
}

struct NamingCase {
    int instanceIndex;
    bool commsReturn;
    std::vector<std::string> names;
};

class SenderNaming : public EngineTest, public ::testing::WithParamInterface<NamingCase> {};

TEST_P(SenderNaming, NamesGroupsClockingAndProductMetadata) {
    const NamingCase& c = GetParam();
    record.instanceIndex = c.instanceIndex;
    record.commsReturn = c.commsReturn;
    record.keyFillMenuChecked = 1;
    record.meterSettings.meterSeparateOutput = 1;
    record.groupSetup.outputPublicCheck = 1;
    record.groupSetup.BuildSendGroups();
    const auto format = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY);
    ndi.QueueVideo(format, Pattern(format, 0));
    ASSERT_TRUE(Connect());
    std::lock_guard lock(ndi.mutex);
    ASSERT_EQ(ndi.senders.size(), c.names.size());
    for (size_t i = 0; i < c.names.size(); ++i) {
        const CreatedSender& s = ndi.senders[i];
        EXPECT_EQ(s.name, c.names[i]);
        EXPECT_EQ(s.groups, "Korvo Velmor,Public");
        EXPECT_TRUE(s.clockVideo);
        EXPECT_FALSE(s.clockAudio);
        const bool bare = c.commsReturn && i == 0;  // no product metadata on the comms return
        EXPECT_EQ(s.connectionMetadata,
                  bare ? std::vector<std::string>{} : std::vector<std::string>{kSenderProduct})
            << s.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Instances, SenderNaming,
    ::testing::Values(
        NamingCase{0, false, {"Korvo Velmor 1", "Korvo Velmor Key 1", "Korvo Velmor PPM 1"}},
        NamingCase{2, false, {"Korvo Velmor 3", "Korvo Velmor Key 3", "Korvo Velmor PPM 3"}},
        NamingCase{0, true, {"comms_return", "Korvo Velmor Key 1", "Korvo Velmor PPM 1"}}));

TEST_F(EngineTest, AudioOnlySourceClocksAudio) {
    ndi.QueueAudio(AudioFormat(2, 480), Ramp(2, 480, 0));
    ASSERT_TRUE(Connect());
    EXPECT_EQ(record.videoFormatSeen, 0);
    EXPECT_EQ(bridge.signalLamp.load(), Lamp::Blue);
    std::lock_guard lock(ndi.mutex);
    ASSERT_EQ(ndi.senders.size(), 1u);
    EXPECT_FALSE(ndi.senders[0].clockVideo);
    EXPECT_TRUE(ndi.senders[0].clockAudio);
}

TEST_F(EngineTest, NothingFromTheSourceStartsNothing) {
    EXPECT_FALSE(Connect());
    EXPECT_FALSE(engine->IsConnected());
    EXPECT_TRUE(bridge.Saw("output-button on"));
    EXPECT_NE(record.mainReceiver.load(), nullptr)
        << "the receiver stays held until the next connection";
    // The next connection destroys it first.
    ndi.QueueVideo(VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY),
                   Pattern(VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY), 0));
    EXPECT_TRUE(Connect());
    EXPECT_EQ(ndi.receiversDestroyed.load(), 1);
}

TEST_F(EngineTest, FailedReceiverSaysSo) {
    ndi.failReceiverCreate = true;
    EXPECT_FALSE(Connect());
    EXPECT_TRUE(bridge.Saw("source failed"));
}

TEST_F(EngineTest, SelectingWhileConnectedOnlyCloses) {
    const auto format = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY);
    ndi.QueueVideo(format, Pattern(format, 0));
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(Connect());
    EXPECT_TRUE(bridge.Saw("source closing"));
    EXPECT_EQ(record.videoThreadRun, 0);
    engine->StopAndWait();
    ndi.QueueVideo(format, Pattern(format, 0));
    EXPECT_TRUE(Connect()) << "picking the source again after the threads ended connects";
}

struct RateCase {
    int n, d;
    int ebu;
};

TEST_F(EngineTest, OutputSetUpChoosesEbuOrSmpte) {
    const RateCase cases[] = {{25, 1, 1},       {50, 1, 1}, {30000, 1001, 0},
                              {60000, 1001, 0}, {24, 1, 0}, {0, 0, 0}};
    for (const RateCase& c : cases) {
        engine->SetUpOutput(VideoFormat(1920, 1080, NDIlib_FourCC_video_type_UYVY, c.n, c.d));
        EXPECT_EQ(record.ebuMode, c.ebu) << c.n << "/" << c.d;
    }
    EXPECT_TRUE(bridge.Saw("EBU o/p"));
    EXPECT_TRUE(bridge.Saw("SMPTE o/p"));
    engine->SetUpOutput(VideoFormat(1920, 1080, NDIlib_FourCC_video_type_UYVY, 30000, 1001,
                                    NDIlib_frame_format_type_interleaved));
    EXPECT_TRUE(bridge.Saw("video 1920x1080 29.97 fields UYVY"));
    const OutputFormat output = record.outputFormat.Load();
    EXPECT_EQ(output.width, 1920);
    EXPECT_EQ(output.frameRateN, 30000);
    EXPECT_EQ(output.frameFormatType, NDIlib_frame_format_type_interleaved);
    EXPECT_EQ(output.fourCC, static_cast<uint32_t>(NDIlib_FourCC_video_type_UYVY));
    EXPECT_EQ(FrameDurationOf(output.rate()), 333666);
}

TEST_F(EngineTest, DeinterlaceModeFollowsTheSourceAtConnection) {
    record.settingsRecord.deinterlaceSetting = 2;
    const auto progressive = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY);
    ndi.QueueVideo(progressive, Pattern(progressive, 0));
    ASSERT_TRUE(Connect());
    EXPECT_EQ(record.deinterlaceMode, 0);
    EXPECT_TRUE(bridge.Saw("deinterlace 0"));
    engine->Disconnect();
    engine->StopAndWait();
    const auto interleaved = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY, 25, 1,
                                         NDIlib_frame_format_type_interleaved);
    ndi.QueueVideo(interleaved, Pattern(interleaved, 0));
    ASSERT_TRUE(Connect());
    EXPECT_EQ(record.deinterlaceMode, 2);
    EXPECT_TRUE(bridge.Saw("deinterlace 2"));
}

// The key output is sized by its stage for the frames it is made from: a larger source gets a
// larger key, at the output's rate.
TEST_F(EngineTest, TheKeyFollowsTheSourceSize) {
    record.keyFillMenuChecked = 1;
    const auto small = VideoFormat(64, 36, NDIlib_FourCC_video_type_BGRA);
    QueueLeadIn(small);
    ASSERT_TRUE(Connect());
    const auto large = VideoFormat(160, 90, NDIlib_FourCC_video_type_BGRA);
    ndi.QueueVideo(small, Pattern(small, 1));
    ndi.QueueVideo(large, Pattern(large, 2));
    ASSERT_TRUE(ndi.WaitFor([&] { return ndi.VideoSentTo(record.keySender) >= 2; }));
    std::lock_guard lock(ndi.mutex);
    const SentVideo* last = nullptr;
    for (const SentVideo& v : ndi.video)
        if (v.sender == record.keySender) last = &v;
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->frame.xres, 160);
    EXPECT_EQ(last->frame.yres, 90);
    EXPECT_EQ(last->frame.line_stride_in_bytes, 320);
    EXPECT_EQ(last->frame.frame_rate_N, 25);
    EXPECT_EQ(last->data.size(), 160u * 90 * 2);
}

}  // namespace
}  // namespace velmor::testing
