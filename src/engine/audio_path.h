// The road of one audio block: capture, channel map, mono mix and gain into one of 16 ring frames,
// send (delayed by whole frames), then the monitor tap.
//
// Like the video path, the audio path decides once and then runs: the map, mono mix and gain
// reach it as one published value (AudioSettings, relay/record_settings.h); whenever that value or
// the block's channel count changes, the path plans the block (audio/audio_plan.h) and from then
// on every block runs the plan's pure block kernels (audio/audio_kernels.h), which the meter and
// the monitor's preview share.
//
// Owns: the captured block, the ring of 16 output frames with their buffers and indices, the plan
// and the kernels, its copy of the settings. Reads from the record: the published audio settings,
// whether the video runs at another rate than the output (the delay stops), the channel count seen
// last (it follows a change, with the map), the main sender, the output type, whether the Audio
// Map window is open. Counts into the record's counters; reports through the window bridge; hands
// every block to the tap.
//
// Run is the audio thread's body; PrepareAudioRing runs on the window thread (or the probe's
// worker) with the first audio frame of a connection, before the thread starts.
#pragma once

#include <array>
#include <vector>

#include "audio/audio_kernels.h"
#include "audio/audio_plan.h"
#include "engine/engine_context.h"
#include "engine/frame_limits.h"
#include "engine/live_edge.h"

namespace velmor {

inline constexpr int kAudioRingSize = 16;

// The processed output frames, slots 0..15. Each slot's format and buffer are fixed at connection;
// afterwards only the samples, timecode, timestamp and metadata change.
struct AudioRing {
    AudioRing();
    std::array<NDIlib_audio_frame_v2_t, kAudioRingSize> frames{};
    std::array<std::vector<float>, kAudioRingSize> buffers;
    int write = 0;  // slot the next processed block goes into
    int send = 0;   // slot sent for the current block
};

class AudioPath {
public:
    AudioPath(EngineContext& context, FrameLimitGate& gate);

    // Captures from `recv` until audioThreadRun is cleared, then reports the end.
    void Run(NDIlib_recv_instance_t recv);
    // Once per connection, with the first audio frame: the caption, the map restored when the
    // channel count matches, and the ring frames sized for the frame.
    void PrepareAudioRing(const NDIlib_audio_frame_v2_t& frame);
    // Writes the frame, processed with `settings`, into slot ring().write; false when that slot
    // has no buffer or the frame's planes overlap.
    bool RemapAudioFrame(const NDIlib_audio_frame_v2_t& frame, const AudioSettings& settings);
    // The 16 ring buffers, at exit.
    void ReleaseAudioRing();
    // For tests, while no audio thread runs.
    const AudioRing& ring() const { return ring_; }

private:
    // A block that waited behind the live delay is dropped while a newer one already waits.
    void CatchUp(NDIlib_recv_instance_t recv, NDIlib_audio_frame_v2_t& frame);
    // One block through map, mix, gain and delay, sent, then tapped for the monitor.
    void ProcessBlock(NDIlib_audio_frame_v2_t& frame);
    // The settings for the next block: the newest published value, the map following the
    // channel count, the delay stopped while the video runs at another rate than the output.
    const AudioSettings& CurrentSettings();
    // Plans the block when the map, mono mix, gain or a channel count changed.
    void Configure(const AudioSettings& settings, int blockChannels, int ringChannels);

    EngineContext& c_;
    FrameLimitGate& gate_;
    const AudioKernels& kernels_;
    LiveEdge live_;
    NDIlib_audio_frame_v2_t capture_{};
    AudioRing ring_;

    // The audio thread's own copy of the published settings (the map followed when the channel
    // count changes), which value it is, and the value during which the delay was stopped.
    AudioSettings settings_;
    bool haveSettings_ = false;
    uint64_t delayStoppedAt_ = 0;
    bool delayStopped_ = false;

    // What the plan was made for.
    struct PlanKey {
        std::array<int8_t, kMaxAudioChannels> map{};
        int32_t monoMix = 0;
        double gain = 0.0;
        int blockChannels = -1;
        int ringChannels = -1;
        bool operator==(const PlanKey&) const = default;
    } planned_;
    AudioPlan plan_;
};

}  // namespace velmor
