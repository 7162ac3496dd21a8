// The operator settings, one entry each (settings_schema.h says what an entry holds). The order is
// the order of applying a loaded configuration: the proc amp and grab settings first, then the
// rest as ApplySettings takes them; the settings whose stored copy is the setting come last.
//
// An entry reads: where the file stores it, its rule, then either the run-time value that
// capture stores (Captured) or nothing (the stored copy is the setting), and what putting a
// value into effect does (Applied, with the phase of a configuration load it belongs to).
#include <cstddef>

#include "audio/meter_config.h"
#include "relay/audio_map.h"
#include "relay/relay_record.h"
#include "relay/settings_schema.h"
#include "relay/stored_ranges.h"
#include "relay/text_fields.h"
#include "relay/video_modes.h"

namespace velmor {
namespace {

using T = StoredType;
using R = SettingRule;
using Live = SettingValue (*)(const RelayRecord&);
using Apply = void (*)(SettingTargets&, const SettingValue&);

int32_t Int(const SettingValue& v) {
    return std::get<int32_t>(v);
}
const std::string& Text(const SettingValue& v) {
    return std::get<std::string>(v);
}

// One entry, built a part at a time.
struct Entry {
    SettingDecl decl;

    constexpr Entry(std::string_view name, SettingBlock block, size_t offset, StoredType type,
                    uint16_t units = 0)
        : decl{.name = name,
               .block = block,
               .offset = static_cast<uint16_t>(offset),
               .type = type,
               .units = units,
               .rule = R::None,
               .min = 0,
               .max = 0,
               .fallback = 0,
               .texts = {},
               .storedBy = StoredBy::Control,
               .phase = ApplyPhase::Never} {}
    constexpr Entry Flag(std::span<const char* const> texts = {}) const {
        return Rule(R::Flag, 0, 1, 0, texts);
    }
    constexpr Entry Range(int32_t min, int32_t max) const { return Rule(R::Range, min, max, min); }
    constexpr Entry Choice(int32_t min, int32_t max, int32_t fallback,
                           std::span<const char* const> texts = {}) const {
        return Rule(R::Choice, min, max, fallback, texts);
    }
    constexpr Entry Rule(SettingRule rule, int32_t min = 0, int32_t max = 0, int32_t fallback = 0,
                         std::span<const char* const> texts = {}) const {
        Entry e = *this;
        e.decl.rule = rule;
        e.decl.min = min;
        e.decl.max = max;
        e.decl.fallback = fallback;
        e.decl.texts = texts;
        return e;
    }
    constexpr Entry Captured(Live live) const {
        Entry e = *this;
        e.decl.storedBy = StoredBy::Capture;
        e.decl.live = live;
        return e;
    }
    constexpr Entry Applied(ApplyPhase phase, Apply apply) const {
        Entry e = *this;
        e.decl.phase = phase;
        e.decl.apply = apply;
        return e;
    }
    constexpr Entry OnlyWhen(bool (*changeable)(const RelayRecord&)) const {
        Entry e = *this;
        e.decl.changeable = changeable;
        return e;
    }
    constexpr operator SettingDecl() const { return decl; }
};

constexpr Entry Stored(std::string_view name, size_t offset, StoredType type, uint16_t units = 0) {
    return Entry(name, SettingBlock::Settings, offset, type, units);
}
constexpr Entry Meter(std::string_view name, size_t offset, StoredType type) {
    return Entry(name, SettingBlock::Meter, offset, type);
}
#define AT(field) offsetof(SettingsRecord, field)
#define METER_AT(field) offsetof(MeterSettings, field)

// --- The proc amp: the values, the mode bytes, the window's switches and its preset ---

template <int32_t ProcAmpSettings::*Field>
SettingValue ProcAmpValue(const RelayRecord& r) {
    return r.procAmp.settings.*Field;
}
template <int32_t ProcAmpSettings::*Field>
void ApplyProcAmpValue(SettingTargets& t, const SettingValue& v) {
    t.record.procAmp.settings.*Field = Int(v);
    t.refreshProcAmp = true;
}
template <int32_t ProcAmpState::*Field>
SettingValue ProcAmpWindowValue(const RelayRecord& r) {
    return r.procAmp.*Field;
}
template <int32_t ProcAmpState::*Field>
void ApplyProcAmpWindowValue(SettingTargets& t, const SettingValue& v) {
    t.record.procAmp.*Field = Int(v);
}

// Slider `index` (1..7) of the stored values, in ProcAmpParam order.
template <int32_t ProcAmpSettings::*Field>
constexpr Entry Slider(std::string_view name, int index) {
    const ProcAmpRange range = kProcAmpSliderRanges[static_cast<size_t>(index - 1)];
    return Stored(name, AT(procAmpValuesSetting) + 2 * index, T::I16)
        .Rule(R::Range, range.min, range.max, 50)
        .Captured(ProcAmpValue<Field>)
        .Applied(ApplyPhase::ProcAmpAndGrab, ApplyProcAmpValue<Field>);
}
// Byte `index` of the stored mode bytes.
template <int32_t ProcAmpSettings::*Field>
constexpr Entry ModeByte(std::string_view name, int index) {
    return Stored(name, AT(procAmpModeSetting) + index, T::I8)
        .Captured(ProcAmpValue<Field>)
        .Applied(ApplyPhase::ProcAmpAndGrab, ApplyProcAmpValue<Field>);
}
template <int32_t ProcAmpState::*Field>
constexpr Entry WindowByte(std::string_view name, size_t offset) {
    return Stored(name, offset, T::I8)
        .Captured(ProcAmpWindowValue<Field>)
        .Applied(ApplyPhase::ProcAmpAndGrab, ApplyProcAmpWindowValue<Field>);
}

// --- Frame grabs ---

template <auto Field>
SettingValue GrabValue(const RelayRecord& r) {
    return int32_t{r.grabSetup.*Field};
}
template <auto Field>
void ApplyGrabValue(SettingTargets& t, const SettingValue& v) {
    t.record.grabSetup.*Field = Int(v);
}
template <auto Field>
constexpr Entry GrabFlag(std::string_view name, int index) {
    return Stored(name, AT(grabFlagsSetting) + index, T::I8)
        .Flag()
        .Captured(GrabValue<Field>)
        .Applied(ApplyPhase::ProcAmpAndGrab, ApplyGrabValue<Field>);
}
constexpr const char* kGrabFormatNames[] = {"BMP", "GIF", "JPG", "PNG"};

// --- Settings of the main window ---

template <auto Member>
SettingValue RecordValue(const RelayRecord& r) {
    return static_cast<int32_t>(r.*Member);
}
bool NotConnected(const RelayRecord& r) {
    return !r.videoThreadRun && !r.audioThreadRun;
}
constexpr const char* kMonitorLevelNames[] = {"Mute", "Dim", "Full"};
constexpr const char* kEbuNames[] = {"SMPTE o/p", "EBU o/p"};

// --- The meter settings block: the configuration window's operations change them and announce
// the change; the meter takes the choices up afterwards ---

MeterConfig ConfigOf(RelayRecord& r) {
    return MeterConfig(r.meterSettings, r.meterLink);
}
constexpr const char* kMeterModeNames[] = {"Normal Mode", "vMix Mode"};
constexpr const char* kMeterLayoutNames[] = {"Horizontal", "Vertical", "Audio waveform (WIP)"};

// --- The group record: written by the group settings window, read again when it opens ---

template <int32_t GroupSettings::*Field>
void ApplyGroupFlag(SettingTargets& t, const SettingValue& v) {
    t.record.settingsRecord.groupSettings.*Field = Int(v);
    t.reloadGroups = true;
}
template <char (GroupSettings::*Field)[256]>
void ApplyGroupText(SettingTargets& t, const SettingValue& v) {
    CopyToField(t.record.settingsRecord.groupSettings.*Field, Text(v));
    t.reloadGroups = true;
}
constexpr size_t kGroups = AT(groupSettings);

const SettingDecl kSettings[] = {
    // ---------------------------------------------------------------- proc amp
    // The first stored value: written 50, never read back.
    Stored({}, AT(procAmpValuesSetting), T::I16)
        .Captured(ProcAmpValue<&ProcAmpSettings::reserved0>),
    Slider<&ProcAmpSettings::blackLevel>("procAmp.blackLevel", 1),
    Slider<&ProcAmpSettings::gain>("procAmp.gain", 2),
    Slider<&ProcAmpSettings::contrast>("procAmp.contrast", 3),
    Slider<&ProcAmpSettings::gamma>("procAmp.gamma", 4),
    Slider<&ProcAmpSettings::colourSat>("procAmp.colourSat", 5),
    Slider<&ProcAmpSettings::uLevelShift>("procAmp.uLevelShift", 6),
    Slider<&ProcAmpSettings::vLevelShift>("procAmp.vLevelShift", 7),
    ModeByte<&ProcAmpSettings::fxOrder>("procAmp.fxOrder", 0).Choice(0, 1, 0, kFxOrderNames),
    ModeByte<&ProcAmpSettings::uvLinking>("procAmp.uvLinking", 1).Choice(0, 2, 0, kUvLinkingNames),
    ModeByte<&ProcAmpSettings::reserved34>({}, 2),
    ModeByte<&ProcAmpSettings::reserved35>({}, 3),
    WindowByte<&ProcAmpState::monitorOn>("procAmp.monitor", AT(procAmpMonitorSetting)).Flag(),
    WindowByte<&ProcAmpState::wfmOn>("procAmp.waveform", AT(procAmpWfmSetting)).Flag(),
    Stored("procAmp.presetName", AT(procAmpPresetNameSetting), T::Utf16Text, kPresetNameMaxUnits)
        .Captured([](const RelayRecord& r) { return SettingValue(r.procAmp.presetName); })
        .Applied(ApplyPhase::ProcAmpAndGrab,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.procAmp.presetName = Text(v);
                 }),
    WindowByte<&ProcAmpState::currentPreset>("procAmp.preset", AT(procAmpPresetSetting))
        .Choice(0, 5, 0),

    // ---------------------------------------------------------------- frame grabs
    GrabFlag<&GrabNaming::useBaseName>("grab.useBaseName", 0),
    GrabFlag<&GrabNaming::addDate>("grab.addDate", 1),
    GrabFlag<&GrabNaming::addTime>("grab.addTime", 2),
    GrabFlag<&GrabSetup::grabOnFreeze>("grab.onFreeze", 3),
    Stored("grab.format", AT(grabFormatSetting), T::I16)
        .Choice(0, 3, 3, kGrabFormatNames)
        .Captured(GrabValue<&GrabNaming::formatIndex>)
        .Applied(ApplyPhase::ProcAmpAndGrab, ApplyGrabValue<&GrabNaming::formatIndex>),
    Stored("grab.baseName", AT(grabNameSetting), T::Utf16Text, 124)
        .Captured([](const RelayRecord& r) { return SettingValue(r.grabSetup.baseName); })
        .Applied(ApplyPhase::ProcAmpAndGrab,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.grabSetup.baseName = Text(v);
                 }),
    Stored("grab.folder", AT(grabFolderSetting), T::Utf16Text, 262)
        .Captured([](const RelayRecord& r) { return SettingValue(r.grabSetup.grabFolder); })
        .Applied(ApplyPhase::ProcAmpAndGrab,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.grabSetup.grabFolder = Text(v);
                 }),

    // ---------------------------------------------------------------- main window, apply order
    Stored("preview", AT(previewSetting), T::I8)
        .Flag()
        .Captured(RecordValue<&RelayRecord::previewOn>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) { t.record.previewOn = Int(v); }),
    Stored("rotation", AT(rotationSetting), T::I16)
        .Choice(0, kRotationModeCount - 1, 0, kRotationNames)
        .Captured(RecordValue<&RelayRecord::rotationMode>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.rotationMode = Int(v);
                     t.view.ShowRotation(Int(v));
                 }),
    Stored("keyFillSplit", AT(keyFillSetting), T::I8)
        .Flag()
        .Captured(RecordValue<&RelayRecord::keyFillSplit>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.keyFillSplit = Int(v);
                     t.record.keyFillMenuChecked = Int(v);
                     t.view.ShowKeyFillSplit(Int(v) != 0);
                 }),
    Stored("procAmp.applyToOutput", AT(procAmpApplySetting), T::I8)
        .Flag()
        .Captured([](const RelayRecord& r) { return SettingValue(r.procAmp.applyToOutput.load()); })
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.procAmp.applyToOutput = Int(v);
                     t.view.ShowProcAmpButton(Int(v) != 0);
                 }),
    Stored("deinterlace", AT(deinterlaceSetting), T::I8)
        .Choice(0, kDeinterlaceModeCount - 1, 0, kDeinterlaceNames)
        .Captured(RecordValue<&RelayRecord::deinterlaceMode>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.deinterlaceMode = Int(v);
                     t.view.ShowDeinterlace(Int(v));
                 }),
    Stored("airSendOutput", AT(airSendSetting), T::I8)
        .Flag()
        .Captured(RecordValue<&RelayRecord::airSendOutput>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.airSendOutput = Int(v);
                     t.view.ShowOutputChoice(Int(v) != 0);
                 })
        .OnlyWhen(NotConnected),
    Stored("monitorLevel", AT(monitorLevelSetting), T::I8)
        .Choice(0, 2, 2, kMonitorLevelNames)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     if (SetMonitorLevel(t.record, Int(v))) t.view.ShowMonitorLevel(Int(v));
                 }),
    Stored("ebu", AT(ebuSetting), T::I8)
        .Flag(kEbuNames)
        .Captured(RecordValue<&RelayRecord::ebuMode>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.ebuMode = Int(v);
                     t.view.ShowEbuMode(Int(v) != 0);
                 }),
    Stored("audio.gainStep", AT(gainItemSetting), T::I32)
        .Rule(R::GainStep)
        .Captured([](const RelayRecord& r) { return SettingValue(r.audioMapper.mapperGainItem); })
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.audioMapper.mapperGainItem = Int(v);
                 }),
    Stored("audio.gain", AT(gainSetting), T::F64)
        .Rule(R::Gain)
        .Captured([](const RelayRecord& r) { return SettingValue(r.audioGain.load()); })
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.audioGain = std::get<double>(v);
                     t.record.audioMapper.mapperGain = std::get<double>(v);
                     t.publishAudio = true;
                 }),
    Stored("audio.delayFrames", AT(delayFramesSetting), T::I8)
        .Range(0, kMaxDelayFrames)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.audioDelayFrames = static_cast<uint8_t>(Int(v));
                     t.record.settingsRecord.delayFramesSetting = static_cast<int8_t>(Int(v));
                     t.view.ShowDelayFrames(Int(v));
                     t.publishAudio = true;
                 }),
    Stored("audio.delayOn", AT(delayOnSetting), T::I8)
        .Flag()
        .Captured(RecordValue<&RelayRecord::audioDelayOn>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.audioDelayOn = Int(v);
                     t.view.ShowAudioDelay(Int(v) != 0);
                     t.publishAudio = true;
                 }),
    // No map can have been accepted for more than 32 channels (the window cannot lay it out), so
    // any other count means no map. The map applies again when a source has this many channels.
    Stored("audio.mapChannels", AT(mapChannelsSetting), T::I8)
        .Choice(0, kMaxAudioChannels, 0)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.mapActive = Int(v);
                     t.record.audioChannelCount = Int(v);
                     t.record.settingsRecord.mapChannelsSetting = static_cast<int8_t>(Int(v));
                     t.publishAudio = true;
                 }),
    Stored("audio.monoMix", AT(monoMixSetting), T::I8)
        .Flag()
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.monoMix = Int(v);
                     t.record.audioMapper.mapperMonoMix = Int(v);
                     t.record.settingsRecord.monoMixSetting = static_cast<int8_t>(Int(v));
                     t.publishAudio = true;
                 }),
    Stored("audio.channelMap", AT(channelMapSetting), T::Map32)
        .Rule(R::ChannelMap)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     const ChannelMapEntries& map = std::get<ChannelMapEntries>(v);
                     SetChannelMap(t.record, map);
                     for (size_t i = 0; i < map.size(); ++i)
                         t.record.settingsRecord.channelMapSetting[i] = map[i];
                     t.publishAudio = true;
                 }),
    Stored("extraIp", AT(extraIpSetting), T::Text8, 32)
        .Rule(R::AddressList)
        .Captured([](const RelayRecord& r) { return SettingValue(FieldText(r.extraIpText)); })
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     const bool changed = FieldText(t.record.extraIpText) != Text(v);
                     CopyToField(t.record.extraIpText, Text(v));
                     t.view.ShowExtraIp(FieldText(t.record.extraIpText));
                     // A loaded file leaves the finder to "Exclude local"; the field restarts it.
                     if (changed && !t.fromFile) t.restartFinder = true;
                 }),
    Stored("excludeLocal", AT(excludeLocalSetting), T::I8)
        .Flag()
        .Captured(RecordValue<&RelayRecord::excludeLocal>)
        .Applied(ApplyPhase::Settings,
                 [](SettingTargets& t, const SettingValue& v) {
                     if (Int(v) == t.record.excludeLocal) return;
                     t.record.excludeLocal = Int(v);
                     t.view.ShowExcludeLocal(Int(v) != 0);
                     t.restartFinder = true;
                 }),

    // ---------------------------------------------------------------- kept as stored
    // The latest frame rate seen: written by capture, never read.
    Stored({}, AT(lastRateSetting), T::F32).Captured([](const RelayRecord& r) {
        return SettingValue(double{r.lastRate.load()});
    }),
    Stored("loadOnStartup", AT(loadOnStartupSetting), T::I8)
        .Flag()
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.settingsRecord.loadOnStartupSetting = static_cast<int8_t>(Int(v));
                     t.view.ShowLoadOnStartup(Int(v) != 0);
                 }),
    Stored("saveOnExit", AT(saveOnExitSetting), T::I8)
        .Flag()
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     t.record.settingsRecord.saveOnExitSetting = static_cast<int8_t>(Int(v));
                     t.view.ShowSaveOnExit(Int(v) != 0);
                 }),
    Stored("groups.detectPublic", kGroups + offsetof(GroupSettings, detectPublic), T::I32)
        .Flag()
        .Applied(ApplyPhase::Never, ApplyGroupFlag<&GroupSettings::detectPublic>),
    Stored("groups.detectAppsGroup", kGroups + offsetof(GroupSettings, detectAppsGroup), T::I32)
        .Flag()
        .Applied(ApplyPhase::Never, ApplyGroupFlag<&GroupSettings::detectAppsGroup>),
    Stored("groups.outputPublic", kGroups + offsetof(GroupSettings, outputPublic), T::I32)
        .Flag()
        .Applied(ApplyPhase::Never, ApplyGroupFlag<&GroupSettings::outputPublic>),
    Stored("groups.outputAppsGroup", kGroups + offsetof(GroupSettings, outputAppsGroup), T::I32)
        .Flag()
        .Applied(ApplyPhase::Never, ApplyGroupFlag<&GroupSettings::outputAppsGroup>),
    Stored("groups.detectExtra", kGroups + offsetof(GroupSettings, detectExtraGroups), T::Text8,
           256)
        .Applied(ApplyPhase::Never, ApplyGroupText<&GroupSettings::detectExtraGroups>),
    Stored("groups.outputExtra", kGroups + offsetof(GroupSettings, outputExtraGroups), T::Text8,
           256)
        .Applied(ApplyPhase::Never, ApplyGroupText<&GroupSettings::outputExtraGroups>),

    // ---------------------------------------------------------------- the meter block
    Meter("meter.positionV", METER_AT(meterPosV), T::I32)
        .Range(0, MeterConfig::kPositionMax)
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     ConfigOf(t.record).SetPositions(Int(v), t.record.meterSettings.meterPosH);
                 }),
    Meter("meter.positionH", METER_AT(meterPosH), T::I32)
        .Range(0, MeterConfig::kPositionMax)
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     ConfigOf(t.record).SetPositions(t.record.meterSettings.meterPosV, Int(v));
                 }),
    Meter("meter.mode", METER_AT(meterMode), T::U8)
        .Choice(0, 1, 0, kMeterModeNames)
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     ConfigOf(t.record).ChooseMode(Int(v));
                     t.takeUpMeter = true;
                 }),
    Meter("meter.separateOutput", METER_AT(meterSeparateOutput), T::U8)
        .Flag()
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     ConfigOf(t.record).SetSeparateOutput(Int(v) != 0);
                     t.takeUpMeter = true;
                 }),
    Meter("meter.onMainOutput", METER_AT(meterOnMainOutput), T::U8)
        .Flag()
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     ConfigOf(t.record).SetOnMainOutput(Int(v) != 0);
                     t.takeUpMeter = true;
                 }),
    Meter("meter.layout", METER_AT(meterLayout), T::U8)
        .Choice(0, 2, 0, kMeterLayoutNames)
        .Applied(ApplyPhase::Never,
                 [](SettingTargets& t, const SettingValue& v) {
                     ConfigOf(t.record).ChooseLayout(Int(v));
                     t.takeUpMeter = true;
                 }),
};

#undef AT
#undef METER_AT

}  // namespace

std::span<const SettingDecl> OperatorSettings() {
    return kSettings;
}

}  // namespace velmor
