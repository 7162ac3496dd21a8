// The video path running a frame through its stages a band of rows at a time must send exactly
// what it sends when each stage runs on the whole frame in turn: random settings (every step the
// bands take part in, with the rotation or flip that decides how far they go), odd sizes, band
// heights that split row pairs and fields, and the two pixel layouts, the moved picture built in
// the path's own memory or in memory the sender lends. Every frame sent on the main, key and
// meter sources is compared bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/meter_config.h"
#include "engine/engine.h"
#include "relay/overlay_state.h"
#include "support/fake_ndi.h"
#include "support/recording_bridge.h"
#include "support/recording_fakes.h"
#include "video/timecode_burn_in.h"

namespace velmor::testing {
namespace {

// One random configuration of the video path and the frames it gets.
struct Case {
    uint32_t seed = 0;
    NDIlib_FourCC_video_type_e fourCC = NDIlib_FourCC_video_type_UYVY;
    int width = 0, height = 0;
    int deinterlaceMode = 0;
    int rotationMode = 0;
    bool procAmp = false, overlay = false, meter = false, timecode = false, key = false;
    int bandRows = 0;  // for the banded run; VideoPath::kBandRowsFromCache for the cache's own

    std::string Name() const {
        return std::string(fourCC == NDIlib_FourCC_video_type_UYVY ? "UYVY " : "BGRA ") +
               std::to_string(width) + "x" + std::to_string(height) + " seed " +
               std::to_string(seed) + ": deinterlace " + std::to_string(deinterlaceMode) +
               ", rotation " + std::to_string(rotationMode) + (procAmp ? ", proc amp" : "") +
               (overlay ? ", overlay" : "") + (meter ? ", meter" : "") +
               (timecode ? ", timecode" : "") + (key ? ", key" : "") + ", bands of " +
               std::to_string(bandRows);
    }
};

Case RandomCase(uint32_t seed) {
    std::mt19937 rng(seed);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    Case c;
    c.seed = seed;
    c.fourCC = pick(2) ? NDIlib_FourCC_video_type_BGRA : NDIlib_FourCC_video_type_UYVY;
    // Mostly even sides, as sources send them; now and then an odd one.
    c.width = 2 * (4 + pick(90)) + (pick(4) == 0);
    c.height = 2 * (4 + pick(70)) + (pick(4) == 0);
    c.deinterlaceMode = pick(4);
    c.rotationMode = pick(6);
    c.procAmp = pick(3) != 0;
    c.overlay = pick(3) != 0;
    c.meter = pick(3) != 0;
    c.timecode = pick(2) != 0;
    c.key = c.fourCC == NDIlib_FourCC_video_type_BGRA && pick(2);
    const int bands[] = {1, 2, 3, 5, 8, 13, 16, 31};
    c.bandRows = bands[pick(8)];
    return c;
}

// Glyphs of their own size and a pattern with every alpha, so that the blend shows.
void DrawGlyphs(RelayRecord& r) {
    for (int i = 0; i <= kColonGlyph; ++i) {
        ImageBuffer& g = r.digitImages[i];
        ASSERT_TRUE(g.Reshape(i == kColonGlyph ? 24 : 56, 72, kPixelBGRA));
        for (int p = 0; p < g.byteSize; ++p)
            g.pixels()[p] = static_cast<uint8_t>(p * 11 + i * 29);
    }
    ASSERT_TRUE(PrepareDigitImages(r.digitImages));
}

// A sequence of pictures partly off the frame, of odd sizes and every alpha.
void PublishOverlay(OverlayState& overlay, const Case& c, std::mt19937& rng) {
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    std::vector<OverlayNodePtr> nodes;
    const int count = 1 + pick(3);
    for (int i = 0; i < count; ++i) {
        std::shared_ptr<OverlayNode> node = MakeOverlayNode(overlay);
        node->imageNumber = i;
        const int w = 1 + pick(c.width + 8), h = 1 + pick(c.height + 8);
        ASSERT_TRUE(node->bgra.Reshape(w, h, kPixelBGRA));
        for (int p = 0; p < node->bgra.byteSize; ++p)
            node->bgra.pixels()[p] = static_cast<uint8_t>(rng());
        ASSERT_TRUE(node->uyva.CopyRGBAdataFrom(node->bgra));
        node->uyva.ConvertToUYVA();
        CountOverlayNode(overlay, *node);
        nodes.push_back(std::move(node));
    }
    overlay.placement = {pick(c.width + 20) - 10, pick(c.height + 20) - 10, pick(12)};
    PublishPictures(overlay, std::move(nodes));
    overlay.sequenceMode = count > 1;
}

// One relay, its stand-in library and its window, set up for a case.
class Relay {
public:
    explicit Relay(const Case& c) : c_(c) {
        record.ApplyStartupDefaults();
        record.groupSetup.BuildSendGroups();
        engine = std::make_unique<Engine>(record, ndi.api(), bridge, notifier);
    }
    ~Relay() { engine->StopAndWait(); }

    // The frames sent, in order, with `bandRows` rows a band (0: whole frames). With `lend` the
    // senders lend memory to build the sent picture in, and the preview (which would read the
    // picture after it is sent) is off.
    std::vector<SentVideo> Run(int bandRows, bool lend) {
        std::mt19937 rng(c_.seed * 7919 + 1);
        const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
        engine->SetBandRows(bandRows);
        if (lend) {
            ndi.LendSendMemory();
            record.previewOn = 0;
        }
        const NDIlib_video_frame_v2_t format =
            VideoFormat(c_.width, c_.height, c_.fourCC, 30000, 1001,
                        c_.deinterlaceMode ? NDIlib_frame_format_type_interleaved
                                           : NDIlib_frame_format_type_progressive);
        DrawGlyphs(record);
        record.keyFillMenuChecked = c_.key;
        if (c_.meter) {
            record.meterSettings.meterSeparateOutput = 1;
            record.meterSettings.meterOnMainOutput = 1;
            record.ppmMeter = std::make_unique<PpmMeter>();
            record.ppmMeter->SetOverlayEnabled(true);
            MeterConfig config(record.meterSettings, record.meterLink);
            config.ChooseLayout(pick(3));
            config.SetPositions(pick(101), pick(101));
        }
        if (c_.overlay) PublishOverlay(record.overlaySetup, c_, rng);
        // The probe's frames (an audio frame ends it at once) and the three the thread skips.
        ndi.QueueAudio(AudioFormat(2, 800), Ramp(2, 800, 0.0f));
        for (int i = 0; i < 4; ++i)
            ndi.QueueVideo(format, Pattern(format, 100 + i));
        const NDIlib_source_t source{"HOST (Camera 1)", "127.0.0.1:5961"};
        if (!engine->ConnectTo(source)) return {};
        if (c_.meter) {
            record.ppmMeter->MeterTick(MeterTimer::OverlayBars, record.meterSettings,
                                       record.outputFormat.width(), record.outputFormat.height());
            record.ppmOverlayOn = 1;
        }
        record.deinterlaceMode = c_.deinterlaceMode;
        record.rotationMode = c_.rotationMode;
        record.timecodeBurnIn = c_.timecode;
        record.overlaySetup.overlayOn = c_.overlay;
        if (c_.procAmp) {
            for (int p = 0; p < 7; ++p)
                record.procAmp.SetParam(static_cast<ProcAmpParam>(p), pick(101));
            record.procAmp.applyToOutput = 1;
        }
        for (int i = 0; i < 3; ++i) {
            NDIlib_video_frame_v2_t f = format;
            f.timecode = int64_t{36'000'000'000} + i * 333'667 + c_.seed * 10'000'000LL;
            std::vector<uint8_t> pixels(static_cast<size_t>(f.line_stride_in_bytes) * f.yres);
            for (uint8_t& b : pixels)
                b = static_cast<uint8_t>(rng());
            ndi.QueueVideo(f, std::move(pixels));
        }
        const bool drained =
            ndi.WaitFor([&] { return ndi.videoFreed.load() >= ndi.videoQueued.load(); });
        engine->StopAndWait();
        if (!drained) return {};
        std::lock_guard lock(ndi.mutex);
        sentFromLent = ndi.videoSentFromLent;
        return ndi.video;
    }
    int sentFromLent = 0;

    RelayRecord record;

private:
    const Case& c_;
    FakeNdi ndi;
    RecordingBridge bridge;
    RecordingNotifier notifier;
    std::unique_ptr<Engine> engine;
};

int BytesPerPixel(const NDIlib_video_frame_v2_t& f) {
    return f.FourCC == NDIlib_FourCC_video_type_UYVY ? 2 : 4;
}

// The same picture and description; the rows' padding may differ (a flip in place keeps the
// source's rows, the banded one packs them).
void ExpectSame(const SentVideo& whole, const SentVideo& banded, const std::string& what) {
    const NDIlib_video_frame_v2_t& a = whole.frame;
    const NDIlib_video_frame_v2_t& b = banded.frame;
    ASSERT_EQ(a.xres, b.xres) << what;
    ASSERT_EQ(a.yres, b.yres) << what;
    ASSERT_EQ(a.FourCC, b.FourCC) << what;
    EXPECT_EQ(a.frame_format_type, b.frame_format_type) << what;
    EXPECT_EQ(a.picture_aspect_ratio, b.picture_aspect_ratio) << what;
    EXPECT_EQ(a.timecode, b.timecode) << what;
    const size_t row = static_cast<size_t>(a.xres) * BytesPerPixel(a);
    for (int y = 0; y < a.yres; ++y) {
        const uint8_t* ra = whole.data.data() + static_cast<size_t>(a.line_stride_in_bytes) * y;
        const uint8_t* rb = banded.data.data() + static_cast<size_t>(b.line_stride_in_bytes) * y;
        ASSERT_EQ(std::memcmp(ra, rb, row), 0) << what << ": row " << y << " differs";
    }
}

// Frames sent from lent memory, over every run.
int g_sentFromLent = 0;

void CompareRuns(const Case& c, bool lendWhole, bool lendBanded) {
    std::vector<SentVideo> whole, banded;
    {
        Relay relay(c);
        whole = relay.Run(0, lendWhole);
        g_sentFromLent += relay.sentFromLent;
    }
    {
        Relay relay(c);
        banded = relay.Run(c.bandRows, lendBanded);
        g_sentFromLent += relay.sentFromLent;
    }
    const std::string name = c.Name();
    // Main, and the key and meter sources when on, for each of the three frames.
    ASSERT_GE(whole.size(), 3u) << name;
    ASSERT_EQ(whole.size(), banded.size()) << name;
    for (size_t i = 0; i < whole.size(); ++i)
        ExpectSame(whole[i], banded[i], name + ", frame sent " + std::to_string(i));
}

TEST(BandPath, RandomSettingsAndSizesGiveTheWholeFramePathBitForBit) {
    // Now and then the sent picture is built in memory the sender lends, in either run.
    g_sentFromLent = 0;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        const Case c = RandomCase(seed);
        CompareRuns(c, seed % 3 == 0, seed % 2 == 0);
        if (::testing::Test::HasFatalFailure()) return;
    }
    EXPECT_GT(g_sentFromLent, 0);
}

TEST(BandPath, FullSizeFramesInBandsFromTheCacheSize) {
    // Pictures large enough for the quarter turns to stream past the caches, every step on, in
    // the bands the path chooses itself, turned straight into memory the sender lends.
    g_sentFromLent = 0;
    for (const auto fourCC : {NDIlib_FourCC_video_type_UYVY, NDIlib_FourCC_video_type_BGRA}) {
        for (int rotation : {1, 2, 3}) {
            Case c;
            c.seed = 1000 + rotation;
            c.fourCC = fourCC;
            c.width = 1920;
            c.height = 1080;
            c.deinterlaceMode = 1;
            c.rotationMode = rotation;
            c.procAmp = c.overlay = c.meter = c.timecode = true;
            c.key = fourCC == NDIlib_FourCC_video_type_BGRA;
            c.bandRows = VideoPath::kBandRowsFromCache;
            CompareRuns(c, false, true);
        }
    }
    EXPECT_GE(g_sentFromLent, 6 * 3);
}

}  // namespace
}  // namespace velmor::testing
