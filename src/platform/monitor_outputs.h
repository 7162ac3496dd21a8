// The local monitor's sound devices: the default output of the PulseAudio (or PipeWire-Pulse)
// server, or a WAV file recorder named by VELMOR_MONITOR_WAV, both 48000 Hz, 2 channels, 16-bit.
#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "audio/monitor_queue.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace velmor {

inline constexpr const char* kMonitorOpenFailedText = "Unable to open wave mapper device";
inline constexpr const char* kMonitorWavVariable = "VELMOR_MONITOR_WAV";

// Playback stream on the sound server's default sink. A buffer counts as done once the server has
// taken it into its short playback buffer (about two ring buffers ahead of the speaker), so a slow
// server holds the ring back exactly like a slow device.
class PulseMonitorOutput : public IMonitorOutput {
public:
    PulseMonitorOutput() = default;
    ~PulseMonitorOutput() override;
    PulseMonitorOutput(const PulseMonitorOutput&) = delete;
    PulseMonitorOutput& operator=(const PulseMonitorOutput&) = delete;

    // Connects to the server (PULSE_SERVER or the user's default) within `timeout`. False when no
    // server is reachable or the stream cannot be made.
    bool Open(MonitorQueue& queue,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    bool Write(const uint8_t* data, size_t bytes) override;
    // Lets the server play what it holds, at most `limit`, then disconnects.
    void Close(std::chrono::milliseconds limit);

private:
    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWritable(pa_stream* stream, size_t bytes, void* self);
    void Pump();           // mainloop lock held
    void ReturnPending();  // mainloop lock held: the server is gone, give the buffers back

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    MonitorQueue* queue_ = nullptr;
    std::deque<std::vector<uint8_t>> pending_;  // accepted, not yet taken by the server
    size_t frontOffset_ = 0;                    // bytes of the first pending buffer already taken
};

// Writes every buffer to a WAV file and reports it done at once: for tests and for recording what
// the operator heard.
class WavMonitorOutput : public IMonitorOutput {
public:
    ~WavMonitorOutput() override;
    bool Open(const std::string& path, MonitorQueue& queue);
    bool Write(const uint8_t* data, size_t bytes) override;
    // Completes the header sizes and closes the file.
    void Close();

private:
    std::FILE* file_ = nullptr;
    MonitorQueue* queue_ = nullptr;
    uint64_t dataBytes_ = 0;
};

// Set-up and tear-down of the local monitor on the window thread.
class MonitorDevice {
public:
    ~MonitorDevice();
    // Opens the WAV recorder when VELMOR_MONITOR_WAV names a file, else the sound server, and
    // attaches it to the ring. False: no local monitoring (show kMonitorOpenFailedText once);
    // MonitorTap then only measures.
    bool Open(MonitorQueue& queue);
    // Waits until the queued buffers have played, at most `limit`, then closes the device.
    void Close(std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
    bool IsOpen() const { return queue_ != nullptr; }

private:
    MonitorQueue* queue_ = nullptr;
    std::unique_ptr<PulseMonitorOutput> pulse_;
    std::unique_ptr<WavMonitorOutput> wav_;
};

}  // namespace velmor
