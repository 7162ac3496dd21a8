// The local monitor's sound devices: the default output of the PulseAudio (or PipeWire-Pulse)
// server, or a WAV file recorder named by VELMOR_MONITOR_WAV, both 48000 Hz, 2 channels, 16-bit.
// Each reads the monitor ring (audio/monitor_queue.h) on a thread of its own; the audio thread
// only ever queues into the ring, so nothing a device does can hold the relay.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "audio/monitor_queue.h"

struct pa_threaded_mainloop;
struct pa_mainloop_api;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_io_event;

namespace velmor {

struct PulseCallbacks;

inline constexpr const char* kMonitorOpenFailedText = "Unable to open wave mapper device";
inline constexpr const char* kMonitorWavVariable = "VELMOR_MONITOR_WAV";

// How long the sound server may keep a connection waiting, and how often a missing or lost server
// is tried again.
inline constexpr std::chrono::milliseconds kMonitorConnectLimit{3000};
inline constexpr std::chrono::milliseconds kMonitorRetryInterval{3000};
// The playback stream's buffer on the server: the monitor's latency, about 40 ms, asked for in
// steps of 10 ms. What the ring holds on top of it is at most one block plus the ring's slack.
inline constexpr size_t kPulseTargetBytes = 40 * kMonitorBytesPerMs;
inline constexpr size_t kPulseRequestBytes = 10 * kMonitorBytesPerMs;

enum class MonitorEvent {
    Playing,      // the device takes audio (first connection, or again after a loss)
    Unavailable,  // the first attempt failed: no local monitoring for now
    Lost,         // it was playing and the sound server went away
};
// Called on the device's own thread (or inside MonitorDevice::Open for the WAV recorder); must
// not wait for the window thread.
using MonitorListener = std::function<void(MonitorEvent)>;

// A playback stream on the sound server's default sink, fed from the ring on libpulse's own
// thread: the stream's write requests and a wake from the audio thread (an eventfd) both move
// what the ring holds into the stream. Connecting, and connecting again after the server went
// away, happen on that thread too; the caller never waits for the server.
class PulseMonitorOutput : private IMonitorWake {
public:
    explicit PulseMonitorOutput(std::chrono::milliseconds retry = kMonitorRetryInterval,
                                std::chrono::milliseconds connectLimit = kMonitorConnectLimit);
    ~PulseMonitorOutput() override;
    PulseMonitorOutput(const PulseMonitorOutput&) = delete;
    PulseMonitorOutput& operator=(const PulseMonitorOutput&) = delete;

    // Starts libpulse's thread and returns at once. That thread connects (PULSE_SERVER or the
    // user's default server, never starting one), reports the first outcome and every later
    // change to `listener`, and tries again every `retry` while there is no server. False only
    // when the thread cannot be made.
    bool Start(MonitorQueue& queue, MonitorListener listener);
    // Lets the server play what is queued, at most `limit`, then disconnects and ends the thread.
    void Close(std::chrono::milliseconds limit);
    bool Playing() const { return playing_.load(std::memory_order_acquire); }

private:
    enum class Timer { Connect, GiveUp };

    void AudioQueued() override;  // the audio thread

    // libpulse's thread, its lock held (libpulse calls them through PulseCallbacks).
    friend struct PulseCallbacks;
    void ContextChanged();
    void StreamChanged();
    void TimerFired();
    void Connect();
    void Disconnect();
    void Arm(Timer what, std::chrono::milliseconds after);
    void Failed();
    void Pump();
    void Report(MonitorEvent event);

    std::chrono::milliseconds retry_, connectLimit_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* timer_ = nullptr;
    Timer timerFor_ = Timer::Connect;
    pa_io_event* wakeEvent_ = nullptr;
    int wakeFd_ = -1;
    MonitorQueue* queue_ = nullptr;
    MonitorListener listener_;
    bool reported_ = false;  // the first outcome was reported
    bool closing_ = false;
    std::atomic<bool> playing_{false};
};

// Writes what the ring holds to a WAV file from a thread of its own: for tests and for recording
// what the operator heard.
class WavMonitorOutput {
public:
    ~WavMonitorOutput();
    bool Open(const std::string& path, MonitorQueue& queue);
    // Writes what is still queued, completes the header sizes and closes the file.
    void Close();

private:
    void Run();
    size_t WriteQueued();

    std::FILE* file_ = nullptr;
    MonitorQueue* queue_ = nullptr;
    uint64_t dataBytes_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Set-up and tear-down of the local monitor on the window thread; neither waits for a sound
// server beyond the exit's bounded play-out.
class MonitorDevice {
public:
    explicit MonitorDevice(std::chrono::milliseconds retry = kMonitorRetryInterval)
        : retry_(retry) {}
    ~MonitorDevice();
    MonitorDevice(const MonitorDevice&) = delete;
    MonitorDevice& operator=(const MonitorDevice&) = delete;

    // Opens the WAV recorder at once when VELMOR_MONITOR_WAV names a file, else starts the sound
    // server's stream in the background. `listener` hears how that went (Unavailable: show
    // kMonitorOpenFailedText once; MonitorTap then only measures) and, for the sound server, each
    // later loss and return.
    void Open(MonitorQueue& queue, MonitorListener listener);
    // Lets what is queued play, at most `limit`, then closes the device.
    void Close(std::chrono::milliseconds limit = std::chrono::milliseconds(1000));
    bool IsPlaying() const;

private:
    std::chrono::milliseconds retry_;
    MonitorQueue* queue_ = nullptr;
    std::unique_ptr<PulseMonitorOutput> pulse_;
    std::unique_ptr<WavMonitorOutput> wav_;
};

}  // namespace velmor
