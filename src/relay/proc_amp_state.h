// The proc amp object of the relay record: the parameter model with its tables (video/proc_amp.h),
// plus what the proc amp window keeps between openings — the preset name, the monitor and
// waveform switches and the six preset slots. The window itself is a view over this object.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "video/proc_amp.h"
#include "video/proc_amp_settings.h"

namespace velmor {

class ProcAmpState : public ProcAmp {
public:
    std::string presetName;  // UTF-8; stored as at most 123 UTF-16 units
    int32_t monitorOn = 0;
    int32_t wfmOn = 0;
    int32_t currentPreset = 0;  // 0..5
    std::array<ProcAmpPreset, 6> presets{};

    // Store: the eight values, the four mode bytes, monitorOn, wfmOn and the first 123 characters
    // of presetName go into slot n; storedFlag is recomputed unless `keepStoredFlag`.
    void StoreIntoSlot(int n, bool keepStoredFlag = false);
    // Recall: slot n's values (not reserved0), monitorOn, wfmOn, the four mode bytes and its name
    // become the settings, and the tables are rebuilt. Values are sign-extended; the table
    // builders limit them to the slider ranges.
    void RecallSlot(int n);
};

// storedFlag of a preset: 1 when any of blackLevel..vLevelShift differs from 50.
int8_t PresetStoredFlag(const ProcAmpPreset& preset);

}  // namespace velmor
