// The connection procedure, the output set-up and the window-side actions of the engine.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "engine/air_send.h"
#include "engine/engine.h"
#include "engine/metadata_texts.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

constexpr uint32_t kProbeTimeoutMs = 80;

}  // namespace

float FrameRateOf(const NDIlib_video_frame_v2_t& f) {
    return (f.frame_rate_N > 0 && f.frame_rate_D > 0)
               ? static_cast<float>(f.frame_rate_N) / static_cast<float>(f.frame_rate_D)
               : 0.0f;
}

int32_t FrameDurationOf(float rate) {
    if (!(rate > 0.0f)) return 0;
    // A rate such as 1/2147483647 from a broken source would not fit the 32-bit duration.
    const double duration = 10000000.0 / static_cast<double>(rate);
    return duration >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(10000000.0f / rate);
}

std::string VideoFormatCaption(const NDIlib_video_frame_v2_t& frame, float rate) {
    const bool progressive = frame.frame_format_type == NDIlib_frame_format_type_progressive;
    char text[96];
    std::snprintf(text, sizeof text, "%d x %d, %4.2f%c %s", frame.xres, frame.yres,
                  static_cast<double>(progressive ? rate : rate * 2.0f), progressive ? 'p' : 'i',
                  frame.FourCC == NDIlib_FourCC_video_type_UYVY ? "YUV" : "RGBA");
    return text;
}

Engine::Engine(RelayRecord& record, const NdiLibrary& ndi, IWindowBridge& bridge,
               INotifier& notifier, IAudioTap* tap, IPickerControl* picker)
    : r_(record), ndi_(ndi), bridge_(bridge), notifier_(notifier), tap_(tap), picker_(picker) {}

Engine::~Engine() {
    probeCancel_ = true;
    r_.videoThreadRun = 0;
    r_.audioThreadRun = 0;
    if (probeThread_.joinable()) probeThread_.join();
    if (videoThread_.joinable()) videoThread_.join();
    if (audioThread_.joinable()) audioThread_.join();
}

bool Engine::IsConnected() const {
    return probing_ || r_.videoThreadAlive || r_.audioThreadAlive;
}

void Engine::SetWindowPoster(WindowPoster post) {
    post_ = std::move(post);
}

void Engine::ReapThreads() {
    if (!r_.videoThreadAlive && videoThread_.joinable()) videoThread_.join();
    if (!r_.audioThreadAlive && audioThread_.joinable()) audioThread_.join();
}

void Engine::StopAndWait() {
    probeCancel_ = true;
    r_.videoThreadRun = 0;
    r_.audioThreadRun = 0;
    // A probe's completion is a posted task that this loop does not run: finish it here.
    if (probing_ && probeThread_.joinable()) FinishConnection();
    while (r_.videoThreadAlive || r_.audioThreadAlive)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ReapThreads();
}

bool Engine::ConnectToSource(int index) {
    const PickerState& p = r_.picker;
    if (!p.sources || index < 0 || static_cast<uint32_t>(index) >= p.sourceCount) return false;
    return ConnectTo(p.sources[index]);
}

bool Engine::ConnectTo(const NDIlib_source_t& source) {
    // The entry belongs to the finder's array, which the next query replaces: keep a copy.
    r_.sourceListName = source.p_ndi_name ? source.p_ndi_name : "";
    r_.sourceListAddress = source.p_url_address ? source.p_url_address : "";
    r_.sourceList.p_ndi_name = r_.sourceListName.c_str();
    r_.sourceList.p_url_address = r_.sourceListAddress.c_str();
    r_.recvCreate.source_to_connect_to = r_.sourceList;
    r_.recvCreate.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    r_.recvCreate.bandwidth = NDIlib_recv_bandwidth_highest;
    r_.recvCreate.allow_video_fields = true;
    r_.recvCreate.p_ndi_recv_name = nullptr;

    // 1-2. A connection still running or ending only closes.
    videoSkipShown_ = audioSkipShown_ = false;
    r_.audioFormatSeen = 0;
    r_.videoFormatSeen = 0;
    if (IsConnected()) {
        bridge_.SetSourceCaption("Closing current NDI connection");
        probeCancel_ = true;
        r_.audioThreadRun = 0;
        r_.videoThreadRun = 0;
        OverlayAndDelayReset();
        return false;
    }
    ReapThreads();

    // 3. The receiver of an earlier probe that found nothing.
    if (NDIlib_recv_instance_t old = r_.mainReceiver.exchange(nullptr)) {
        r_.audioReceiver = nullptr;
        ndi_.recv_destroy(old);
    }
    // 4. Monitor buffers.
    if (tap_) tap_->ClearBuffers();

    // 5. Receiver.
    NDIlib_recv_instance_t recv = ndi_.recv_create_v3(&r_.recvCreate);
    if (!recv) {
        bridge_.SetSourceCaption("Failed to connect - try again");
        return false;
    }
    r_.mainReceiver = recv;

    // 6-7. Seek done; captions and the stored name.
    r_.seekPending = 0;
    r_.picker.seekArmed = 0;
    r_.scratchText = r_.sourceListAddress + " - " + r_.sourceListName;
    bridge_.SetSourceCaption(r_.scratchText);
    CopyToField(r_.sourceName, r_.sourceListName);

    // 8. What this receiver would like, and who it is.
    for (const std::string* text : {&ReceiverFormatHint(), &ReceiverProductText()}) {
        NDIlib_metadata_frame_t frame{};
        frame.length = static_cast<int>(text->size());
        frame.timecode = NDIlib_send_timecode_synthesize;
        frame.p_data = const_cast<char*>(text->c_str());
        ndi_.recv_add_connection_metadata(recv, &frame);
    }

    // 9. The output type cannot change while connected.
    bridge_.EnableOutputButton(false);

    // 10. Probe until the first video and audio frames have arrived: on a worker when the window
    // must stay responsive, the connection then completes on the window thread.
    probing_ = true;
    probeCancel_ = false;
    if (post_) {
        try {
            probeThread_ = std::thread([this, recv] {
                Probe(recv);
                post_([this] { FinishConnection(); });
            });
            return true;
        } catch (const std::system_error&) {
            // Without a worker the probe runs here, as it always may.
        }
    }
    Probe(recv);
    return FinishConnection();
}

void Engine::Probe(NDIlib_recv_instance_t recv) {
    int videoTries = 30, audioTries = 40;
    while ((videoTries > 0 || audioTries > 0) && !probeCancel_) {
        if (videoTries > 0) --videoTries;
        if (audioTries > 0) --audioTries;
        const bool wantVideo = !r_.videoFormatSeen;
        const bool wantAudio = !r_.audioFormatSeen;
        NDIlib_video_frame_v2_t& video = r_.videoFrame;
        NDIlib_audio_frame_v2_t& audio = r_.audioCapture;
        NDIlib_metadata_frame_t& meta = r_.metadataFrame;
        const NDIlib_frame_type_e type =
            ndi_.recv_capture_v2(recv, wantVideo ? &video : nullptr, wantAudio ? &audio : nullptr,
                                 &meta, kProbeTimeoutMs);
        if (type == NDIlib_frame_type_video && wantVideo) {
            if (!UsableVideoFrame(recv, video)) continue;  // as if nothing had arrived
            r_.videoFormatSeen = 1;
            SetUpOutput(video);
            const int mode = video.frame_format_type == NDIlib_frame_format_type_interleaved
                                 ? r_.settingsRecord.deinterlaceSetting
                                 : 0;
            r_.deinterlaceMode = mode;
            const int shown = (mode >= 0 && mode < 4) ? mode : 0;
            bridge_.SetButton(WindowButton::Deinterlace, deinterlaceColours[shown],
                              kDeinterlaceNames[shown]);
            r_.audioReceiver = recv;
            if (PpmMeter* meter = r_.ppmMeter.get()) meter->SetFrameSize(video.xres, video.yres);
            SetMeterChangeFlags(r_, kMeterChangePicture);
            videoTries = 0;
            ndi_.recv_free_video_v2(recv, &video);
        } else if (type == NDIlib_frame_type_audio && wantAudio) {
            if (!UsableAudioFrame(recv, audio)) continue;
            PrepareAudioRing(audio);
            r_.audioReceiver = recv;
            ndi_.recv_free_audio_v2(recv, &audio);
            r_.audioFormatSeen = 1;
            audioTries = 0;
            EvaluateSignalLamp();
        } else if (type == NDIlib_frame_type_metadata) {
            ndi_.recv_free_metadata(recv, &meta);
        }
    }
}

bool Engine::FinishConnection() {
    if (probeThread_.joinable()) probeThread_.join();
    probing_ = false;
    // 11. Nothing arrived, or the connection was ended meanwhile: the receiver stays held (the
    // next connection or the exit destroys it), no thread runs.
    if ((!r_.videoFormatSeen && !r_.audioFormatSeen) || probeCancel_) {
        bridge_.EnableOutputButton(true);
        return false;
    }

    // 12-13. Senders, then the key+fill split as the menu has it.
    CreateSenders(r_.videoFormatSeen != 0);
    r_.keyFillSplit = r_.keyFillMenuChecked;
    bridge_.ShowKeyFillLabel(r_.keyFillSplit != 0);

    // 14. Threads.
    r_.videoThreadRun = 1;
    r_.audioThreadRun = 1;
    try {
        videoThread_ = std::thread([this] { VideoThread(); });
    } catch (const std::system_error&) {
        notifier_.Show("Video thread creation failed...", "NDI Receiver", MessageButtons::OkCancel);
        bridge_.EnableOutputButton(true);
        return false;
    }
    r_.videoThreadAlive = 1;
    try {
        audioThread_ = std::thread([this] { AudioThread(); });
    } catch (const std::system_error&) {
        r_.videoThreadRun = 0;
        notifier_.Show("Audio thread creation failed...", "NDI Receiver", MessageButtons::OkCancel);
        bridge_.EnableOutputButton(true);
        return false;
    }
    r_.audioThreadAlive = 1;
    return true;
}

void Engine::AddMetadata(NDIlib_send_instance_t sender, const std::string& text) {
    NDIlib_metadata_frame_t frame{};
    frame.length = static_cast<int>(text.size());
    frame.timecode = NDIlib_send_timecode_synthesize;
    frame.p_data = const_cast<char*>(text.c_str());
    ndi_.send_add_connection_metadata(sender, &frame);
}

void Engine::CreateSenders(bool videoSeen) {
    const int n = r_.instanceIndex + 1;
    char name[32];
    if (r_.commsReturn) {
        std::snprintf(name, sizeof name, "comms_return");
    } else {
        std::snprintf(name, sizeof name, "Korvo Velmor %d", n);
    }
    NDIlib_send_create_t settings{};
    settings.p_ndi_name = name;
    settings.p_groups = r_.groupSetup.sendGroups;
    settings.clock_video = videoSeen;
    settings.clock_audio = !videoSeen;

    for (Shared<NDIlib_send_instance_t>* held : {&r_.mainSender, &r_.keySender}) {
        if (NDIlib_send_instance_t old = held->exchange(nullptr)) ndi_.send_destroy(old);
    }
    NDIlib_send_instance_t main = ndi_.send_create(&settings);
    if (!main) return;
    r_.mainSender = main;
    if (!r_.commsReturn) AddMetadata(main, SenderProductText());

    if (r_.keyFillMenuChecked) {
        std::snprintf(name, sizeof name, "Korvo Velmor Key %d", n);
        NDIlib_send_instance_t key = ndi_.send_create(&settings);
        if (!key) return;
        r_.keySender = key;
        AddMetadata(key, SenderProductText());
    }
    if (r_.meterSettings.meterSeparateOutput && !r_.ppmSender && r_.AddMeterSpareBuffer()) {
        std::snprintf(name, sizeof name, "Korvo Velmor PPM %d", n);
        if (NDIlib_send_instance_t ppm = ndi_.send_create(&settings)) {
            r_.ppmSender = ppm;
            AddMetadata(ppm, SenderProductText());
        }
    }
}

void Engine::SetUpOutput(const NDIlib_video_frame_v2_t& frame) {
    // 1. Size and rate. A source without a sensible rate gives no frame duration.
    const float rate = FrameRateOf(frame);
    r_.outputWidth = frame.xres;
    r_.outputHeight = frame.yres;
    r_.outputFrameRate = rate;
    r_.frameDuration = FrameDurationOf(rate);
    r_.outputFourCC = static_cast<uint32_t>(frame.FourCC);

    // 2-3. Captions and lamp.
    bridge_.SetVideoCaption(VideoFormatCaption(frame, rate));
    EvaluateSignalLamp();

    // 4. The second output.
    if (r_.airSendOutput && !r_.airSend) {
        r_.airSend = AirSend_Create(frame.xres, frame.yres, frame.frame_rate_N, frame.frame_rate_D,
                                    frame.frame_format_type != NDIlib_frame_format_type_interleaved,
                                    frame.picture_aspect_ratio, false, 0, 0);
    }

    // The meter sender may still hold a meter buffer, which is cleared or replaced below: let it
    // go first. Frames larger than the key and meter buffers get larger buffers.
    if (NDIlib_send_instance_t ppm = r_.ppmSender) ndi_.send_send_video_async_v2(ppm, nullptr);
    const size_t pixels = static_cast<size_t>(std::max(frame.xres, 0)) * std::max(frame.yres, 0);
    if (pixels * 4 > r_.ppmBuffer.size() || pixels * 2 > r_.keyBuffer.size() ||
        (!r_.ppmBufferSpare.empty() && pixels * 4 > r_.ppmBufferSpare.size())) {
        r_.EnsureOutputBuffers(frame.xres, frame.yres);
    }
    const bool fits = pixels * 4 <= r_.ppmBuffer.size() && pixels * 2 <= r_.keyBuffer.size();

    // 5-7. Key and meter descriptors.
    if (fits) {
        NDIlib_video_frame_v2_t& key = r_.keyFrame;
        key.xres = frame.xres;
        key.yres = frame.yres;
        key.frame_format_type = frame.frame_format_type;
        key.frame_rate_N = frame.frame_rate_N;
        key.frame_rate_D = frame.frame_rate_D;
        key.picture_aspect_ratio = frame.picture_aspect_ratio;
        key.line_stride_in_bytes = 2 * frame.xres;
        key.FourCC = NDIlib_FourCC_video_type_UYVY;
        key.p_data = r_.keyBuffer.data();
        if (r_.keyFillSplit) bridge_.ShowKeyFillLabel(true);
        NDIlib_video_frame_v2_t& ppm = r_.ppmFrame;
        ppm.xres = frame.xres;
        ppm.yres = frame.yres;
        ppm.frame_format_type = NDIlib_frame_format_type_progressive;
        ppm.FourCC = NDIlib_FourCC_video_type_BGRA;
        ppm.frame_rate_N = frame.frame_rate_N;
        ppm.frame_rate_D = frame.frame_rate_D;
        ppm.picture_aspect_ratio = frame.picture_aspect_ratio;
        ppm.line_stride_in_bytes = 4 * frame.xres;
        ppm.p_data = r_.ppmBuffer.data();
        std::memset(r_.ppmBuffer.data(), 0, pixels * 4);
        if (r_.ppmBufferSpare.size() >= pixels * 4)
            std::memset(r_.ppmBufferSpare.data(), 0, pixels * 4);
        ppmStale_ = ppmSpareStale_ = false;
    }

    // 8. EBU for 25 and 50 frames per second, SMPTE otherwise.
    r_.ebuMode = (rate == 25.0f || rate == 50.0f) ? 1 : 0;
    bridge_.ShowEbuMode(r_.ebuMode != 0);
}

void Engine::EvaluateSignalLamp() {
    if (r_.audioFormatSeen && r_.videoFormatSeen) {
        bridge_.SetSignalLamp(Lamp::Magenta);
    } else if (r_.videoFormatSeen) {
        bridge_.SetSignalLamp(Lamp::Red);
    } else {
        bridge_.SetSignalLamp(Lamp::Blue);
    }
}

void Engine::Disconnect() {
    bridge_.StopWatchdog();
    probeCancel_ = true;
    r_.videoThreadRun = 0;
    r_.audioThreadRun = 0;
    bridge_.ShowTime(0);
    r_.ppmOverlayOn = 0;
    OverlayAndDelayReset();
    bridge_.EnableOutputButton(true);
}

void Engine::OnPickerDropDown() {
    probeCancel_ = true;
    r_.videoThreadRun = 0;
    r_.audioThreadRun = 0;
    bridge_.ShowTime(0);
    if (picker_ && picker_->ShowNoSourceSelected()) bridge_.SetSourceCaption("Disconnecting");
    OverlayAndDelayReset();
}

void Engine::OverlayAndDelayReset() {
    r_.overlaySetup.overlayOn = 0;
    bridge_.SetButton(WindowButton::Overlay, 3, "");
    if (r_.freezeState != 0) Freeze();
    r_.mapActive = 0;
    r_.audioDelayFrames = 0;
    bridge_.SetDelayCounter("0");
}

void Engine::Freeze() {
    if (r_.freezeState != 0) {
        bridge_.StopFreezeBlink();
        bridge_.SetButton(WindowButton::Freeze, 2, "Freeze");
        r_.freezeState = 0;
        r_.freezeGrabDone = 0;
        bridge_.SetFreezeLamp(Lamp::Grey);
        return;
    }
    if (!r_.videoThreadRun) return;
    r_.freezeState = 2;
    bridge_.SetButton(WindowButton::Freeze, 1, "Restart");
    bridge_.SetFreezeLamp(Lamp::Red);
    r_.freezeBlinkPhase = 1;
    if (r_.grabSetup.grabOnFreeze) {
        NoteGrabNaming();
        r_.grabRequest = 1;
    }
    bridge_.StartFreezeBlink();
}

void Engine::RequestGrab() {
    if (!videoThread_.joinable()) return;
    NoteGrabNaming();
    r_.grabRequest = 1;
}

void Engine::NoteGrabNaming() {
    if (grabSink_) grabSink_->SetNaming(r_.grabSetup, r_.instanceIndex);
}

void Engine::WatchdogTick() {
    if (r_.frameTick != 0) {
        r_.frameTick = 0;
    } else {
        Disconnect();
    }
}

void Engine::DelayPlus() {
    if (r_.frameRateMismatch) return;
    const int value = std::min(static_cast<int>(r_.audioDelayFrames) + 1, 15);
    r_.audioDelayFrames = static_cast<uint8_t>(value);
    r_.settingsRecord.delayFramesSetting = static_cast<int8_t>(value);
    bridge_.SetDelayCounter(std::to_string(value));
}

void Engine::DelayMinus() {
    if (r_.frameRateMismatch) return;
    const int value = std::max(static_cast<int>(r_.audioDelayFrames) - 1, 0);
    r_.audioDelayFrames = static_cast<uint8_t>(value);
    r_.settingsRecord.delayFramesSetting = static_cast<int8_t>(value);
    bridge_.SetDelayCounter(std::to_string(value));
}

void Engine::ToggleAudioDelay() {
    if (r_.frameRateMismatch) return;
    r_.audioDelayOn = r_.audioDelayOn ? 0 : 1;
    bridge_.SetButton(WindowButton::AudioDelay, r_.audioDelayOn ? 1 : 3, "");
}

void Engine::CloseOutputs() {
    for (Shared<NDIlib_send_instance_t>* held : {&r_.mainSender, &r_.keySender}) {
        if (NDIlib_send_instance_t s = held->exchange(nullptr)) ndi_.send_destroy(s);
    }
    if (NDIlib_send_instance_t ppm = r_.ppmSender.exchange(nullptr)) {
        ndi_.send_send_video_async_v2(ppm, nullptr);  // waits until the last frame is released
        ndi_.send_destroy(ppm);
    }
    if (NDIlib_recv_instance_t recv = r_.mainReceiver.exchange(nullptr)) {
        r_.audioReceiver = nullptr;
        ndi_.recv_destroy(recv);
    }
    if (void* air = r_.airSend.exchange(nullptr)) AirSend_Destroy(air);
}

void Engine::ReleaseAudioRing() {
    for (int i = 0; i < kAudioRingSize; ++i) {
        r_.audioRingBuffers[i].clear();
        r_.audioRingBuffers[i].shrink_to_fit();
        r_.audioRing[i].p_data = nullptr;
    }
}

void Engine::EndThread(Shared<int32_t>& ownAlive, const Shared<int32_t>& otherAlive,
                       NDIlib_recv_instance_t recv) {
    ownAlive.store(0);
    if (otherAlive.load() || !recv) return;
    // Both threads may get here at once; only the one that takes the handle destroys it, and a
    // newer connection's receiver is never touched.
    NDIlib_recv_instance_t expected = recv;
    if (r_.mainReceiver.compare_exchange_strong(expected, nullptr)) {
        expected = recv;
        r_.audioReceiver.compare_exchange_strong(expected, nullptr);
        ndi_.recv_destroy(recv);
    }
}

}  // namespace velmor
