// Local monitoring: the ring that carries what the operator hears from the audio thread to the
// sound device, and MonitorTap, which turns one received audio block into 16-bit stereo for it.
// Plain C++: the sound device itself lives in platform/ and reads the ring from a thread of its
// own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "audio/meter_measure.h"

namespace velmor {

inline constexpr int kMonitorSampleRate = 48000;
inline constexpr int kMonitorChannels = 2;
inline constexpr size_t kMonitorPairBytes = 4;  // one 16-bit stereo sample pair
inline constexpr size_t kMonitorBytesPerMs = kMonitorSampleRate * kMonitorPairBytes / 1000;

// The ring holds 8192 pairs (about 171 ms): room for a few blocks of any usual frame rate that a
// late device thread has not taken yet. It is not a delay: the device takes audio as soon as it
// has room for it, and a backlog beyond one block plus kMonitorSlackBytes is dropped.
inline constexpr size_t kMonitorRingBytes = 32768;
// How far the queued audio may run ahead of the newest block before its oldest part is dropped:
// room for the device thread's scheduling jitter, no more.
inline constexpr size_t kMonitorSlackBytes = 30 * kMonitorBytesPerMs;

// Told by the audio thread each time it has queued audio, so that a device thread that sleeps
// until there is something to play wakes at once. Must return at once and never wait.
class IMonitorWake {
public:
    virtual ~IMonitorWake() = default;
    virtual void AudioQueued() = 0;
};

// A single-producer, single-consumer ring of 16-bit stereo pairs between the audio thread (the
// producer, MonitorTap) and the sound device's thread (the consumer). Neither side ever waits for
// the other: a full ring drops the newest audio, and the consumer drops the oldest when the ring
// holds more than the monitor's latency allows (after a stall of the device). The sound server
// can therefore stall, die or come back without holding the audio thread, and so the relay, for
// a moment. Both kinds of drop are counted.
class MonitorQueue {
public:
    // `capacityBytes`: a power of two, at least 4 (tests use small rings).
    explicit MonitorQueue(size_t capacityBytes = kMonitorRingBytes);
    MonitorQueue(const MonitorQueue&) = delete;
    MonitorQueue& operator=(const MonitorQueue&) = delete;

    // --- The audio thread (the one producer). ---
    // True while a device takes audio; MonitorTap queues only then.
    bool IsOpen() const { return open_.load(std::memory_order_acquire); }
    // Appends the whole pairs of `bytes` and wakes the consumer; never waits. What does not fit
    // is dropped and counted. Returns the bytes queued.
    size_t Queue(const uint8_t* src, size_t bytes);

    // --- The device's thread (the one consumer). ---
    // Forgets what was queued (audio from before the device was there) and takes audio from now.
    void Open();
    // Takes no more audio; what is queued stays until the next Open.
    void Close() { open_.store(false, std::memory_order_release); }
    // The oldest queued bytes that lie in one piece (up to the ring's end); Consume releases them.
    std::span<const uint8_t> Peek() const;
    void Consume(size_t bytes);
    // Copies and releases up to `max` bytes, across the ring's end. Returns the bytes copied.
    size_t Read(uint8_t* dst, size_t max);
    // When more is queued than the newest block plus kMonitorSlackBytes, drops the oldest part and
    // keeps the newest block: after a stall the monitor comes back at its usual latency instead of
    // playing everything that waited meanwhile. Returns the bytes dropped.
    size_t TrimLatency();

    // Set and cleared while no audio thread runs (start-up, exit); the wake must outlive its use.
    void SetWake(IMonitorWake* wake) { wake_.store(wake, std::memory_order_release); }

    // --- Any thread: snapshots. ---
    size_t Queued() const;
    size_t Capacity() const { return capacity_; }
    uint64_t DroppedBytes() const { return dropped_.load(std::memory_order_relaxed); }  // full
    uint64_t TrimmedBytes() const { return trimmed_.load(std::memory_order_relaxed); }  // late
    uint64_t TakenBytes() const { return taken_.load(std::memory_order_relaxed); }      // by device

private:
    const size_t capacity_;
    const size_t mask_;
    std::unique_ptr<uint8_t[]> ring_;
    // Bytes ever queued and ever released: head_ is written by the producer only, tail_ by the
    // consumer only; the release/acquire pairs hand the bytes between them over.
    alignas(64) std::atomic<uint64_t> head_{0};
    alignas(64) std::atomic<uint64_t> tail_{0};
    std::atomic<size_t> lastBlock_{0};  // bytes of the newest block, for the latency trim
    std::atomic<bool> open_{false};
    std::atomic<IMonitorWake*> wake_{nullptr};
    std::atomic<uint64_t> dropped_{0}, trimmed_{0}, taken_{0};
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
