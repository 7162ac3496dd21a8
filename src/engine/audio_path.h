// The road of one audio frame: capture, channel map, mono mix and gain into one of 16 ring frames,
// send (delayed by whole frames), then the monitor tap.
//
// Run is the audio thread's body; PrepareAudioRing runs on the window thread (or the probe's
// worker) with the first audio frame of a connection, before the thread starts.
#pragma once

#include "engine/engine_context.h"
#include "engine/frame_limits.h"
#include "engine/live_edge.h"

namespace velmor {

class AudioPath {
public:
    AudioPath(EngineContext& context, FrameLimitGate& gate) : c_(context), gate_(gate) {}

    // Captures from `recv` until audioThreadRun is cleared, then reports the end.
    void Run(NDIlib_recv_instance_t recv);
    // Once per connection, with the first audio frame: the caption, the map restored when the
    // channel count matches, and the ring frames sized for the frame.
    void PrepareAudioRing(const NDIlib_audio_frame_v2_t& frame);
    // Writes the frame, processed with `settings`, into slot ringWrite; false when that slot has
    // no buffer.
    bool RemapAudioFrame(const NDIlib_audio_frame_v2_t& frame, const AudioSettings& settings);
    // The 16 ring buffers, at exit.
    void ReleaseAudioRing();

private:
    // A block that waited behind the live delay is dropped while a newer one already waits.
    void CatchUp(NDIlib_recv_instance_t recv, NDIlib_audio_frame_v2_t& frame);
    // One block through map, mix, gain and delay, sent, then tapped for the monitor.
    void ProcessBlock(NDIlib_audio_frame_v2_t& frame);
    // The settings for the next block: the newest published value, the map following the
    // channel count, the delay stopped while the video runs at another rate than the output.
    const AudioSettings& CurrentSettings();

    EngineContext& c_;
    FrameLimitGate& gate_;
    LiveEdge live_;
    // The audio thread's own copy of the published settings (the map followed when the channel
    // count changes), which value it is, and the value during which the delay was stopped.
    AudioSettings settings_;
    bool haveSettings_ = false;
    uint64_t delayStoppedAt_ = 0;
    bool delayStopped_ = false;
};

}  // namespace velmor
