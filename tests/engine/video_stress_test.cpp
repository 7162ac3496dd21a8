// Every video setting changed at random from the window's side while 1080i frames flow through the
// real video thread. Each frame sent (main, key and meter sources) and each preview must be
// exactly as large as its header says: the checks read every byte the header promises, so a
// stage that describes a frame wrongly shows up as a sanitizer report or a failed check, and a
// setting read unsafely as a ThreadSanitizer report.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/meter_config.h"
#include "engine_fixture.h"
#include "relay/overlay_state.h"
#include "relay/text_box.h"
#include "support/block_rasteriser.h"

namespace velmor::testing {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Counts frames whose header does not describe a whole picture of the expected size, keeping the
// first complaint. Any thread may report.
class SizeChecks {
public:
    void Check(const char* what, const uint8_t* data, int width, int height, int stride,
               uint32_t fourCC) {
        int bytesPerPixel = 0;
        if (fourCC == NDIlib_FourCC_video_type_UYVY) bytesPerPixel = 2;
        if (fourCC == NDIlib_FourCC_video_type_BGRA || fourCC == NDIlib_FourCC_video_type_BGRX)
            bytesPerPixel = 4;
        const bool upright = width == kWidth && height == kHeight;
        const bool turned = width == kHeight && height == kWidth;
        checked_.fetch_add(1);
        // Every picture the path hands on has packed rows, as the source's.
        if (!data || bytesPerPixel == 0 || !(upright || turned) ||
            stride != width * bytesPerPixel) {
            Fail(std::string(what) + " " + std::to_string(width) + "x" + std::to_string(height) +
                 " stride " + std::to_string(stride) + " FourCC " + std::to_string(fourCC));
            return;
        }
        // Read all of it: a buffer shorter than the header says is an out-of-bounds read.
        uint32_t sum = 0;
        const size_t bytes = static_cast<size_t>(stride) * height;
        for (size_t i = 0; i < bytes; i += 61)
            sum += data[i];
        sum += data[bytes - 1];
        sink_.fetch_add(sum, std::memory_order_relaxed);
    }

    int checked() const { return checked_.load(); }
    int failures() const { return failures_.load(); }
    std::string first() {
        std::lock_guard lock(mutex_);
        return first_;
    }

private:
    void Fail(const std::string& text) {
        if (failures_.fetch_add(1) == 0) {
            std::lock_guard lock(mutex_);
            first_ = text;
        }
    }

    std::atomic<int> checked_{0};
    std::atomic<int> failures_{0};
    std::atomic<uint32_t> sink_{0};
    std::mutex mutex_;
    std::string first_;
};

class CheckingBridge : public RecordingBridge {
public:
    explicit CheckingBridge(SizeChecks& checks) : checks_(checks) {}
    void ShowPreview(PreviewTarget target, const FrameView& v, float aspect) override {
        checks_.Check("preview", v.data, v.width, v.height, v.stride, v.fourCC);
        RecordingBridge::ShowPreview(target, v, aspect);
    }

private:
    SizeChecks& checks_;
};

// Glyphs for the timecode, as start-up draws them (a plain block each).
void DrawBlockGlyphs(RelayRecord& r) {
    for (int i = 0; i <= kColonGlyph; ++i) {
        ImageBuffer& g = r.digitImages[i];
        ASSERT_TRUE(g.Reshape(i == kColonGlyph ? 24 : 56, 72, kPixelBGRA));
        std::memset(g.pixels(), 200, g.byteSize);
    }
    ASSERT_TRUE(PrepareDigitImages(r.digitImages));
}

class VideoStressTest : public EngineTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        engine = std::make_unique<Engine>(record, ndi.api(), checkingBridge, notifier);
    }
    void TearDown() override {
        EngineTest::TearDown();
        engine.reset();  // before the bridge it reports to
    }

    // A sequence of `count` small pictures, one per frame, as the overlay window loads one.
    void PublishSequence(OverlayState& overlay, int count) {
        std::vector<OverlayNodePtr> nodes;
        for (int i = 0; i < count; ++i) {
            std::shared_ptr<OverlayNode> node = MakeOverlayNode(overlay);
            node->imageNumber = i;
            if (!node->bgra.FillColour(64 + 16 * i, 36, 40 * i, 80, 160, 200) ||
                !node->uyva.CopyRGBAdataFrom(node->bgra))
                return;
            node->uyva.ConvertToUYVA();
            CountOverlayNode(overlay, *node);
            nodes.push_back(std::move(node));
        }
        PublishPictures(overlay, std::move(nodes));
        overlay.sequenceMode = 1;
    }

    // One change the window could make, chosen by `rng`.
    void ChangeSomething(std::mt19937& rng, MeterConfig& meterConfig, BlockRasteriser& text) {
        const auto pick = [&](int n) { return static_cast<int>(rng() % n); };
        switch (pick(12)) {
            case 0:
                record.rotationMode = pick(6);
                break;
            case 1:
                record.deinterlaceMode = pick(4);
                break;
            case 2:
                record.procAmp.SetParam(static_cast<ProcAmpParam>(pick(7)), pick(101));
                break;
            case 3:
                record.procAmp.applyToOutput = pick(2);
                record.procAmp.monitorPreview = pick(2);
                break;
            case 4: {
                OverlayState& overlay = record.overlaySetup;
                overlay.overlayOn = pick(2);
                const int what = pick(4);
                if (what == 0) PublishTextBox(overlay, "On air", kWidth, kHeight, text);
                if (what == 1) PublishSequence(overlay, 1 + pick(4));
                if (what == 2) {
                    overlay.placement = {pick(kWidth), pick(kHeight), pick(12)};
                    PublishPlacement(overlay);  // a sequence steps on where it was
                }
                CollectOverlayLists(overlay);
                break;
            }
            case 5:
                record.keyFillSplit = pick(2);
                break;
            case 6:
                record.ppmOverlayOn = pick(2);
                meterConfig.SetOnMainOutput(pick(2));
                meterConfig.SetSeparateOutput(pick(2));
                break;
            case 7: {
                const int layout = pick(3);
                meterConfig.ChooseLayout(layout);
                meterConfig.SetPositions(pick(101), pick(101));
                break;
            }
            case 8:
                BuildMeterPicture();  // the window's meter timer
                break;
            case 9:
                record.timecodeBurnIn = pick(2);
                break;
            case 10:
                record.previewOn = pick(2);
                break;
            case 11:
                if (pick(2)) {
                    engine->Freeze();
                } else {
                    engine->RequestGrab();
                }
                break;
        }
    }

    SizeChecks checks;
    CheckingBridge checkingBridge{checks};
};

TEST_P(VideoStressTest, EveryFrameIsAsLargeAsItsHeaderWhileSettingsChange) {
    const auto format =
        VideoFormat(kWidth, kHeight, static_cast<NDIlib_FourCC_video_type_e>(GetParam()), 30000,
                    1001, NDIlib_frame_format_type_interleaved);
    const std::vector<uint8_t> picture = Pattern(format, 7);
    DrawBlockGlyphs(record);
    PrepareMeter(kWidth, kHeight);
    record.keyFillMenuChecked = 1;  // a key source is made
    ndi.recordVideoData = false;
    ndi.onVideoSent = [&](void* sender, const NDIlib_video_frame_v2_t& f) {
        const char* what = sender == record.keySender.load()   ? "key"
                           : sender == record.ppmSender.load() ? "meter"
                                                               : "main";
        checks.Check(what, f.p_data, f.xres, f.yres, f.line_stride_in_bytes, f.FourCC);
    };
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());
    ASSERT_NE(record.keySender.load(), nullptr);
    StartMeter();
    record.procAmp.active = 1;

    std::atomic<bool> running{true};
    std::thread window([&] {
        std::mt19937 rng(GetParam());
        MeterConfig meterConfig(record.meterSettings, record.meterLink);
        BlockRasteriser text;
        while (running) {
            ChangeSomething(rng, meterConfig, text);
            // Pacing only: a change every few frames' worth of work at most.
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
        }
    });

    // Several seconds and enough frames even on a slow, sanitized build.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const int leadIn = ndi.videoFreed.load();
    bool flowing = true;
    while (flowing && (Clock::now() - start < std::chrono::seconds(4) ||
                       ndi.videoFreed.load() - leadIn < 40)) {
        // Two frames waiting at most, like a receiver's small queue. A sanitized build on a busy
        // machine may take seconds for one 1080p frame with every step on: only a thread that
        // stopped taking frames for a minute is a fault.
        flowing = ndi.WaitFor([&] { return ndi.VideoQueueSize() < 2; }, std::chrono::seconds(60));
        ndi.QueueVideo(format, picture);
        if (Clock::now() - start > std::chrono::seconds(120)) break;
    }
    running = false;
    window.join();
    ASSERT_TRUE(flowing) << "the video thread stopped taking frames";
    ASSERT_TRUE(Drain());

    EXPECT_GE(ndi.videoFreed.load() - leadIn, 40);
    EXPECT_GT(checks.checked(), 0);
    EXPECT_EQ(checks.failures(), 0) << "first: " << checks.first();
}

std::string FormatName(const ::testing::TestParamInfo<uint32_t>& format) {
    return format.param == NDIlib_FourCC_video_type_UYVY ? "UYVY" : "BGRA";
}

INSTANTIATE_TEST_SUITE_P(Formats, VideoStressTest,
                         ::testing::Values(static_cast<uint32_t>(NDIlib_FourCC_video_type_UYVY),
                                           static_cast<uint32_t>(NDIlib_FourCC_video_type_BGRA)),
                         FormatName);

}  // namespace
}  // namespace velmor::testing
