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

struct RecordEngineState {
    // --- Handles: made by the connection procedure, the receiver destroyed by the thread that
    // ends last ---
    std::atomic<NDIlib_recv_instance_t> mainReceiver{nullptr};
    std::atomic<NDIlib_recv_instance_t> audioReceiver{nullptr};
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
    std::atomic<int32_t> outputWidth{0};  // of the last output set-up (before any quarter turn)
    std::atomic<int32_t> outputHeight{0};
    std::atomic<float> outputFrameRate{0.0f};
    std::atomic<int32_t> frameDuration{0};
    std::atomic<int32_t> frameRateMismatch{0};
    std::atomic<float> lastRate{0.0f};  // latest frame rate seen; saved as lastRateSetting
    // FourCC of the last output set-up, for window handlers that ask "is the source BGRA".
    std::atomic<uint32_t> outputFourCC{0};
    std::atomic<int32_t> audioChannelCount{0};  // also set by the apply step and the probe
    std::atomic<int32_t> ringWrite{0};          // audio thread
    std::atomic<int32_t> ringSend{0};
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
