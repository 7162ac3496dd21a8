#include "engine/connection.h"

#include <chrono>
#include <system_error>

#include "engine/engine_actions.h"
#include "engine/metadata_texts.h"
#include "relay/text_fields.h"
#include "relay/video_modes.h"

namespace velmor {

namespace {

constexpr uint32_t kProbeTimeoutMs = 80;

}  // namespace

Connection::Connection(EngineContext& context, OutputSetup& output, FrameLimitGate& gate,
                       VideoPath& video, AudioPath& audio, EngineActions& actions)
    : c_(context), output_(output), gate_(gate), video_(video), audio_(audio), actions_(actions) {}

Connection::~Connection() {
    Stop();
    if (probeThread_.joinable()) probeThread_.join();
    if (videoThread_.joinable()) videoThread_.join();
    if (audioThread_.joinable()) audioThread_.join();
}

void Connection::Stop() {
    probeCancel_ = true;
    c_.r.videoThreadRun = 0;
    c_.r.audioThreadRun = 0;
}

bool Connection::IsConnected() const {
    return probing_ || c_.r.videoThreadAlive || c_.r.audioThreadAlive;
}

void Connection::ReapThreads() {
    if (!c_.r.videoThreadAlive && videoThread_.joinable()) videoThread_.join();
    if (!c_.r.audioThreadAlive && audioThread_.joinable()) audioThread_.join();
}

void Connection::StopAndWait() {
    Stop();
    // A probe's completion is a posted task that this loop does not run: finish it here.
    if (probing_ && probeThread_.joinable()) FinishConnection();
    while (c_.r.videoThreadAlive || c_.r.audioThreadAlive)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ReapThreads();
}

bool Connection::ConnectTo(const NDIlib_source_t& source) {
    RelayRecord& r = c_.r;
    // The entry belongs to the finder's array, which the next query replaces: keep a copy.
    r.sourceListName = source.p_ndi_name ? source.p_ndi_name : "";
    r.sourceListAddress = source.p_url_address ? source.p_url_address : "";
    r.sourceList.p_ndi_name = r.sourceListName.c_str();
    r.sourceList.p_url_address = r.sourceListAddress.c_str();
    r.recvCreate.source_to_connect_to = r.sourceList;
    r.recvCreate.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    r.recvCreate.bandwidth = NDIlib_recv_bandwidth_highest;
    r.recvCreate.allow_video_fields = true;
    r.recvCreate.p_ndi_recv_name = nullptr;

    // 1-2. A connection still running or ending only closes.
    gate_.NewConnection();
    r.audioFormatSeen = 0;
    r.videoFormatSeen = 0;
    if (IsConnected()) {
        c_.bridge.ShowSourceState(SourceState::Closing);
        Stop();
        actions_.OverlayAndDelayReset();
        return false;
    }
    ReapThreads();

    // 3. The receiver of an earlier probe that found nothing.
    if (NDIlib_recv_instance_t old = r.mainReceiver.exchange(nullptr)) c_.ndi.recv_destroy(old);
    // 4. Monitor buffers.
    if (c_.tap) c_.tap->ClearBuffers();

    // 5. Receiver.
    NDIlib_recv_instance_t recv = c_.ndi.recv_create_v3(&r.recvCreate);
    if (!recv) {
        c_.bridge.ShowSourceState(SourceState::ConnectFailed);
        return false;
    }
    r.mainReceiver = recv;

    // 6-7. Seek done; the caption and the stored name.
    r.seekPending = 0;
    r.picker.seekArmed = 0;
    c_.bridge.ShowSourceConnected(r.sourceListAddress, r.sourceListName);
    CopyToField(r.sourceName, r.sourceListName);

    // 8. What this receiver would like, and who it is.
    for (const std::string* text : {&ReceiverFormatHint(), &ReceiverProductText()}) {
        NDIlib_metadata_frame_t frame{};
        frame.length = static_cast<int>(text->size());
        frame.timecode = NDIlib_send_timecode_synthesize;
        frame.p_data = const_cast<char*>(text->c_str());
        c_.ndi.recv_add_connection_metadata(recv, &frame);
    }

    // 9. The output type cannot change while connected.
    c_.bridge.EnableOutputButton(false);

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

void Connection::Probe(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    int videoTries = 30, audioTries = 40;
    NDIlib_video_frame_v2_t video{};
    NDIlib_audio_frame_v2_t audio{};
    NDIlib_metadata_frame_t meta{};
    while ((videoTries > 0 || audioTries > 0) && !probeCancel_) {
        if (videoTries > 0) --videoTries;
        if (audioTries > 0) --audioTries;
        const bool wantVideo = !r.videoFormatSeen;
        const bool wantAudio = !r.audioFormatSeen;
        const NDIlib_frame_type_e type =
            c_.ndi.recv_capture_v2(recv, wantVideo ? &video : nullptr, wantAudio ? &audio : nullptr,
                                   &meta, kProbeTimeoutMs);
        if (type == NDIlib_frame_type_video && wantVideo) {
            if (!gate_.Usable(recv, video)) continue;  // as if nothing had arrived
            r.videoFormatSeen = 1;
            output_.SetUpOutput(video);
            const int mode = video.frame_format_type == NDIlib_frame_format_type_interleaved
                                 ? r.settingsRecord.deinterlaceSetting
                                 : 0;
            r.deinterlaceMode = mode;
            c_.bridge.ShowDeinterlaceMode(DeinterlaceCode(mode));
            SetMeterChangeFlags(r, kMeterChangePicture);
            videoTries = 0;
            c_.ndi.recv_free_video_v2(recv, &video);
        } else if (type == NDIlib_frame_type_audio && wantAudio) {
            if (!gate_.Usable(recv, audio)) continue;
            audio_.PrepareAudioRing(audio);
            c_.ndi.recv_free_audio_v2(recv, &audio);
            r.audioFormatSeen = 1;
            audioTries = 0;
            output_.ReportSignal();
        } else if (type == NDIlib_frame_type_metadata) {
            c_.ndi.recv_free_metadata(recv, &meta);
        }
    }
}

bool Connection::FinishConnection() {
    RelayRecord& r = c_.r;
    if (probeThread_.joinable()) probeThread_.join();
    probing_ = false;
    // 11. Nothing arrived, or the connection was ended meanwhile: the receiver stays held (the
    // next connection or the exit destroys it), no thread runs.
    if ((!r.videoFormatSeen && !r.audioFormatSeen) || probeCancel_) {
        c_.bridge.EnableOutputButton(true);
        return false;
    }

    // 12-13. Senders, then the key+fill split as the menu has it.
    output_.CreateSenders(r.videoFormatSeen != 0);
    r.keyFillSplit = r.keyFillMenuChecked;
    c_.bridge.ShowKeyFillLabel(r.keyFillSplit != 0);

    // 14. Threads, both capturing from the connection's receiver.
    const NDIlib_recv_instance_t recv = r.mainReceiver;
    r.videoThreadRun = 1;
    r.audioThreadRun = 1;
    try {
        videoThread_ = std::thread([this, recv] {
            video_.Run(recv);
            EndThread(c_.r.videoThreadAlive, c_.r.audioThreadAlive, recv);
        });
    } catch (const std::system_error&) {
        c_.notifier.Show("Video thread creation failed...", "NDI Receiver",
                         MessageButtons::OkCancel);
        c_.bridge.EnableOutputButton(true);
        return false;
    }
    r.videoThreadAlive = 1;
    try {
        audioThread_ = std::thread([this, recv] {
            audio_.Run(recv);
            EndThread(c_.r.audioThreadAlive, c_.r.videoThreadAlive, recv);
        });
    } catch (const std::system_error&) {
        r.videoThreadRun = 0;
        c_.notifier.Show("Audio thread creation failed...", "NDI Receiver",
                         MessageButtons::OkCancel);
        c_.bridge.EnableOutputButton(true);
        return false;
    }
    r.audioThreadAlive = 1;
    return true;
}

void Connection::EndThread(std::atomic<int32_t>& ownAlive, const std::atomic<int32_t>& otherAlive,
                           NDIlib_recv_instance_t recv) {
    ownAlive.store(0);
    if (otherAlive.load() || !recv) return;
    // Both threads may get here at once; only the one that takes the handle destroys it, and a
    // newer connection's receiver is never touched.
    NDIlib_recv_instance_t expected = recv;
    if (c_.r.mainReceiver.compare_exchange_strong(expected, nullptr)) c_.ndi.recv_destroy(recv);
}

}  // namespace velmor
