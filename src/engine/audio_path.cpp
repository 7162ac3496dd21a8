#include "engine/audio_path.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

#include "engine/thread_priority.h"
#include "relay/audio_map.h"

namespace velmor {
namespace {

constexpr uint32_t kCaptureTimeoutMs = 100;

// A scaled sample narrowed to a float that is always finite: a NaN input is silence, and a
// product beyond the float range stays at its largest value.
inline float Narrowed(double v) {
    if (std::isnan(v)) return 0.0f;
    return static_cast<float>(
        std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

// Samples taken from the input: exact without gain, otherwise widened to double and scaled.
inline float Scaled(float v, double gain, bool useGain) {
    return useGain ? Narrowed(static_cast<double>(v) * gain) : v;
}

// Nice steps the audio thread asks for above the process.
constexpr int kAudioPrioritySteps = 5;

}  // namespace

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
        NDIlib_audio_frame_v2_t& slot = r.audioRing[i];
        std::vector<float>& buffer = r.audioRingBuffers[i];
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
    r.audioReceiver = r.mainReceiver.load();
}

bool AudioPath::RemapAudioFrame(const NDIlib_audio_frame_v2_t& frame,
                                const AudioSettings& settings) {
    RelayRecord& r = c_.r;
    const int write = std::clamp(static_cast<int>(r.ringWrite), 0, kAudioRingSize - 1);
    NDIlib_audio_frame_v2_t& slot = r.audioRing[write];
    if (!slot.p_data || !frame.p_data) return false;
    // N channels are processed; the map has 32 entries, so no more than 32.
    const int n = std::min({frame.no_channels, slot.no_channels, kMaxAudioChannels});
    slot.p_metadata = frame.p_metadata;
    slot.timestamp = frame.timestamp;
    slot.timecode = frame.timecode;

    const int s = slot.no_samples;
    // A later frame may be shorter than the slot: read only what it holds, silence for the rest.
    const int available = std::clamp(frame.no_samples, 0, s);
    // Input planes are the frame's channel stride apart (a receiver may pad them); a stride that
    // would make planes overlap is a broken frame.
    const int64_t stride = frame.channel_stride_in_bytes;
    if (stride < int64_t{frame.no_samples} * 4 || stride % 4 != 0) return false;
    const size_t planeFloats = static_cast<size_t>(stride / 4);
    const float* in = frame.p_data;
    float* out = slot.p_data;
    auto input = [&](int k) { return in + static_cast<size_t>(k) * planeFloats; };
    auto output = [&](int i) { return out + static_cast<size_t>(i) * s; };
    auto present = [&](int m) { return m >= 0 && m < n; };

    const double gain = settings.gain;
    const bool useGain = gain != 0.0 && gain != 1.0;
    const bool mono = settings.monoMix != 0;
    for (int i = 0; i < n; ++i) {
        float* dst = output(i);
        if (mono && i < 2) {
            if (i == 1) continue;  // written together with output 0
            const int a = settings.channelMap[0], b = settings.channelMap[1];
            float* dst1 = n > 1 ? output(1) : nullptr;  // a one-channel slot has no second plane
            for (int j = 0; j < available; ++j) {
                float v;
                if (present(a) && present(b)) {
                    const float sum = input(a)[j] + input(b)[j];
                    v = useGain ? Narrowed(static_cast<double>(sum) * gain * 0.5) : sum * 0.5f;
                } else if (present(a) || present(b)) {
                    const float x = input(present(a) ? a : b)[j];
                    v = useGain ? Narrowed(static_cast<double>(x) * gain * 0.5) : x * 0.5f;
                } else {
                    v = 0.0f;
                }
                dst[j] = v;
                if (dst1) dst1[j] = v;
            }
            std::fill(dst + available, dst + s, 0.0f);
            if (dst1) std::fill(dst1 + available, dst1 + s, 0.0f);
            continue;
        }
        const int m = settings.channelMap[static_cast<size_t>(i)];
        if (!present(m)) {
            // The "Mute" column, or an entry that names no input channel: silence.
            std::fill(dst, dst + s, 0.0f);
            continue;
        }
        const float* src = input(m);
        if (useGain) {
            for (int j = 0; j < available; ++j)
                dst[j] = Scaled(src[j], gain, true);
        } else {
            std::memcpy(dst, src, sizeof(float) * available);
        }
        std::fill(dst + available, dst + s, 0.0f);
    }
    return true;
}

void AudioPath::Run(NDIlib_recv_instance_t recv) {
    RelayRecord& r = c_.r;
    // A lower nice value than the process where the system allows it; otherwise as it is.
    RaiseThreadPriority(kAudioPrioritySteps);
    live_.Reset();
    haveSettings_ = false;
    delayStopped_ = false;

    NDIlib_audio_frame_v2_t& frame = r.audioCapture;
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
    RelayRecord& r = c_.r;
    while (live_.Behind(frame.timestamp, WallClock100ns(),
                        AudioSlack(frame.no_samples, frame.sample_rate))) {
        NDIlib_audio_frame_v2_t next{};
        if (c_.ndi.recv_capture_v2(recv, nullptr, &next, nullptr, 0) != NDIlib_frame_type_audio)
            return;  // nothing newer waits: this block goes out
        if (!gate_.Usable(recv, next)) continue;
        c_.ndi.recv_free_audio_v2(recv, &frame);
        r.counters.audioBlocksLate.fetch_add(1, std::memory_order_relaxed);
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
        const int write = r.ringWrite;
        int send = write;
        if (s.delayOn) {
            // Out-of-range delays wrap instead of indexing past the ring.
            send = ((write - s.delayFrames) % kAudioRingSize + kAudioRingSize) % kAudioRingSize;
            NDIlib_audio_frame_v2_t& delayed = r.audioRing[send];
            delayed.p_metadata = frame.p_metadata;
            delayed.timestamp = frame.timestamp;
            delayed.timecode = frame.timecode;
        }
        r.ringSend = send;
        sent = &r.audioRing[send];
        r.ringWrite = (write + 1) % kAudioRingSize;
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
    RelayRecord& r = c_.r;
    for (int i = 0; i < kAudioRingSize; ++i) {
        r.audioRingBuffers[i].clear();
        r.audioRingBuffers[i].shrink_to_fit();
        r.audioRing[i].p_data = nullptr;
    }
}

}  // namespace velmor
