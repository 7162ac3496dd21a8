// The connection procedure: the receiver for the chosen source, the probe until its formats are
// known, the senders, the two engine threads, and how a connection ends (the receiver destroyed
// once, by whichever thread ends last).
//
// Window thread, except the probe, which runs on a worker when the application gives a window
// poster, and the thread bodies.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "engine/audio_path.h"
#include "engine/engine_context.h"
#include "engine/frame_limits.h"
#include "engine/output_setup.h"
#include "engine/video_path.h"

namespace velmor {

class EngineActions;

class Connection {
public:
    // Runs a task on the window thread later, never waiting (the application's event loop).
    using WindowPoster = std::function<void(std::function<void()>)>;

    Connection(EngineContext& context, OutputSetup& output, FrameLimitGate& gate, VideoPath& video,
               AudioPath& audio, EngineActions& actions);
    // Asks both threads and the probe to stop and joins them (they must be ending).
    ~Connection();

    void SetWindowPoster(WindowPoster post) { post_ = std::move(post); }
    // Connects to the given source entry (copied). True when the threads were started (or, with a
    // poster, when the probe was started).
    bool ConnectTo(const NDIlib_source_t& source);
    // Clears both run flags and cancels a probe: the connection ends.
    void Stop();
    // Probing, or an engine thread alive.
    bool IsConnected() const;
    bool IsProbing() const { return probing_; }
    bool HasVideoThread() const { return videoThread_.joinable(); }
    // Joins threads that have ended. Never waits for a running thread.
    void ReapThreads();
    // Stop, then wait (polling) until both threads have ended.
    void StopAndWait();

private:
    void Probe(NDIlib_recv_instance_t recv);
    // Steps 11-14 of the connection, on the window thread once the probe has ended.
    bool FinishConnection();
    // The thread that ends last destroys the receiver it captured from.
    void EndThread(std::atomic<int32_t>& ownAlive, const std::atomic<int32_t>& otherAlive,
                   NDIlib_recv_instance_t recv);

    EngineContext& c_;
    OutputSetup& output_;
    FrameLimitGate& gate_;
    VideoPath& video_;
    AudioPath& audio_;
    EngineActions& actions_;
    std::thread videoThread_;
    std::thread audioThread_;
    std::thread probeThread_;
    WindowPoster post_;
    bool probing_ = false;  // window thread
    std::atomic<bool> probeCancel_{false};
};

}  // namespace velmor
