// Keeping the persisted copies of the settings record and the live settings in step. Each is a
// walk over the settings table (settings_schema.h): a setting declared there is captured, limited
// and applied without anything added here.
#pragma once

#include "relay/relay_record.h"
#include "relay/settings_view.h"

namespace velmor {

// Copies the live members into settingsRecord, narrowing to the stored widths. Texts are cut at a
// character boundary to their limits (124, 124 and 262 UTF-16 units with the terminator; 32
// bytes for the Extra IP). Window thread, just before the configuration file is written.
void CaptureSettings(RelayRecord& record);

// Brings the persisted values into their valid ranges (relay/stored_ranges.h, in place, so the
// next save writes them so), copies them back to the live members, sign-extending bytes, and
// refreshes the controls that show them, in the order of the settings table. Restarts the finder
// when the stored "Exclude local" differs from the live one.
void ApplySettings(RelayRecord& record, ISettingsView& view, IFinderControl& finder);

// The proc amp settings (the first stored value is never read back; the tables are rebuilt) and
// the frame grab settings from the settings record, as a loaded configuration puts them in effect.
void TakeStoredProcAmpAndGrab(RelayRecord& record, ISettingsView& view, IFinderControl& finder);

// The meter takes up the stored meter choices (after a configuration load, after the "PPM Config"
// window closed, after a change by name): its mode and layout, and whether it builds overlay
// pictures (the separate output, or the "PPM overlay" button). The button goes off when no meter
// output is configured any more; returns whether it did.
bool TakeUpMeterChoices(RelayRecord& record);

}  // namespace velmor
