// The settings document of GET and PATCH /api/v1/settings: which operator settings the HTTP API
// offers by name, how a PATCH body's values are read into the values the settings table takes,
// and how a value and its limits are written out.
//
// Values are those the configuration file stores (relay/settings_schema.h): the proc amp's sliders
// as stored (50 neutral), the rotation and de-interlace codes, the gain step's menu command, the
// delay in frames, the audio map's entries (input channel of each output, the channel count for
// "Mute"); flags are 0 or 1, and true and false are taken for them too. Beside the table's
// settings, three switches of the main window that the configuration file does not keep:
// "ppmOverlay", "overlay" and "timecodeBurnIn".
//
// Offered are the settings of the main window, the proc amp and the audio map. The frame grab's
// file names and folder (paths on the relay's machine), the discovery groups and addresses, the
// output type, the meter's configuration and the menu's load and save choices stay with the
// windows.
//
// Pure functions over parsed JSON, so the fuzz target drives the reader alone.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "relay/settings_schema.h"

namespace velmor {

// The window's switches that the file does not keep.
enum class WindowSwitch : uint8_t { None, PpmOverlay, Overlay, TimecodeBurnIn };

struct OfferedSetting {
    std::string_view name;
    const SettingDecl* decl = nullptr;  // the table's entry; null for a window switch
    WindowSwitch windowSwitch = WindowSwitch::None;
};

// In the document's order: the main window's video settings, the proc amp, the audio, the
// window's switches.
std::span<const OfferedSetting> OfferedSettings();
const OfferedSetting* FindOfferedSetting(std::string_view name);

// One value of a PATCH, of the setting's kind and within its fixed limits. The audio map may name
// fewer than its 32 entries (`mapEntries`): the rest keep the values in force.
struct RequestedSetting {
    const OfferedSetting* setting = nullptr;
    SettingValue value;
    int mapEntries = 0;
};

// Why a document was refused: the field at fault (empty for the document as a whole) and what is
// wrong with it, in words for the client.
struct SettingsDocumentError {
    std::string field;
    std::string message;
};

// Reads a PATCH body (a JSON object of names and values). False, with the first field at fault,
// for a name that is not offered or a value that is not of the setting's kind or lies outside its
// fixed limits; what depends on the relay's state (the map against the source's channel count,
// which the reader only bounds by 32) is the caller's to check.
bool ReadSettingsDocument(const nlohmann::json& document, std::vector<RequestedSetting>& out,
                          SettingsDocumentError& error);

// The value as the document writes it: a number, or the audio map's 32 entries as an array.
nlohmann::json SettingValueJson(const SettingValue& value);
// The fixed limits of a setting for a client building its controls: {"min", "max"} for a range,
// {"choices": [{"value", "text"}...]} for choices (flags, named codes, the gain steps); null when
// the setting has none of these (the audio map, whose limit is the source's channel count).
nlohmann::json SettingLimitsJson(const OfferedSetting& setting);

}  // namespace velmor
