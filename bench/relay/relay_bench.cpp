// Added latency and CPU per frame of the relay's video path at 1920x1080 60p, with every step off
// and with every step on, beside memcpy of the same frame in the same run; with every step on,
// both with the frame run through the steps in bands of rows (as the relay does) and with each
// step over the whole frame in turn.
//
// One iteration hands one frame to the video thread (as the receiver would) and waits until the
// thread has sent it: the time is the relay's added latency for that frame; the process CPU time
// covers the video thread's work too.
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <memory>

#include "engine/engine.h"
#include "relay/overlay_state.h"
#include "support/fake_ndi.h"
#include "support/recording_bridge.h"
#include "support/recording_fakes.h"
#include "video/timecode_burn_in.h"

namespace velmor {
namespace {

using testing::FakeNdi;

constexpr int kWidth = 1920, kHeight = 1080;

void BM_Memcpy(benchmark::State& state) {
    const size_t bytes =
        static_cast<size_t>(kWidth) * kHeight * static_cast<size_t>(state.range(0));
    std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Memcpy)
    ->Arg(2)
    ->Arg(4)
    ->ArgName("bytes_per_pixel")
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Connects an engine on `record` to a stand-in source of `format`, runs `connected` once the
// lead-in frames are through, then times one frame per iteration (`perFrame` frames sent each).
void TimeFrames(benchmark::State& state, RelayRecord& record, const NDIlib_video_frame_v2_t& format,
                size_t perFrame, const std::function<void()>& connected,
                int bandRows = VideoPath::kBandRowsFromCache) {
    FakeNdi ndi;
    ndi.recordVideoData = false;
    testing::RecordingBridge bridge;
    testing::RecordingNotifier notifier;
    Engine engine(record, ndi.api(), bridge, notifier);
    engine.SetBandRows(bandRows);
    const auto picture = testing::Pattern(format, 1);
    for (int i = 0; i < 4; ++i)
        ndi.QueueVideo(format, picture);  // the probe's frame and the three skipped
    if (!engine.ConnectTo(NDIlib_source_t{"BENCH (Source)", "127.0.0.1:1"})) {
        state.SkipWithError("no connection");
        return;
    }
    if (connected) connected();
    record.previewOn = 0;
    ndi.WaitFor([&] { return ndi.VideoQueueSize() == 0; });
    size_t sent = ndi.videoSentCount;
    for (auto _ : state) {
        ndi.QueueVideo(format, picture);
        sent += perFrame;
        if (!ndi.WaitForVideoSent(sent)) {
            state.SkipWithError("frame not sent");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * picture.size()));
    engine.Disconnect();
    engine.StopAndWait();
}

enum Steps { kOff = 0, kOn = 1, kOnWholeFrames = 2 };

void BM_RelayFrame(benchmark::State& state) {
    const bool bgra = state.range(0) == 4;
    const bool allOn = state.range(1) != kOff;
    const int bandRows = state.range(1) == kOnWholeFrames ? 0 : VideoPath::kBandRowsFromCache;
    auto record = std::make_unique<RelayRecord>();
    record->ApplyStartupDefaults();
    for (int i = 0; i < 11; ++i) {
        record->digitImages[i].FillColour(i == kColonGlyph ? 24 : 56, 72, 255, 255, 255, 255);
    }
    PrepareDigitImages(record->digitImages);
    record->keyFillMenuChecked = allOn && bgra;
    const auto type =
        allOn ? NDIlib_frame_format_type_interleaved : NDIlib_frame_format_type_progressive;
    const auto format = testing::VideoFormat(
        kWidth, kHeight, bgra ? NDIlib_FourCC_video_type_BGRA : NDIlib_FourCC_video_type_UYVY, 60,
        1, type);
    const size_t perFrame = (allOn && bgra) ? 2 : 1;  // the key output is sent as well
    TimeFrames(
        state, *record, format, perFrame,
        [&] {
            if (!allOn) return;
            record->deinterlaceMode = 1;  // "Blend fields"
            record->procAmp.settings.gain = 30;
            record->procAmp.settings.colourSat = 70;
            record->procAmp.Refresh();
            record->procAmp.applyToOutput = 1;
            record->rotationMode = 1;  // a quarter turn: the costliest transform
            record->timecodeBurnIn = 1;
        },
        bandRows);
}
BENCHMARK(BM_RelayFrame)
    ->ArgsProduct({{2, 4}, {kOff, kOn, kOnWholeFrames}})
    ->ArgNames({"bytes_per_pixel", "steps_on"})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The image overlay's added cost: steps off, the overlay on with one full-frame picture with alpha,
// or with a sequence of full-frame pictures (a new picture every frame, so none stays in cache).
enum OverlayKind { kNoOverlay = 0, kPicture = 1, kSequence = 2 };
constexpr int kSequenceLength = 8;

OverlayNodePtr FullFramePicture(OverlayState& s, int seed) {
    std::shared_ptr<OverlayNode> node = MakeOverlayNode(s);
    node->bgra.FillColour(kWidth, kHeight, 0, 0, 0, 0);
    uint8_t* p = node->bgra.pixels();
    for (int64_t i = 0; i < int64_t{kWidth} * kHeight; ++i) {
        p[i * 4 + 0] = static_cast<uint8_t>(i * 7 + seed);
        p[i * 4 + 1] = static_cast<uint8_t>(i * 13 + seed);
        p[i * 4 + 2] = static_cast<uint8_t>(i * 3 + seed);
        p[i * 4 + 3] = static_cast<uint8_t>(i % kWidth * 255 / (kWidth - 1));  // every alpha
    }
    node->uyva.CopyRGBAdataFrom(node->bgra);
    node->uyva.ConvertToUYVA();
    CountOverlayNode(s, *node);
    return node;
}

void BM_RelayFrameOverlay(benchmark::State& state) {
    const bool bgra = state.range(0) == 4;
    const auto kind = static_cast<OverlayKind>(state.range(1));
    auto record = std::make_unique<RelayRecord>();
    record->ApplyStartupDefaults();
    OverlayState& overlay = record->overlaySetup;
    if (kind != kNoOverlay) {
        std::vector<OverlayNodePtr> nodes;
        for (int i = 0; i < (kind == kSequence ? kSequenceLength : 1); ++i)
            nodes.push_back(FullFramePicture(overlay, i));
        PublishPictures(overlay, std::move(nodes));
        overlay.sequenceMode = kind == kSequence ? 1 : 0;
        overlay.overlayOn = 1;
    }
    const auto format = testing::VideoFormat(
        kWidth, kHeight, bgra ? NDIlib_FourCC_video_type_BGRA : NDIlib_FourCC_video_type_UYVY, 60,
        1);
    TimeFrames(state, *record, format, 1, nullptr);
}
BENCHMARK(BM_RelayFrameOverlay)
    ->ArgsProduct({{2, 4}, {kNoOverlay, kPicture, kSequence}})
    ->ArgNames({"bytes_per_pixel", "overlay"})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velmor

BENCHMARK_MAIN();
