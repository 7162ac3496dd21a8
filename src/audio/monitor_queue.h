// Local monitoring: the ring of 16 x 4096-byte buffers that carries what the operator hears to the
// sound device, and MonitorTap, which turns one received audio block into 16-bit stereo for it.
// Plain C++: the sound device itself lives behind IMonitorOutput (platform/ implements it).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velmor {

inline constexpr int kMonitorBuffers = 16;
inline constexpr int kMonitorBufferBytes = 4096;  // 1024 stereo 16-bit pairs, ~21.3 ms
inline constexpr int kMonitorSampleRate = 48000;
inline constexpr int kMonitorChannels = 2;

// The sound device. Write hands over one full buffer; the data is copied or consumed before Write
// returns, so the ring may refill that buffer at once. Once the device has played it, the device
// calls MonitorQueue::BufferDone from any thread. A false return means the buffer was not taken.
class IMonitorOutput {
public:
    virtual ~IMonitorOutput() = default;
    virtual bool Write(const uint8_t* data, size_t bytes) = 0;
};

class MonitorQueue {
public:
    // stallLimit bounds how long one block waits for a free buffer. A device that returns nothing
    // for that long is treated as stuck: the rest of the block is dropped and later blocks do not
    // wait until the device returns a buffer again, so a dead sound server cannot stop the relay.
    // The default leaves room for a sound server's slow first request (up to about a second).
    explicit MonitorQueue(std::chrono::milliseconds stallLimit = std::chrono::milliseconds(3000));

    MonitorQueue(const MonitorQueue&) = delete;
    MonitorQueue& operator=(const MonitorQueue&) = delete;

    // Set-up and tear-down, window thread. Attach resets the ring to empty with all 16 free.
    void Attach(IMonitorOutput* output);
    // Waits in 10 ms steps until every queued buffer has come back, at most `limit`; then forgets
    // the output and discards a partly filled buffer. Returns true when everything had played.
    bool Detach(std::chrono::milliseconds limit);
    bool IsOpen() const;

    // Window thread, at each connection while no audio thread runs: zeroes the sample buffers
    // (fill counts stay, so a partly filled buffer is completed with silence).
    void ClearBuffers();

    // Audio thread: append bytes; every buffer that becomes full goes to the device at once.
    void Queue(const uint8_t* src, size_t bytes);

    // Device thread: one buffer has played.
    void BufferDone();

    int FreeBuffers() const;
    int Index() const;                // buffer being filled
    int FillCount(int buffer) const;  // bytes already in that buffer
    uint64_t DroppedBytes() const;    // bytes not played because the device was stuck or failed

private:
    bool WaitForFree();

    mutable std::mutex lock_;  // guards free_, dropped_ and stalled_
    int free_ = kMonitorBuffers;
    bool stalled_ = false;
    uint64_t dropped_ = 0;

    // Touched by the audio thread only (and by set-up/tear-down while no audio thread runs).
    std::atomic<IMonitorOutput*> output_{nullptr};
    std::unique_ptr<std::array<std::array<uint8_t, kMonitorBufferBytes>, kMonitorBuffers>> ring_;
    std::array<int, kMonitorBuffers> fill_{};
    int index_ = 0;
    std::chrono::milliseconds stallLimit_;
};

// Settings MonitorTap reads, copied from the relay record by the caller for each block.
struct MonitorTapSettings {
    float monitorLevel = 1.0f;  // 1.0 Full, 0.25 Dim, 0.0 Mute
    int32_t ebuMode = 1;
    int32_t mapDialogOpen = 0;
    int32_t mapEntry0 = 0;  // input channel heard on the left while the audio map dialog is open
    int32_t mapEntry1 = 1;  // input channel heard on the right
    float mapGain = 1.0f;   // the dialog's preview gain
};

// One planar float block: channel k starts at data + k * channelStride floats.
struct AudioBlockView {
    float* data = nullptr;
    int channels = 0;
    int samples = 0;
    int channelStride = 0;
};

// Measures the two tapped planes (either may be null) before conversion and returns the meter scale
// that applies to this block; previewGain is 0 when the audio map dialog is closed.
using MonitorMeterFn =
    std::function<float(float* left, float* right, int samples, float previewGain)>;

inline constexpr float kMonitorKEbu = 0.63095737f;    // 10^(-4/20)
inline constexpr float kMonitorKSmpte = 0.5011872f;   // 10^(-6/20)
inline constexpr float kMeterScaleEbu = 0.15848932f;  // 10^(-16/20)
inline constexpr float kMeterScaleSmpte = 0.1f;

float MonitorFactor(float monitorLevel, float meterScale, int32_t ebuMode);

// Converts `samples` floats to 16-bit with factor F, truncating toward zero and clamping to the
// 16-bit range (NaN plays as 0). A null plane writes silence. Output is interleaved L, R.
void ConvertMonitorPairs(const float* left, const float* right, int samples, float factor,
                         int16_t* out);

// The audio thread's per-block tap: choose the two planes, let the meter measure them, convert and
// queue. `scratch` is reused between blocks so the tap does not allocate in the steady state.
void MonitorTap(const MonitorTapSettings& settings, const AudioBlockView& block,
                const MonitorMeterFn& meter, MonitorQueue* queue, std::vector<int16_t>& scratch);

// The level picture beside the monitor label: a click at row y (client coordinates) selects
// 2 Full (y <= 8), 1 Dim (y <= 16) or 0 Mute.
inline int MonitorLevelForClick(int y) {
    return y <= 8 ? 2 : (y <= 16 ? 1 : 0);
}

}  // namespace velmor
