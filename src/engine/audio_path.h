// The road of one audio frame: capture, channel map, mono mix and gain into one of 16 ring frames,
// send (delayed by whole frames), then the monitor tap.
//
// Run is the audio thread's body; PrepareAudioRing runs on the window thread (or the probe's
// worker) with the first audio frame of a connection, before the thread starts.
#pragma once

#include "engine/engine_context.h"
#include "engine/frame_limits.h"

namespace velmor {

class AudioPath {
public:
    AudioPath(EngineContext& context, FrameLimitGate& gate) : c_(context), gate_(gate) {}

    // Captures from `recv` until audioThreadRun is cleared, then reports the end.
    void Run(NDIlib_recv_instance_t recv);
    // Once per connection, with the first audio frame: the caption, the map restored when the
    // channel count matches, and the ring frames sized for the frame.
    void PrepareAudioRing(const NDIlib_audio_frame_v2_t& frame);
    // Writes the processed frame into slot ringWrite; false when that slot has no buffer.
    bool RemapAudioFrame(const NDIlib_audio_frame_v2_t& frame);
    // The 16 ring buffers, at exit.
    void ReleaseAudioRing();

private:
    EngineContext& c_;
    FrameLimitGate& gate_;
};

}  // namespace velmor
