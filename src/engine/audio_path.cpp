#include "engine/audio_path.h"

#include <algorithm>
#include <new>

#include "engine/thread_priority.h"
#include "relay/audio_map.h"

namespace velmor {
namespace {

constexpr uint32_t kCaptureTimeoutMs = 100;

// Nice steps the audio thread asks for above the process.
constexpr int kAudioPrioritySteps = 5;

}  // namespace

AudioRing::AudioRing() {
    for (NDIlib_audio_frame_v2_t& slot : frames) {
        slot.sample_rate = 48000;
        slot.no_channels = 2;
        slot.timecode = NDIlib_send_timecode_synthesize;
    }
}

AudioPath::AudioPath(EngineContext& context, FrameLimitGate& gate)
    : c_(context), gate_(gate), kernels_(AudioKernelsFor(BestKernelLevel())) {}

void AudioPath::PrepareAudioRing(const NDIlib_audio_frame_v2_t& frame) {
    RelayRecord& r = c_.r;
    c_.bridge.ShowAudioFormat(frame.no_channels, frame.sample_rate);
    if (frame.no_channels == r.audioChannelCount) {
        r.mapActive = r.settingsRecord.mapChannelsSetting;  // an accepted map is back in force
    } else {
        ResetAudioMapCopy(r);
    }
    c_.bridge.ShowAudioMapActive(r.mapActive != 0);
    PublishAudioSettings(r);
    r.audioChannelCount = frame.no_channels;

    // The frame passed the limits of frame_limits.h, so channels x samples stays small.
    const int channels = std::max(frame.no_channels, 0);
    const int samples = std::max(frame.no_samples, 0);
    for (int i = 0; i < kAudioRingSize; ++i) {
        NDIlib_audio_frame_v2_t& slot = ring_.frames[i];
        std::vector<float>& buffer = ring_.buffers[i];
        buffer = std::vector<float>();
        slot.p_data = nullptr;
        try {
            // Cleared, so that the first frames of a delay send silence rather than old audio.
            buffer.assign(static_cast<size_t>(channels) * samples, 0.0f);
        } catch (const std::bad_alloc&) {
            c_.notifier.Show("NEW failed", "setup remap_frame", MessageButtons::OkCancel);
            continue;
        }
        slot.p_data = buffer.empty() ? nullptr : buffer.data();
        slot.channel_stride_in_bytes = samples * static_cast<int>(sizeof(float));
        slot.no_channels = frame.no_channels;
        slot.no_samples = frame.no_samples;
        slot.sample_rate = frame.sample_rate;
        slot.timecode = frame.timecode;
        slot.timestamp = frame.timestamp;
        slot.p_metadata = frame.p_metadata;
    }
}

void AudioPath::Configure(const AudioSettings& s, int blockChannels, int ringChannels) {
    const PlanKey key{s.channelMap, s.monoMix, s.gain, blockChannels, ringChannels};
    if (key == planned_) return;
    planned_ = key;
    plan_ = PlanAudioBlock(s.channelMap, s.monoMix != 0, s.gain, blockChannels, ringChannels);
}

bool AudioPath::RemapAudioFrame(const NDIlib_audio_frame_v2_t& frame,
                                const AudioSettings& settings) {
    const int write = std::clamp(ring_.write, 0, kAudioRingSize - 1);
    NDIlib_audio_frame_v2_t& slot = ring_.frames[write];
    if (!slot.p_data || !frame.p_data) return false;
    slot.p_metadata = frame.p_metadata;
    slot.timestamp = frame.timestamp;
    slot.timecode = frame.timecode;
    // Input planes are the frame's channel stride apart (a receiver may pad them); a stride that
    // would make planes overlap is a broken frame.
    const int64_t stride = frame.channel_stride_in_bytes;
    if (stride < int64_t{frame.no_samples} * 4 || stride % 4 != 0) return false;
    Configure(settings, frame.no_channels, slot.no_channels);
    // A later frame may be shorter than the slot: only what it holds is read, silence follows.
    RunAudioPlan(plan_, kernels_, frame.p_data, static_cast<size_t>(stride / 4), frame.no_samples,
                 slot.p_data, slot.no_samples);
    return true;
}

void AudioPath::Run(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    // A lower nice value than the process where the system allows it; otherwise as it is.
    RaiseThreadPriority(kAudioPrioritySteps);
    live_.Reset();
    haveSettings_ = false;
    delayStopped_ = false;

    NDIlib_audio_frame_v2_t& frame = capture_;
    while (r.audioThreadRun) {
        if (c_.ndi.recv_capture_v2(recv, nullptr, &frame, nullptr, kCaptureTimeoutMs) !=
                NDIlib_frame_type_audio ||
            !gate_.Usable(recv, frame))
            continue;
        CatchUp(recv, frame);
        ProcessBlock(frame);
        c_.ndi.recv_free_audio_v2(recv, &frame);
    }
    // No more blocks will lower the meter: without this the bars would stand at the last level.
    if (PpmMeter* meter = r.ppmMeter.get()) meter->AudioEnded();
    c_.bridge.ShowMediaEnded(MediaKind::Audio);
}

void AudioPath::CatchUp(NDIlib_recv_instance_t recv, NDIlib_audio_frame_v2_t& frame) {
    while (live_.Behind(frame.timestamp, WallClock100ns(),
                        AudioSlack(frame.no_samples, frame.sample_rate))) {
        NDIlib_audio_frame_v2_t next{};
        if (c_.ndi.recv_capture_v2(recv, nullptr, &next, nullptr, 0) != NDIlib_frame_type_audio)
            return;  // nothing newer waits: this block goes out
        if (!gate_.Usable(recv, next)) continue;
        c_.ndi.recv_free_audio_v2(recv, &frame);
        c_.r.counters.audioBlocksLate.fetch_add(1, std::memory_order_relaxed);
        frame = next;
    }
}

const AudioSettings& AudioPath::CurrentSettings() {
    RelayRecord& r = c_.r;
    const AudioSettings& published = r.audioSettings.Acquire();
    if (!haveSettings_ || published.generation != settings_.generation) {
        settings_ = published;
        haveSettings_ = true;
    }
    // While the video runs at another rate than the output there is no delay, and it stays
    // stopped until the window publishes the settings again (the video thread has switched the
    // delay off in the record meanwhile).
    if (r.frameRateMismatch && !(delayStopped_ && delayStoppedAt_ == settings_.generation)) {
        delayStopped_ = true;
        delayStoppedAt_ = settings_.generation;
    }
    if (delayStopped_ && delayStoppedAt_ == settings_.generation) {
        settings_.delayOn = 0;
        settings_.delayFrames = 0;
    }
    return settings_;
}

void AudioPath::ProcessBlock(NDIlib_audio_frame_v2_t& frame) {
    RelayRecord& r = c_.r;
    // A new channel count: map entries that pointed at channels now gone follow themselves, in
    // the record (for the window) and in the copy this thread applies.
    if (frame.no_channels != r.audioChannelCount) {
        const int old = r.audioChannelCount;
        FollowChannelCount(r, old);
        if (haveSettings_) FollowChannelCount(settings_.channelMap, old);
        r.audioChannelCount = frame.no_channels;
        c_.bridge.ShowAudioFormat(frame.no_channels, frame.sample_rate);
    }
    const AudioSettings& s = CurrentSettings();

    const NDIlib_send_instance_t main = r.mainSender;
    const bool sendNdi = main && !r.airSendOutput;
    const NDIlib_audio_frame_v2_t* sent = &frame;
    const NDIlib_audio_frame_v2_t* tap = &frame;
    if ((s.mapActive != 0 || s.delayFrames != 0) && RemapAudioFrame(frame, s)) {
        const int write = ring_.write;
        int send = write;
        if (s.delayOn) {
            // Out-of-range delays wrap instead of indexing past the ring.
            send = ((write - s.delayFrames) % kAudioRingSize + kAudioRingSize) % kAudioRingSize;
            NDIlib_audio_frame_v2_t& delayed = ring_.frames[send];
            delayed.p_metadata = frame.p_metadata;
            delayed.timestamp = frame.timestamp;
            delayed.timecode = frame.timecode;
        }
        ring_.send = send;
        sent = &ring_.frames[send];
        ring_.write = (write + 1) % kAudioRingSize;
        if (!r.mapDialogOpen) tap = sent;
    }
    if (sendNdi) {
        c_.ndi.send_send_audio_v2(main, sent);
        RelayCounters& counters = r.counters;
        counters.audioSamplesSent.fetch_add(static_cast<uint64_t>(std::max(sent->no_samples, 0)),
                                            std::memory_order_relaxed);
        if (KnownTimestamp(frame.timestamp))
            counters.audioDelay100ns.store(WallClock100ns() - frame.timestamp,
                                           std::memory_order_relaxed);
    }
    if (c_.tap) c_.tap->MonitorTap(r, *tap);
}

void AudioPath::ReleaseAudioRing() {
    for (int i = 0; i < kAudioRingSize; ++i) {
        ring_.buffers[i].clear();
        ring_.buffers[i].shrink_to_fit();
        ring_.frames[i].p_data = nullptr;
    }
}

}  // namespace velmor
