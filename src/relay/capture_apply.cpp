#include "relay/capture_apply.h"

#include "relay/settings_schema.h"
#include "relay/stored_ranges.h"

namespace velmor {

void CaptureSettings(RelayRecord& r) {
    CaptureStored(r, {&r.settingsRecord, &r.meterSettings});
}

void TakeStoredProcAmpAndGrab(RelayRecord& r, ISettingsView& view, IFinderControl& finder) {
    SettingTargets targets{r, view, finder};
    ApplyStored(targets, ApplyPhase::ProcAmpAndGrab);
}

void ApplySettings(RelayRecord& r, ISettingsView& view, IFinderControl& finder) {
    // The stored copies may come from a file: bring them into range before anything uses them.
    LimitStoredSettings(r.settingsRecord);
    SettingTargets targets{r, view, finder};
    ApplyStored(targets, ApplyPhase::Settings);
}

bool TakeUpMeterChoices(RelayRecord& r) {
    const MeterSettings& ms = r.meterSettings;
    std::atomic<uint8_t>& flags = r.meterLink.meterChangeFlags;
    bool switchedOff = false;
    if (r.ppmOverlayOn && !ms.meterSeparateOutput && !ms.meterOnMainOutput) {
        r.ppmOverlayOn = 0;
        switchedOff = true;
    }
    // The mode and the layout are read from the stored choices; a new layout is placed again.
    if (flags.load() & kMeterChangeLayout) {
        flags.fetch_and(static_cast<uint8_t>(~(kMeterChangeLayout | kMeterChangeBit7)));
        flags.fetch_or(kMeterChangePicture);
    }
    if (PpmMeter* meter = r.ppmMeter.get())
        meter->SetOverlayEnabled(ms.meterSeparateOutput || r.ppmOverlayOn);
    return switchedOff;
}

}  // namespace velmor
