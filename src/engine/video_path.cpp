#include "engine/video_path.h"

#include <algorithm>
#include <atomic>

#include "engine/metadata_texts.h"

namespace velmor {

namespace {

constexpr uint32_t kCaptureTimeoutMs = 100;

// Rows a band of a picture with `stride` bytes a row: a quarter of the second-level cache, which
// the band, the picture a mover writes it into and the stages' own tables share, in steps of 16
// rows (the quarter turns take 16 rows or row pairs at a time).
int BandRowsFromCache(int stride) {
    const int64_t bytes = SecondLevelCacheBytes() / 4;
    const int64_t rows = stride > 0 ? bytes / stride : 16;
    return static_cast<int>(std::clamp<int64_t>(rows & ~int64_t{15}, 16, 4096));
}

}  // namespace

VideoSettings ReadVideoSettings(RelayRecord& r) {
    VideoSettings s;
    const MeterSettings& ms = r.meterSettings;
    const int layout = LoadMeterSetting(ms.meterLayout);
    const bool separate = LoadMeterSetting(ms.meterSeparateOutput) != 0;
    const ProcAmpState& pa = r.procAmp;
    const bool procAmp = pa.active != 0;
    const PpmMeter* meter = r.ppmMeter.get();
    const bool meterOn = meter && meter->overlayEnabled();
    s.deinterlaceMode = r.deinterlaceMode;
    s.procAmpOnOutput = procAmp && pa.applyToOutput;
    s.procAmpOnPreview = procAmp && !pa.applyToOutput;
    s.overlayOn = r.overlaySetup.overlayOn != 0;
    s.meterOn = meterOn;
    s.meterOnFrame = r.ppmOverlayOn && LoadMeterSetting(ms.meterOnMainOutput);
    s.meterSeparate = separate && layout <= 2;
    s.rotationMode = r.rotationMode;
    s.timecodeBurnIn = r.timecodeBurnIn != 0;
    s.keySplit = r.keyFillSplit && r.keySender;
    s.airSend = r.airSendOutput && r.airSend;
    s.commsReturn = r.commsReturn != 0;
    s.meterSend = r.ppmSender && r.ppmOverlayOn && meterOn && separate && layout <= 2;
    s.monitorPreview = pa.monitorPreview != 0;
    s.previewOn = r.previewOn != 0;
    return s;
}

VideoPath::VideoPath(EngineContext& context, OutputSetup& output, FrameLimitGate& gate)
    : c_(context),
      output_(output),
      gate_(gate),
      outputs_(context),
      overlay_(context.r.overlaySetup.pictures, context.r.overlaySetup.currentImage),
      meter_(context.r.meterLink.meterChangeFlags, outputs_),
      geometry_(outputs_),
      timecode_(context.r.digitImages),
      freezeGrab_(context.r.freezeState, context.r.grabRequest, outputs_),
      keySplit_(outputs_),
      send_(outputs_, meter_.output()),
      preview_(outputs_),
      release_(outputs_),
      tally_(outputs_),
      time_(outputs_),
      // The road of a frame, in order.
      order_{&deinterlace_, &procAmp_, &overlay_, &meter_,   &geometry_, &timecode_, &keySplit_,
             &freezeGrab_,  &send_,    &preview_, &release_, &tally_,    &time_} {}

void VideoPath::Run(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    r.frameTick = 0;
    if (r.airSendOutput) c_.bridge.StartWatchdog();
    // The probe has set the output up for the connection's first frame.
    lastRateSeen_ = r.outputFormat.rate();
    frameDuration_ = FrameDurationOf(lastRateSeen_);
    skipCount_ = 3;
    tally_.Reset();
    time_.Reset();
    live_.Reset();
    configured_ = false;

    while (r.videoThreadRun) {
        const NDIlib_frame_type_e type =
            c_.ndi.recv_capture_v2(recv, &frame_, nullptr, &metadata_, kCaptureTimeoutMs);
        if (type == NDIlib_frame_type_metadata) {
            HandleMetadata(recv, metadata_);
        } else if (type == NDIlib_frame_type_video && gate_.Usable(recv, frame_)) {
            r.counters.videoFramesReceived.fetch_add(1, std::memory_order_relaxed);
            CatchUp(recv);
            ProcessVideoFrame(recv);
        }
    }
    c_.bridge.ShowMediaEnded(MediaKind::Video);
}

void VideoPath::CatchUp(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    NDIlib_video_frame_v2_t& f = frame_;
    const int64_t frameDuration = frameDuration_ > 0 ? frameDuration_ : FrameDurationOf(60.0f);
    while (live_.Behind(f.timestamp, WallClock100ns(), VideoSlack(frameDuration))) {
        NDIlib_video_frame_v2_t next{};
        NDIlib_metadata_frame_t meta{};
        const NDIlib_frame_type_e type = c_.ndi.recv_capture_v2(recv, &next, nullptr, &meta, 0);
        if (type == NDIlib_frame_type_metadata) {
            HandleMetadata(recv, meta);
            continue;
        }
        if (type != NDIlib_frame_type_video) return;  // nothing newer waits: this one goes out
        if (!gate_.Usable(recv, next)) continue;
        r.counters.videoFramesReceived.fetch_add(1, std::memory_order_relaxed);
        c_.ndi.recv_free_video_v2(recv, &f);
        r.counters.videoFramesLate.fetch_add(1, std::memory_order_relaxed);
        r.counters.videoFramesDropped.fetch_add(1, std::memory_order_relaxed);
        f = next;
    }
}

void VideoPath::HandleMetadata(NDIlib_recv_instance_t recv, NDIlib_metadata_frame_t& m) {
    if (NDIlib_send_instance_t main = c_.r.mainSender) c_.ndi.send_send_metadata(main, &m);
    // A tally echo from downstream sets the preview's border.
    if (const std::optional<TallyState> tally = TallyEchoState(MetadataFrameText(m)))
        outputs_.ShowTally(*tally);
    c_.ndi.recv_free_metadata(recv, &m);
}

bool VideoPath::Bookkeeping(const NDIlib_video_frame_v2_t& f, float rate) {
    RelayRecord& r = c_.r;
    const OutputFormat output = r.outputFormat.Load();
    bool setUp = false;
    // 1. Rate: while it differs from the output's, the output is not set up again.
    if (rate == output.rate()) {
        if (r.frameRateMismatch) {
            r.frameRateMismatch = 0;
            output_.SetUpOutput(f);
            setUp = true;
        }
    } else if (!r.frameRateMismatch) {
        r.frameRateMismatch = 1;
        c_.bridge.ShowVideoFormat(FormatReportOf(f, rate));
        lastRateSeen_ = rate;
        frameDuration_ = FrameDurationOf(rate);
    } else if (rate != lastRateSeen_) {
        c_.bridge.ShowVideoFormat(FormatReportOf(f, rate));
        r.lastRate = rate;
        lastRateSeen_ = rate;
        frameDuration_ = FrameDurationOf(rate);
    }
    // 2. No audio delay while the rates differ.
    if (r.frameRateMismatch && (r.audioDelayFrames != 0 || r.audioDelayOn)) {
        r.audioDelayFrames = 0;
        if (r.audioDelayOn.exchange(0)) c_.bridge.ShowAudioDelayOn(false);
        c_.bridge.ShowAudioDelayFrames(0);
    }
    // 3. Alive for the watchdog.
    r.frameTick.fetch_add(1);
    // 4. Size. The meter sizes its pictures for the new output on the window thread, and is
    // placed again once it has.
    if (!r.videoFormatSeen) {
        r.videoFormatSeen = 1;
        output_.SetUpOutput(f);
        setUp = true;
    } else if (f.xres != output.width || f.yres != output.height) {
        SetMeterChangeFlags(r, kMeterChangePicture);
        output_.SetUpOutput(f);
        setUp = true;
    }
    if (setUp) frameDuration_ = FrameDurationOf(r.outputFormat.rate());
    return setUp;
}

void VideoPath::Configure(const NDIlib_video_frame_v2_t& f, const VideoSettings& settings) {
    const StreamFormat format = StreamFormat::Of(f);
    if (configured_ && format == format_ && settings == settings_) return;
    configured_ = true;
    format_ = format;
    settings_ = settings;
    outputFormat_ = c_.r.outputFormat.Load();
    StageChain chain{settings_, outputFormat_, format_};
    // The preview is the one stage that reads the picture after it is sent.
    chain.sentPictureLendable = !settings_.airSend && !settings_.commsReturn &&
                                !settings_.monitorPreview && !settings_.previewOn;
    activeCount_ = 0;
    for (VideoStage* stage : order_) {
        if (stage->Configure(chain)) active_[activeCount_++] = stage;
    }
    PlanBands();
}

void VideoPath::PlanBands() {
    bandCount_ = 0;
    moverIndex_ = kStageCount;
    bandParity_ = -1;
    if (bandRowsSetting_ == 0) return;
    size_t n = 0;
    size_t mover = kStageCount;
    for (; n < activeCount_; ++n) {
        const BandRole role = active_[n]->Role();
        if (role == BandRole::None) break;
        if (role == BandRole::Moves || role == BandRole::Ends) mover = n;
        if (role == BandRole::Ends) {
            ++n;
            break;
        }
    }
    if (n < 2) return;  // a stage alone passes over the frame once either way
    bandCount_ = n;
    moverIndex_ = mover;
    for (size_t i = 0; i < n; ++i) {
        if (active_[i] == &deinterlace_) bandParity_ = deinterlace_.BandStartParity();
    }
    bandRows_ = bandRowsSetting_ > 0 ? bandRowsSetting_ : BandRowsFromCache(format_.stride);
}

void VideoPath::RunBands(PathFrame& frame) {
    const FrameView source = frame.view();
    for (size_t i = 0; i < bandCount_; ++i)
        active_[i]->Begin(frame);
    // The mover's Begin pointed the frame at its own picture, which the stages after it work on.
    const FrameView moved = frame.view();
    const int height = source.height;
    for (int first = 0; first < height;) {
        int end = std::min(height, first + bandRows_);
        if (bandParity_ >= 0 && end < height && (end & 1) != bandParity_) ++end;
        RowSpan rows{first, end};
        for (size_t i = 0; i < bandCount_ && rows.first < rows.end; ++i)
            rows = active_[i]->Band(frame, i > moverIndex_ ? moved : source, rows);
        first = end;
    }
    for (size_t i = 0; i < bandCount_; ++i)
        active_[i]->End(frame);
}

void VideoPath::ReadFrameInputs(PathFrame& frame) {
    RelayRecord& r = c_.r;
    frame.frameDuration = frameDuration_;
    frame.tables = r.procAmp.AcquireTables();
    frame.overlaySequence = r.overlaySetup.sequenceMode.load(std::memory_order_relaxed) != 0;
    frame.meter = r.ppmMeter ? &r.ppmMeter->pictures() : nullptr;
    frame.meterPosH = LoadMeterSetting(r.meterSettings.meterPosH);
    frame.meterPosV = LoadMeterSetting(r.meterSettings.meterPosV);
}

void VideoPath::ProcessVideoFrame(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    NDIlib_video_frame_v2_t& f = frame_;

    const float rate = FrameRateOf(f);
    // A new output set-up configures the stages afresh (the key and meter outputs take its rate).
    if (Bookkeeping(f, rate)) configured_ = false;

    // The first frames of a thread are never processed or sent.
    if (skipCount_ > 0) {
        --skipCount_;
        c_.ndi.recv_free_video_v2(recv, &f);
        return;
    }
    // A held freeze sends nothing; one grab of the held picture is allowed.
    if (r.freezeState.state() == FreezeState::Held) {
        freezeGrab_.GrabHeldPicture();
        c_.ndi.recv_free_video_v2(recv, &f);
        return;
    }

    Configure(f, ReadVideoSettings(r));
    PathFrame frame;
    frame.out = f;
    frame.rate = rate;
    frame.recv = recv;
    frame.received = &f;
    ReadFrameInputs(frame);
    if (bandCount_ > 0) RunBands(frame);
    for (size_t i = bandCount_; i < activeCount_; ++i)
        active_[i]->Run(frame);
}

}  // namespace velmor
