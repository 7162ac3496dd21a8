#include "relay/stored_ranges.h"

#include <algorithm>
#include <cmath>

#include "relay/settings_schema.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

// A choice outside lo..hi takes its start-up default.
template <typename T>
void Choice(T& v, int lo, int hi, int fallback) {
    if (v < lo || v > hi) v = static_cast<T>(fallback);
}
template <typename T>
void Flag(T& v) {
    v = static_cast<T>(v != 0 ? 1 : 0);
}

}  // namespace

double LimitStoredGain(double gain) {
    if (std::isnan(gain) || gain == -INFINITY) return 0.0;
    if (gain == 0.0) return 0.0;
    return std::clamp(gain, kMinStoredGain, kMaxStoredGain);
}

void LimitStoredSettings(SettingsRecord& s) {
    LimitStored({&s, nullptr});
}

void LimitStoredMeterSettings(MeterSettings& m) {
    LimitStored({nullptr, &m});
}

void LimitStoredPreset(ProcAmpPreset& p) {
    // A never-used slot (all values 0) stays recognisable: 0 is inside every range.
    for (size_t i = 0; i < kProcAmpSliderRanges.size(); ++i) {
        int16_t& v = p.*kPresetValueFields[i + 1];
        v = static_cast<int16_t>(
            std::clamp<int>(v, kProcAmpSliderRanges[i].min, kProcAmpSliderRanges[i].max));
    }
    Flag(p.storedFlag);
    Flag(p.monitorOn);
    Flag(p.wfmOn);
    Choice(p.fxOrder, 0, 1, 0);
    Choice(p.uvLinking, 0, 2, 0);
    // A name without its terminator is cut to fit rather than read past the record.
    CopyToField(p.name, FieldText(p.name));
}

}  // namespace velmor
