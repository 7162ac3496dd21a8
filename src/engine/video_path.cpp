#include "engine/video_path.h"

#include <atomic>

#include "engine/metadata_texts.h"

namespace velmor {

namespace {

constexpr uint32_t kCaptureTimeoutMs = 100;

}  // namespace

VideoSettings ReadVideoSettings(RelayRecord& r) {
    VideoSettings s;
    const MeterSettings& ms = r.meterSettings;
    const int layout = LoadMeterSetting(ms.meterLayout);
    const bool separate = LoadMeterSetting(ms.meterSeparateOutput) != 0;
    const ProcAmpState& pa = r.procAmp;
    const bool procAmp = pa.active != 0;
    const PpmMeter* meter = r.ppmMeter.get();
    const bool meterOn = meter && meter->ppmEnabled.load(std::memory_order_relaxed);
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
      deinterlace_(context),
      procAmp_(context),
      overlay_(context),
      meter_(context),
      geometry_(context),
      timecode_(context),
      freezeGrab_(context),
      keySplit_(context),
      send_(context),
      preview_(context),
      release_(context),
      tally_(context),
      time_(context),
      // The road of a frame, in order.
      order_{&deinterlace_, &procAmp_, &overlay_, &meter_,   &geometry_, &timecode_, &freezeGrab_,
             &keySplit_,    &send_,    &preview_, &release_, &tally_,    &time_} {}

void VideoPath::Run(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    r.frameTick = 0;
    if (r.airSendOutput) c_.bridge.StartWatchdog();
    lastRateSeen_ = r.outputFrameRate;
    skipCount_ = 3;
    tally_.Reset();
    time_.Reset();
    live_.Reset();
    configured_ = false;

    while (r.videoThreadRun) {
        const NDIlib_frame_type_e type = c_.ndi.recv_capture_v2(
            recv, &r.videoFrame, nullptr, &r.metadataFrame, kCaptureTimeoutMs);
        if (type == NDIlib_frame_type_metadata) {
            HandleMetadata(recv, r.metadataFrame);
        } else if (type == NDIlib_frame_type_video && gate_.Usable(recv, r.videoFrame)) {
            r.counters.videoFramesReceived.fetch_add(1, std::memory_order_relaxed);
            CatchUp(recv);
            ProcessVideoFrame(recv);
        }
    }
    c_.bridge.ShowMediaEnded(MediaKind::Video);
}

void VideoPath::CatchUp(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    NDIlib_video_frame_v2_t& f = r.videoFrame;
    const int32_t duration = r.frameDuration;
    const int64_t frameDuration = duration > 0 ? duration : FrameDurationOf(60.0f);
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
    const int tally = TallyEchoState(MetadataFrameText(m));
    if (tally >= 0) c_.r.preview.tallyState = tally;
    c_.ndi.recv_free_metadata(recv, &m);
}

bool VideoPath::Bookkeeping(const NDIlib_video_frame_v2_t& f, float rate) {
    RelayRecord& r = c_.r;
    bool setUp = false;
    // 1. Rate: while it differs from the output's, the output is not set up again.
    if (rate == r.outputFrameRate) {
        if (r.frameRateMismatch) {
            r.frameRateMismatch = 0;
            output_.SetUpOutput(f);
            setUp = true;
            r.frameDuration = FrameDurationOf(r.outputFrameRate);
        }
    } else if (!r.frameRateMismatch) {
        r.frameRateMismatch = 1;
        c_.bridge.ShowVideoFormat(FormatReportOf(f, rate));
        lastRateSeen_ = rate;
        r.frameDuration = FrameDurationOf(rate);
    } else if (rate != lastRateSeen_) {
        c_.bridge.ShowVideoFormat(FormatReportOf(f, rate));
        r.lastRate = rate;
        lastRateSeen_ = rate;
        r.frameDuration = FrameDurationOf(rate);
    }
    // 2. No audio delay while the rates differ.
    if (r.frameRateMismatch && (r.audioDelayFrames != 0 || r.audioDelayOn)) {
        r.audioDelayFrames = 0;
        if (r.audioDelayOn.exchange(0)) c_.bridge.ShowAudioDelayOn(false);
        c_.bridge.ShowAudioDelayFrames(0);
    }
    // 3. Alive for the watchdog.
    r.frameTick.fetch_add(1);
    // 4. Size.
    if (!r.videoFormatSeen) {
        r.videoFormatSeen = 1;
        output_.SetUpOutput(f);
        setUp = true;
    } else if (f.xres != r.outputWidth || f.yres != r.outputHeight) {
        if (PpmMeter* meter = r.ppmMeter.get()) meter->SetFrameSize(f.xres, f.yres);
        SetMeterChangeFlags(r, kMeterChangePicture);
        output_.SetUpOutput(f);
        setUp = true;
    }
    return setUp;
}

void VideoPath::Configure(const NDIlib_video_frame_v2_t& f, const VideoSettings& settings) {
    const StreamFormat format = StreamFormat::Of(f);
    if (configured_ && format == format_ && settings == settings_) return;
    configured_ = true;
    format_ = format;
    settings_ = settings;
    StageChain chain{settings_, format_};
    activeCount_ = 0;
    for (VideoStage* stage : order_) {
        if (stage->Configure(chain)) active_[activeCount_++] = stage;
    }
}

void VideoPath::ProcessVideoFrame(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    NDIlib_video_frame_v2_t& f = r.videoFrame;

    const float rate = FrameRateOf(f);
    // The set-up describes the key and meter outputs afresh: the stages describe them again.
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
    frame.tables = r.procAmp.AcquireTables();
    frame.recv = recv;
    frame.received = &f;
    for (size_t i = 0; i < activeCount_; ++i)
        active_[i]->Run(frame);
}

}  // namespace velmor
