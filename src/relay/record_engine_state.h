// The run-time state of the engine: the second group of the relay record (relay_record.h).
//
// Written by the engine: the connection procedure on the window thread (handles, senders, the
// probe's format bookkeeping) and the video and audio threads while they run (flags, format
// bookkeeping, counters). Read by the window thread (captions, the watchdog, "connected" tests)
// and by the other engine thread. Everything that crosses threads is atomic. The requests at the
// end go the other way: the window thread sets them, the video thread advances them.
#pragma once

#include <atomic>
#include <cstdint>

#include "ndi/ndi_types.h"
#include "relay/freeze_latch.h"

namespace velmor {

// A frame rate as a float, N / D; 0 for a source without a sensible rate.
inline float RateOf(int32_t frameRateN, int32_t frameRateD) {
    return (frameRateN > 0 && frameRateD > 0)
               ? static_cast<float>(frameRateN) / static_cast<float>(frameRateD)
               : 0.0f;
}

// The format the outputs were last set up for: the received frame's size (before any quarter
// turn), rate, picture aspect, field order and FourCC.
struct OutputFormat {
    int32_t width = 0;
    int32_t height = 0;
    int32_t frameRateN = 0;
    int32_t frameRateD = 0;
    float aspect = 0.0f;
    int32_t frameFormatType = NDIlib_frame_format_type_progressive;
    uint32_t fourCC = 0;

    float rate() const { return RateOf(frameRateN, frameRateD); }
    bool operator==(const OutputFormat&) const = default;
};

// The one copy of the output format. Each field is stored whole, so a reader on another thread
// sees every field as one set-up or the next left it; the fields of one read may come from two
// set-ups only while a set-up is under way (the window's captions then follow at once).
class SharedOutputFormat {
public:
    OutputFormat Load() const {
        OutputFormat f;
        f.width = width_.load(std::memory_order_relaxed);
        f.height = height_.load(std::memory_order_relaxed);
        f.frameRateN = rateN_.load(std::memory_order_relaxed);
        f.frameRateD = rateD_.load(std::memory_order_relaxed);
        f.aspect = aspect_.load(std::memory_order_relaxed);
        f.frameFormatType = frameFormatType_.load(std::memory_order_relaxed);
        f.fourCC = fourCC_.load(std::memory_order_relaxed);
        return f;
    }
    void Store(const OutputFormat& f) {
        width_.store(f.width, std::memory_order_relaxed);
        height_.store(f.height, std::memory_order_relaxed);
        rateN_.store(f.frameRateN, std::memory_order_relaxed);
        rateD_.store(f.frameRateD, std::memory_order_relaxed);
        aspect_.store(f.aspect, std::memory_order_relaxed);
        frameFormatType_.store(f.frameFormatType, std::memory_order_relaxed);
        fourCC_.store(f.fourCC, std::memory_order_relaxed);
    }
    int32_t width() const { return width_.load(std::memory_order_relaxed); }
    int32_t height() const { return height_.load(std::memory_order_relaxed); }
    uint32_t fourCC() const { return fourCC_.load(std::memory_order_relaxed); }
    float rate() const { return Load().rate(); }

private:
    std::atomic<int32_t> width_{0}, height_{0}, rateN_{0}, rateD_{0};
    std::atomic<float> aspect_{0.0f};
    std::atomic<int32_t> frameFormatType_{NDIlib_frame_format_type_progressive};
    std::atomic<uint32_t> fourCC_{0};
};

struct RecordEngineState {
    // --- Handles: made by the connection procedure, the receiver destroyed by the thread that
    // ends last ---
    // The connection's receiver; both engine threads capture from it.
    std::atomic<NDIlib_recv_instance_t> mainReceiver{nullptr};
    std::atomic<NDIlib_send_instance_t> mainSender{nullptr};
    std::atomic<NDIlib_send_instance_t> keySender{nullptr};
    std::atomic<NDIlib_send_instance_t> ppmSender{nullptr};  // kept from one connection to the next
    std::atomic<void*> airSend{nullptr};

    // --- Threads: the window thread sets and clears the run flags; each thread clears its alive
    // flag as it ends ---
    std::atomic<int32_t> videoThreadRun{0};
    std::atomic<int32_t> videoThreadAlive{0};
    std::atomic<int32_t> audioThreadRun{0};
    std::atomic<int32_t> audioThreadAlive{0};
    std::atomic<uint8_t> frameTick{0};  // counted by the video thread, cleared by the watchdog

    // --- Formats of the connection ---
    std::atomic<int32_t> videoFormatSeen{0};
    std::atomic<int32_t> audioFormatSeen{0};
    // Of the last output set-up (SetUpOutput); the window asks it for captions, the overlay
    // window's frame size and "is the source BGRA".
    SharedOutputFormat outputFormat;
    std::atomic<int32_t> frameRateMismatch{0};
    std::atomic<float> lastRate{0.0f};          // latest frame rate seen; saved as lastRateSetting
    std::atomic<int32_t> audioChannelCount{0};  // also set by the apply step and the probe
    // Frames beyond the limits of engine/frame_limits.h, released unused (since start-up).
    std::atomic<int32_t> skippedVideoFrames{0};
    std::atomic<int32_t> skippedAudioFrames{0};

    // --- Requests: set by the window thread, advanced by the video thread ---
    // The freeze and its held picture's grab (freeze_latch.h): every change a compare-and-swap.
    FreezeLatch freezeState;
    // A grab of the next frame sent: the window sets it, the video thread takes it (exchange).
    std::atomic<int32_t> grabRequest{0};
};

}  // namespace velmor
