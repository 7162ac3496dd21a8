// The relay engine of one copy: the connection procedure, the output set-up, the video and audio
// threads, and the engine-side actions of the main window (Disconnect, Freeze, grab requests, the
// watchdog, the signal lamp, the audio delay buttons and the exit clean-up).
//
// Threads: every public method except the thread bodies runs on the window thread. The video and
// audio threads run from a connection until their run flags are cleared; they read the record's
// settings on every frame and reach the window only through IWindowBridge (synchronous calls).
// The receiver is destroyed exactly once, by whichever thread ends last.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "engine/grab_sink.h"
#include "engine/window_bridge.h"
#include "ndi/ndi_library.h"
#include "relay/notifier.h"
#include "relay/relay_record.h"

namespace velmor {

// The local monitor as the engine sees it (the sound output fills it in).
class IAudioTap {
public:
    virtual ~IAudioTap() = default;
    // Audio thread, last step for every captured block: meters and local monitoring.
    virtual void MonitorTap(RelayRecord& record, const NDIlib_audio_frame_v2_t& frame) = 0;
    // Window thread, at each connection: the monitor's sample buffers are cleared.
    virtual void ClearBuffers() = 0;
};

// Picker operations that a connection change needs (the source picker implements it).
class IPickerControl {
public:
    virtual ~IPickerControl() = default;
    // Puts "No source selected" in place; true when done.
    virtual bool ShowNoSourceSelected() = 0;
};

class Engine {
public:
    Engine(RelayRecord& record, const NdiLibrary& ndi, IWindowBridge& bridge, INotifier& notifier,
           IAudioTap* tap = nullptr, IPickerControl* picker = nullptr);
    // Requires both threads to have ended (see StopAndWait); joins them.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Frame grabs go to `sink` (encoded and written on its own thread) instead of the window's
    // synchronous WriteGrab. Set before connecting; the sink must outlive the engine threads.
    void SetGrabSink(IGrabSink* sink) { grabSink_ = sink; }

    // --- Connection (window thread) ---
    // Runs a task on the window thread later, never waiting (the application's event loop).
    using WindowPoster = std::function<void(std::function<void()>)>;
    // With a poster, the connection probe (up to 40 captures of 80 ms) runs on a worker thread so
    // the window stays responsive, and the connection completes in a task posted back to the
    // window thread; the probe is cancelled by anything that ends a connection. Without one (the
    // engine tests), the probe runs on the calling thread.
    void SetWindowPoster(WindowPoster post);
    // Connects to source `index` of the picker's current array. Returns true when the threads
    // were started (or, with a poster, when the probe was started).
    bool ConnectToSource(int index);
    // Connects to the given source entry (copied).
    bool ConnectTo(const NDIlib_source_t& source);
    // Everything that depends on the video format; window thread during the probe, video thread
    // on a format change.
    void SetUpOutput(const NDIlib_video_frame_v2_t& frame);
    // Probing, or an engine thread alive: the state in which exit, group changes and a new
    // source are refused.
    bool IsConnected() const;
    bool IsProbing() const { return probing_; }
    // Joins threads that have ended. Never waits for a running thread.
    void ReapThreads();
    // Clears the run flags and waits (polling) until both threads have ended, for the headless
    // runner and tests; the GUI instead lets the threads end and reaps them later.
    void StopAndWait();

    // --- Main window actions (window thread) ---
    void Disconnect();  // the "Disconnect" button, without the picker reset
    void OnPickerDropDown();
    void OverlayAndDelayReset();
    void Freeze();
    void RequestGrab();  // F12, the button and the remote command: only while a video thread exists
    void WatchdogTick();  // timer 5
    void EvaluateSignalLamp();
    void DelayPlus();
    void DelayMinus();
    void ToggleAudioDelay();

    // --- Exit (window thread, no thread alive) ---
    // Senders (the meter sender flushed first), the receiver and the AirSend output.
    void CloseOutputs();
    // The 16 audio ring buffers.
    void ReleaseAudioRing();

    // --- Audio processing, exposed for the audio thread and tests ---
    // Writes the processed frame into slot ringWrite; false when that slot has no buffer.
    bool RemapAudioFrame(const NDIlib_audio_frame_v2_t& frame);
    // Once per connection, with the first audio frame.
    void PrepareAudioRing(const NDIlib_audio_frame_v2_t& frame);

private:
    void Probe(NDIlib_recv_instance_t recv);
    // Steps 11-14 of the connection, on the window thread once the probe has ended.
    bool FinishConnection();
    void VideoThread();
    void AudioThread();
    void HandleMetadata(NDIlib_recv_instance_t recv);
    void ProcessVideoFrame(NDIlib_recv_instance_t recv);
    void CopyFrameToGrabImage(const NDIlib_video_frame_v2_t& frame);
    // Whether a grab can be handed over now (always, without a sink).
    bool GrabReady();
    // The amber lamp, then grabImage to the sink (or the window's WriteGrab).
    void DeliverGrab();
    // The naming of a requested grab, for the sink (window thread).
    void NoteGrabNaming();
    // A frame beyond the limits of frame_limits.h is released at once and counted; the first of a
    // connection is shown in the caption. True when the frame may be used.
    bool UsableVideoFrame(NDIlib_recv_instance_t recv, NDIlib_video_frame_v2_t& frame);
    bool UsableAudioFrame(NDIlib_recv_instance_t recv, NDIlib_audio_frame_v2_t& frame);
    void SendMeterFrame(NDIlib_send_instance_t ppm);
    void DrawMeter(NDIlib_video_frame_v2_t& frame);
    void ShowFormatCaption(const NDIlib_video_frame_v2_t& frame, float rate);
    // The thread that ends last destroys the receiver it captured from.
    void EndThread(Shared<int32_t>& ownAlive, const Shared<int32_t>& otherAlive,
                   NDIlib_recv_instance_t recv);
    void CreateSenders(bool videoSeen);
    void AddMetadata(NDIlib_send_instance_t sender, const std::string& text);

    RelayRecord& r_;
    const NdiLibrary& ndi_;
    IWindowBridge& bridge_;
    INotifier& notifier_;
    IAudioTap* tap_;
    IPickerControl* picker_;
    IGrabSink* grabSink_ = nullptr;
    std::thread videoThread_;
    std::thread audioThread_;
    std::thread probeThread_;
    WindowPoster post_;
    bool probing_ = false;  // window thread
    std::atomic<bool> probeCancel_{false};

    // Video thread state, reset at each thread start.
    float lastRateSeen_ = 0.0f;
    int skipCount_ = 3;
    NDIlib_tally_t lastTally_{};
    int lastSecond_ = 0;
    int meterX_ = 20, meterY_ = 20;  // placement of the meter picture, kept between frames
    uint32_t placedGeometry_ = 0;    // MeterPicture::geometry of the picture placed last
    // The meter buffers still hold the meter at a placement since changed (current, spare).
    bool ppmStale_ = false, ppmSpareStale_ = false;
    // The first skipped frame of a connection has been shown (video thread or probe / audio).
    bool videoSkipShown_ = false, audioSkipShown_ = false;
};

// A frame's rate as a float (0 for a source without a sensible rate), and one frame in 100-ns
// units, truncated (0 without a rate; at most the largest int32 for a vanishingly small rate).
float FrameRateOf(const NDIlib_video_frame_v2_t& frame);
int32_t FrameDurationOf(float rate);

// The caption of a video format: "%d x %d, %4.2f%c %s".
std::string VideoFormatCaption(const NDIlib_video_frame_v2_t& frame, float rate);

}  // namespace velmor
