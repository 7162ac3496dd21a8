// The meter between the threads: what the configuration window and the audio thread change
// reaches the video thread's meter on the outputs, and the bars fall when the audio ends. The
// audio thread meters through a tap that calls the meter as the application's monitor tap does.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "audio/meter_config.h"
#include "engine_fixture.h"
#include "relay/capture_apply.h"

namespace velmor::testing {
namespace {

// The application's tap, cut down to the meter: the first two planes of every block.
class MeterTap : public IAudioTap {
public:
    void MonitorTap(RelayRecord& r, const NDIlib_audio_frame_v2_t& f) override {
        if (r.ppmMeter && f.p_data) {
            float* right = f.no_channels > 1 ? f.p_data + f.channel_stride_in_bytes / 4 : nullptr;
            r.ppmMeter->MeterBlock(r.meterLink, r.meterSettings, r.ebuMode, f.p_data, right,
                                   f.no_samples);
        }
        ++blocks;
    }
    void ClearBuffers() override {}
    std::atomic<int> blocks{0};
};

// Where the meter picture lies in a BGRA frame: the rows and columns with a non-zero alpha.
struct Box {
    int left = -1, top = -1, right = -1, bottom = -1;  // inclusive; -1 when nothing is there
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

Box AlphaBox(const std::vector<uint8_t>& bgra, int width, int height) {
    Box b;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (bgra[(static_cast<size_t>(y) * width + x) * 4 + 3] == 0) continue;
            b.left = b.left < 0 ? x : std::min(b.left, x);
            b.right = std::max(b.right, x);
            b.top = b.top < 0 ? y : b.top;
            b.bottom = y;
        }
    }
    return b;
}

class MeterPathTest : public EngineTest {
protected:
    static constexpr int kW = 320, kH = 180;

    void SetUp() override {
        EngineTest::SetUp();
        engine = std::make_unique<Engine>(record, ndi.api(), bridge, notifier, &tap);
    }
    // The meter source's newest frame, as the meter picture's box in it.
    Box SentMeterBox() {
        std::lock_guard lock(ndi.mutex);
        for (auto it = ndi.video.rbegin(); it != ndi.video.rend(); ++it) {
            if (it->sender == record.ppmSender.load()) return AlphaBox(it->data, kW, kH);
        }
        return {};
    }
    void SendFrame(int seed) {
        const auto format = VideoFormat(kW, kH, NDIlib_FourCC_video_type_BGRA);
        ndi.QueueVideo(format, Pattern(format, seed));
        ASSERT_TRUE(Drain());
    }
    // One block of a steady level on both channels.
    void SendAudio(float level) {
        const int before = tap.blocks;
        ndi.QueueAudio(AudioFormat(2, 480), std::vector<float>(2 * 480, level));
        ASSERT_TRUE(ndi.WaitFor([&] { return tap.blocks.load() > before; }));
    }

    MeterTap tap;
};

TEST_F(MeterPathTest, ALayoutChosenInTheConfigurationWindowReachesThePlacement) {
    PrepareMeter(kW, kH);
    QueueLeadIn(VideoFormat(kW, kH, NDIlib_FourCC_video_type_BGRA));
    ASSERT_TRUE(Connect());
    StartMeter();
    SetMeterChangeFlags(record, kMeterChangePicture);
    SendFrame(1);
    const Box horizontal = SentMeterBox();
    EXPECT_EQ(horizontal.width(), kW * 8 / 10);
    EXPECT_EQ(horizontal.height(), kH / 10);

    // "Vertical" in the window, then the window closes: the meter rebuilds its pictures. No
    // position changed, so nothing set bit 0: the new picture is placed for its own size anyway.
    MeterConfig config(record.meterSettings, record.meterLink);
    config.ChooseLayout(1);
    TakeUpMeterChoices(record);
    record.meterLink.meterChangeFlags = 0;
    BuildMeterPicture();
    SendFrame(2);
    const Box vertical = SentMeterBox();
    EXPECT_EQ(vertical.width(), kW / 16);
    EXPECT_EQ(vertical.height(), kH * 4 / 5);
    // meterPosH 10: left column (320 - 20 - 40) * 10 / 100 + 20 = 46, centred down.
    EXPECT_EQ(vertical.left, 46);
    EXPECT_EQ(vertical.top, (kH - kH * 4 / 5) / 2);
}

TEST_F(MeterPathTest, BitZeroSetByTheAudioSideIsSeenByTheVideoThread) {
    PrepareMeter(kW, kH);
    const auto format = VideoFormat(kW, kH, NDIlib_FourCC_video_type_BGRA);
    QueueLeadIn(format);
    ndi.QueueAudio(AudioFormat(2, 480), std::vector<float>(2 * 480, 0.0f));
    ASSERT_TRUE(Connect());
    StartMeter();
    SetMeterChangeFlags(record, kMeterChangePicture);
    SendFrame(1);
    const int lowRow = SentMeterBox().top;  // meterPosV 90: near the bottom
    EXPECT_GT(lowRow, kH / 2);

    // A new position without bit 0 leaves the meter where it is ...
    StoreMeterSetting(record.meterSettings.meterPosV, 0);
    SendFrame(2);
    EXPECT_EQ(SentMeterBox().top, lowRow);
    // ... until the audio thread's refresh frame sets the bit.
    record.meterLink.meterRefreshFrames = 1;
    SendAudio(0.1f);
    EXPECT_EQ(record.meterLink.meterRefreshFrames, 0);
    SendFrame(3);
    EXPECT_EQ(SentMeterBox().top, 20) << "meterPosV 0: 20 rows from the top";
    EXPECT_EQ(record.meterLink.meterChangeFlags & kMeterChangePicture, 0)
        << "the video thread took the picture up";
}

TEST_F(MeterPathTest, AfterTheAudioEndsTheMeterShowsNoLevel) {
    record.ppmMeter = std::make_unique<PpmMeter>();
    PpmMeter& meter = *record.ppmMeter;
    meter.SetOverlayEnabled(true);  // the overlay bars are measured too
    ndi.QueueAudio(AudioFormat(2, 480), std::vector<float>(2 * 480, 0.5f));
    ASSERT_TRUE(Connect());
    SendAudio(0.5f);
    const MeterBallistics& bars = meter.ballistics();
    EXPECT_GT(bars.hold(0), 0);
    EXPECT_GT(bars.segmentLevel(1), 0.0f);
    meter.MeterTick(MeterTimer::ScreenBars, record.meterSettings, 0, 0);
    meter.MeterTick(MeterTimer::OverlayBars, record.meterSettings, 0, 0);
    EXPECT_GT(meter.shownLeft(), 0);

    engine->Disconnect();
    engine->StopAndWait();
    EXPECT_EQ(bars.hold(0), 0);
    EXPECT_EQ(bars.hold(1), 0);
    EXPECT_EQ(bars.segmentLevel(0), 0.0f);
    EXPECT_EQ(bars.peak(1), 0.0f);
    // The timers then let the bars fall all the way (384 units fall within 150 ticks).
    for (int tick = 0; tick < 150; ++tick) {
        meter.MeterTick(MeterTimer::ScreenBars, record.meterSettings, 0, 0);
        meter.MeterTick(MeterTimer::OverlayBars, record.meterSettings, 0, 0);
    }
    EXPECT_EQ(meter.shownLeft(), 0);
    EXPECT_EQ(meter.shownRight(), 0);
    EXPECT_EQ(bars.overlayShown(0), 0);
}

}  // namespace
}  // namespace velmor::testing
