// The valid range of every stored setting, and the step that brings values read from a file into
// it. A configuration or preset file is outside input: it may come from another machine, an older
// version or a damaged disk, so nothing read from one is used before it has passed through here.
//
// The rule: a number with a range of its own (a slider, the 0..15 delay frames, the gain) goes to
// the nearest valid value; a choice (rotation, de-interlace, monitor level, grab format, meter
// mode and layout, an audio map column) that is not one of its choices takes its start-up default,
// since a neighbouring choice means something unrelated; a flag is on when non-zero (as every
// reader tests it) and is stored back as 1; a value with no nearest (a NaN gain) takes its
// start-up default. Reserved bytes and texts (already cut to their fields) are left alone.
#pragma once

#include <array>

#include "audio/meter_settings.h"
#include "relay/settings_record.h"
#include "video/proc_amp_settings.h"

namespace velmor {

// The gain range of the audio map window's menu: -20 dB .. +20 dB. 0.0 means "never set" (unity).
inline constexpr double kMinStoredGain = 0.1;
inline constexpr double kMaxStoredGain = 10.0;
inline constexpr int kMaxDelayFrames = 15;

// gainSetting: NaN and -infinity take the start-up 0.0; +infinity and anything above +20 dB take
// +20 dB; a value between 0 and -20 dB (or negative) takes -20 dB; 0.0 stays 0.0.
double LimitStoredGain(double gain);

// Each function limits the fields of one stored block in place.
void LimitStoredSettings(SettingsRecord& settings);
void LimitStoredMeterSettings(MeterSettings& meter);
void LimitStoredPreset(ProcAmpPreset& preset);
template <size_t N>
void LimitStoredPresets(std::array<ProcAmpPreset, N>& presets) {
    for (ProcAmpPreset& p : presets)
        LimitStoredPreset(p);
}

}  // namespace velmor
