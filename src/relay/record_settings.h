// The operator's settings of one copy: the first group of the relay record (relay_record.h).
//
// Written by the window thread (button handlers, setup windows, the apply step of a stored
// configuration). Read by the video and audio threads on every frame or block without a lock, so
// every member they read is atomic (relaxed order is enough for single settings); a change takes
// effect on the next frame. The few values an engine thread changes itself are marked where they
// stand: the video thread switches keyFillSplit off for a frame without alpha and the audio delay
// off while the frame rates differ; the audio thread follows a channel-count change in channelMap;
// a connection restores mapActive.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "audio/meter_settings.h"
#include "relay/overlay_state.h"
#include "relay/proc_amp_state.h"
#include "video/publisher.h"

namespace velmor {

template <typename T>
using Shared = std::atomic<T>;

inline constexpr int kMaxAudioChannels = 32;

// What the audio thread applies to every block, published whole (PublishAudioSettings in
// audio_map.h) whenever the window changes any of it, so no block is processed with half of a
// change: the map in force, the mono mix of outputs 1 and 2, the gain, whether a map is active,
// and the delay.
struct AudioSettings {
    std::array<int8_t, kMaxAudioChannels> channelMap = Identity();
    int32_t monoMix = 0;
    double gain = 0.0;  // 0.0 (never set) and 1.0 both copy samples unscaled
    int32_t mapActive = 0;
    int32_t delayOn = 0;
    int32_t delayFrames = 0;
    // Counts the values published, so a reader can tell a new value from the one it has.
    uint64_t generation = 0;
    bool operator==(const AudioSettings&) const = default;

    static std::array<int8_t, kMaxAudioChannels> Identity() {
        std::array<int8_t, kMaxAudioChannels> map{};
        for (int i = 0; i < kMaxAudioChannels; ++i)
            map[static_cast<size_t>(i)] = static_cast<int8_t>(i);
        return map;
    }
};

struct RecordSettings {
    // --- Discovery (window thread only) ---
    char extraIpText[32] = {};
    int32_t excludeLocal = 1;

    // --- Outputs ---
    Shared<int32_t> airSendOutput{0};  // changed only while no video thread runs
    Shared<int32_t> commsReturn{0};
    Shared<int32_t> keyFillSplit{0};  // the video thread clears it for a frame without alpha
    int32_t keyFillMenuChecked = 0;   // the "Split Key+Fill" menu check; the split resumes from it

    // --- Video processing ---
    Shared<int32_t> deinterlaceMode{0};  // also set by the connection's probe
    Shared<int32_t> rotationMode{0};
    Shared<int32_t> previewOn{1};
    Shared<int32_t> timecodeBurnIn{0};
    Shared<int32_t> ebuMode{1};  // also reset by every output set-up (video thread)
    // The proc amp: parameters, tables published to the video thread, and the proc amp window's
    // presets and switches (its own header says who touches what).
    ProcAmpState procAmp;

    // --- Overlays and meter ---
    OverlayState overlaySetup;
    Shared<int32_t> ppmOverlayOn{0};
    // Stored as its own configuration block and in effect as read; engine threads read it through
    // LoadMeterSetting. The meter's run-time bits are in meterLink, what it applies (mode, layout,
    // enable flags, frame size, pictures) in ppmMeter (both beside the groups, relay_record.h).
    MeterSettings meterSettings{};

    // --- Audio ---
    Shared<int32_t> mapActive{0};  // a connection restores it when the channel count matches
    // The map in force. The Audio Map window edits a copy (audioMapper.mapperMap) and writes it
    // back on OK; the audio thread points entries at channels that went away back at themselves.
    std::array<Shared<int8_t>, kMaxAudioChannels> channelMap{};
    Shared<int32_t> monoMix{0};
    Shared<double> audioGain{0.0};        // 0.0 (never set) and 1.0 both copy samples unscaled
    Shared<int32_t> audioDelayOn{0};      // the video thread clears it while rates differ
    Shared<uint8_t> audioDelayFrames{0};  // likewise
    Shared<int32_t> mapDialogOpen{0};     // the monitor hears the window's copy meanwhile
    Shared<float> monitorLevel{1.0f};
    // The members above that steer the audio thread, as one value (built from them by
    // PublishAudioSettings after every change; the audio thread reads only this).
    Published<AudioSettings> audioSettings;
};

}  // namespace velmor
