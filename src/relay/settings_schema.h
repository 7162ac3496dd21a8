// Every operator setting, declared once: where the configuration file stores it and in what
// type, its valid values and start-up default, the run-time member it belongs to, and a stable
// name. Capturing before a save, limiting what a file holds, applying a loaded file, reading a
// setting by name and changing settings by name all walk the one table of settings_table.cpp, so
// adding a setting is one entry there (and, when it needs one, its run-time member).
//
// The values by name are those the configuration file stores: the proc amp sliders as stored
// (50 neutral), the rotation and de-interlace codes, the gain step's menu command, the delay in
// frames. A change by name goes through the same operations the windows use (the member and the
// control that shows it), is checked against the same rules that limit a loaded file, and a set
// of changes is applied whole or not at all (ApplySettingValues).
//
// Window thread only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "audio/meter_settings.h"
#include "relay/settings_record.h"
#include "relay/settings_view.h"

namespace velmor {

class RelayRecord;

// A setting's value as the file holds it: a whole number (flags, choices, ranges, bytes), a real
// number (the gain), a text (UTF-8 here, whatever the field's encoding) or the 32-entry map.
using ChannelMapEntries = std::array<int8_t, 32>;
using SettingValue = std::variant<int32_t, double, std::string, ChannelMapEntries>;

// Which stored block holds the setting: the settings record (block 1) or the meter settings
// (block 3), which take effect as read.
enum class SettingBlock : uint8_t { Settings, Meter };

// How the value is stored, little-endian, at its offset in the block.
enum class StoredType : uint8_t {
    I8,         // signed byte, sign-extended when read
    U8,         // unsigned byte (the meter block)
    I16,        // signed 16-bit
    I32,        // signed 32-bit
    F32,        // float
    F64,        // double
    Utf16Text,  // UTF-16 text field of `units` units, terminator included
    Text8,      // 8-bit text field of `units` bytes, terminator included
    Map32,      // 32 signed bytes
};

// The valid values. What a file holds outside them is limited as stored_ranges.h describes; a
// change by name outside them is refused.
enum class SettingRule : uint8_t {
    None,         // carried as stored, nothing to check
    Flag,         // 0 or 1; non-zero reads as 1
    Range,        // min..max; outside goes to the nearest end
    Choice,       // min..max; outside takes `fallback` (a neighbour would mean something else)
    Gain,         // 0.0 (never set) or -20..+20 dB as a linear factor (LimitStoredGain)
    GainStep,     // 0 (none chosen) or one of the gain menu's commands
    AddressList,  // empty or a list of dotted IPv4 addresses
    ChannelMap,   // entry i a column of the map's channel count (or its own index)
};

// When the value goes to its run-time member after a configuration load: with the proc amp and
// grab settings (which a start-up load takes before the others), with ApplySettings (in table
// order), or never (the stored copy is the setting: menu choices, groups, the meter block).
enum class ApplyPhase : uint8_t { ProcAmpAndGrab, Settings, Never };

// Who writes the stored copy: capture before a save copies the run-time member, or the control
// writes the stored copy itself when it changes (the delay count, the accepted map, ...).
enum class StoredBy : uint8_t { Capture, Control };

// What a setting's operations act on: the record, the controls that show the settings and the
// finder that discovery settings restart; and what must follow a set of values once they are all
// in (each apply marks it, the walk over the table does it at the end).
struct SettingTargets {
    RelayRecord& record;
    ISettingsView& view;
    IFinderControl& finder;
    bool fromFile = false;  // a configuration load, rather than a change by name
    bool refreshProcAmp = false;
    bool publishAudio = false;
    bool takeUpMeter = false;
    bool reloadGroups = false;
    bool restartFinder = false;
};

struct SettingDecl {
    std::string_view name;  // stable: the key of the setting by name; empty for internal values
    SettingBlock block;
    uint16_t offset;
    StoredType type;
    uint16_t units;  // texts: the field's capacity, terminator included; capture cuts to it
    SettingRule rule;
    int32_t min, max, fallback;
    std::span<const char* const> texts;  // what the codes min.. mean, for people ("Rotate 90")
    StoredBy storedBy;
    ApplyPhase phase;
    // The run-time value that capture stores; null when the stored copy is the setting.
    SettingValue (*live)(const RelayRecord&) = nullptr;
    // Puts a (valid) value into effect as the windows do: the member and the control showing it.
    // Settings whose stored copy is the setting also write that copy here.
    void (*apply)(SettingTargets&, const SettingValue&) = nullptr;
    // Whether a change by name is allowed now (the output type only while not connected).
    bool (*changeable)(const RelayRecord&) = nullptr;

    bool exposed() const { return !name.empty(); }
};

// The operator settings of Velmor, in the order they are applied.
std::span<const SettingDecl> OperatorSettings();

// --- The stored copies ---

// The two stored blocks that settings live in.
struct StoredBlocks {
    SettingsRecord* settings;
    MeterSettings* meter;
};
struct ConstStoredBlocks {
    const SettingsRecord* settings;
    const MeterSettings* meter;
};

SettingValue ReadStored(ConstStoredBlocks blocks, const SettingDecl& decl);
// Writes `value` narrowed to the stored type; texts are cut at a character boundary to fit.
void WriteStored(StoredBlocks blocks, const SettingDecl& decl, const SettingValue& value);
// `value` brought into the setting's valid values (`blocks` gives the values other rules depend
// on: the map's channel count).
SettingValue LimitedValue(const SettingDecl& decl, const SettingValue& value,
                          ConstStoredBlocks blocks);

// Copies every captured run-time value into its stored copy, narrowed.
void CaptureStored(const RelayRecord& record, StoredBlocks blocks,
                   std::span<const SettingDecl> settings = OperatorSettings());
// Brings every stored value of `blocks` into its valid values, in place (a block may be absent).
void LimitStored(StoredBlocks blocks, std::span<const SettingDecl> settings = OperatorSettings());
// Applies the stored values of one phase to their run-time members, in table order.
void ApplyStored(SettingTargets& targets, ApplyPhase phase,
                 std::span<const SettingDecl> settings = OperatorSettings());

// --- By name ---

const SettingDecl* FindSetting(std::string_view name,
                               std::span<const SettingDecl> settings = OperatorSettings());
// The value the configuration file would store for the setting now (captured if captured).
SettingValue CurrentValue(const RelayRecord& record, const SettingDecl& decl);
// A text for people: the choice's name ("Rotate 90"), "On"/"Off" for flags, empty otherwise.
std::string SettingText(const SettingDecl& decl, const SettingValue& value);

struct SettingChange {
    const SettingDecl* decl;
    SettingValue value;
};
struct SettingRefusal {
    std::string name;
    std::string reason;
};
// Checks every change (type, valid values, whether it may change now) against the values the
// file would store with all the changes made; applies all of them, in table order, only when
// none is refused, then once per group what must follow (the proc amp tables, the audio thread's
// settings, the finder). Returns the refusals (empty: applied).
std::vector<SettingRefusal> ApplySettingValues(
    SettingTargets& targets, std::span<const SettingChange> changes,
    std::span<const SettingDecl> settings = OperatorSettings());

}  // namespace velmor
