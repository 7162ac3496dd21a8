// What the relay has done since start-up, counted by the engine threads and read by anyone (the
// window's statistics, the HTTP API's status and metrics, tests). Every counter only grows and is
// a relaxed atomic: a reader may see one counter a frame ahead of another, never a torn value.
#pragma once

#include <atomic>
#include <cstdint>

namespace velmor {

struct RelayCounters {
    // Video frames taken from the receiver (usable ones: within the frame limits).
    std::atomic<uint64_t> videoFramesReceived{0};
    // Video frames sent on the main output (NDI or AirSend).
    std::atomic<uint64_t> videoFramesSent{0};
    // Video frames received and not sent for any reason other than a freeze or the three frames
    // skipped after a start: too late to be worth sending (the relay fell behind its source), or
    // beyond the frame limits.
    std::atomic<uint64_t> videoFramesDropped{0};
    // Of those, the ones skipped for being too late.
    std::atomic<uint64_t> videoFramesLate{0};
    // Audio samples (per channel) sent on the main output, and blocks skipped for being too late.
    std::atomic<uint64_t> audioSamplesSent{0};
    std::atomic<uint64_t> audioBlocksLate{0};
    // Monitor audio (samples per channel) dropped because the sound server did not keep up.
    std::atomic<uint64_t> monitorSamplesDropped{0};
    // The delay of the newest frame sent behind the source's timecode, in 100 ns units (0 until
    // one is sent; meaningful when the source stamps its send time as timecode, as NDI senders
    // that synthesize timecodes do).
    std::atomic<int64_t> videoDelay100ns{0};
    std::atomic<int64_t> audioDelay100ns{0};
};

}  // namespace velmor
