// The relay engine of one copy, made of its parts (each header says what it does and on which
// thread):
//
//   connection.h      the connection procedure, the probe, the threads and how they end
//   output_setup.h    what depends on the video format, the senders, the exit clean-up
//   video_path.h      the video thread: the ordered stages a frame passes
//   audio_path.h      the audio thread: map, mix, gain, delay, send, monitor
//   video_outputs.h   where the video path's stages send and report
//   engine_actions.h  the main window's buttons that act on the engine
//
// Threads: every public method runs on the window thread. The engine reaches the window only
// through IWindowBridge, which reports states; the window side chooses what they look like. The
// receiver is destroyed exactly once, by whichever thread ends last.
#pragma once

#include "engine/audio_path.h"
#include "engine/connection.h"
#include "engine/engine_actions.h"
#include "engine/engine_context.h"
#include "engine/frame_limits.h"
#include "engine/output_setup.h"
#include "engine/video_path.h"
#include "relay/audio_map.h"

namespace velmor {

class Engine {
public:
    Engine(RelayRecord& record, const NdiLibrary& ndi, IWindowBridge& bridge, INotifier& notifier,
           IAudioTap* tap = nullptr, IPickerControl* picker = nullptr);
    // Requires both threads to have ended (see StopAndWait); joins them.
    ~Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Frame grabs go to `sink` (encoded and written on its own thread) instead of the window's
    // synchronous WriteGrab. Set while no engine thread runs; the sink must outlive the threads.
    void SetGrabSink(IGrabSink* sink) { context_.grabSink = sink; }
    // The AirSend operations (platform/air_send_writer.h). Without them there is no AirSend output.
    void SetAirSend(const AirSendLibrary* library) { context_.airSend = library; }

    // Rows a band of the video path (VideoPath::SetBandRows); set while no engine thread runs.
    void SetBandRows(int rows) { video_.SetBandRows(rows); }

    // --- Connection (window thread) ---
    using WindowPoster = Connection::WindowPoster;
    // With a poster, the connection probe (up to 40 captures of 80 ms) runs on a worker thread so
    // the window stays responsive, and the connection completes in a task posted back to the
    // window thread; the probe is cancelled by anything that ends a connection. Without one (the
    // engine tests), the probe runs on the calling thread.
    void SetWindowPoster(WindowPoster post) { connection_.SetWindowPoster(std::move(post)); }
    // Connects to source `index` of the picker's current array.
    bool ConnectToSource(int index);
    bool ConnectTo(const NDIlib_source_t& source) { return connection_.ConnectTo(source); }
    void SetUpOutput(const NDIlib_video_frame_v2_t& frame) { output_.SetUpOutput(frame); }
    // Probing, or an engine thread alive: the state in which exit, group changes and a new
    // source are refused.
    bool IsConnected() const { return connection_.IsConnected(); }
    bool IsProbing() const { return connection_.IsProbing(); }
    void ReapThreads() { connection_.ReapThreads(); }
    // Clears the run flags and waits (polling) until both threads have ended, for the headless
    // runner and tests; the GUI instead lets the threads end and reaps them later.
    void StopAndWait() { connection_.StopAndWait(); }

    // --- Main window actions (window thread) ---
    void Disconnect() { actions_.Disconnect(); }
    void OnPickerDropDown() { actions_.OnPickerDropDown(); }
    void OverlayAndDelayReset() { actions_.OverlayAndDelayReset(); }
    void Freeze() { actions_.Freeze(); }
    void RequestGrab() { actions_.RequestGrab(); }
    bool WatchdogExpired() { return actions_.WatchdogExpired(); }
    void ReportSignal() { output_.ReportSignal(); }
    void DelayPlus() { actions_.DelayPlus(); }
    void DelayMinus() { actions_.DelayMinus(); }
    void ToggleAudioDelay() { actions_.ToggleAudioDelay(); }

    // --- Exit (window thread, no thread alive) ---
    void CloseOutputs() { output_.CloseOutputs(); }
    void ReleaseAudioRing() { audio_.ReleaseAudioRing(); }

    // --- Audio processing, exposed for tests (while no audio thread runs) ---
    // With the record's audio settings as they stand (published first).
    bool RemapAudioFrame(const NDIlib_audio_frame_v2_t& frame) {
        PublishAudioSettings(context_.r);
        return audio_.RemapAudioFrame(frame, context_.r.audioSettings.Latest());
    }
    void PrepareAudioRing(const NDIlib_audio_frame_v2_t& frame) { audio_.PrepareAudioRing(frame); }
    const AudioRing& audioRing() const { return audio_.ring(); }

private:
    EngineContext context_;
    FrameLimitGate gate_{context_};
    OutputSetup output_{context_};
    AudioPath audio_{context_, gate_};
    VideoPath video_{context_, output_, gate_};
    EngineActions actions_{context_, connection_};
    // Last: its destructor stops and joins the threads that use everything above.
    Connection connection_{context_, output_, gate_, video_, audio_, actions_};
};

}  // namespace velmor
