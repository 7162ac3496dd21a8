// The proc amp object of the relay record: the operator's parameters, the six preset slots and
// the flags that the video thread reads. The window (and its Cancel backup) comes later as a view.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "video/proc_amp_settings.h"

namespace velmor {

class ProcAmp {
public:
    ProcAmp();

    ProcAmpSettings settings;
    std::string presetName;  // UTF-8; stored as at most 123 UTF-16 units
    int32_t monitorOn = 0;
    int32_t wfmOn = 0;
    int32_t currentPreset = 0;  // 0..5
    std::array<ProcAmpPreset, 6> presets{};

    // Read by the video thread on every frame.
    std::atomic<int32_t> active{0};
    std::atomic<int32_t> applyToOutput{0};
    std::atomic<int32_t> monitorPreview{0};

    int32_t alphaMode = 0;
    int32_t bypassHeld = 0;
    int32_t savedActive = 0;

    // `active` after a parameter change: any of the seven parameters away from 50. While Temp
    // Bypass is held nothing is recomputed.
    void RecomputeActive();

    // Store: the eight values, the four mode bytes, monitorOn, wfmOn and the first 123 characters
    // of presetName go into slot n; storedFlag is recomputed unless `keepStoredFlag`.
    void StoreIntoSlot(int n, bool keepStoredFlag = false);
    // Recall: slot n's values (not reserved0), monitorOn, wfmOn, the four mode bytes and its name
    // become the settings. Values are sign-extended and not limited here.
    void RecallSlot(int n);
};

// storedFlag of a preset: 1 when any of blackLevel..vLevelShift differs from 50.
int8_t PresetStoredFlag(const ProcAmpPreset& preset);

}  // namespace velmor
