// The operator settings, one entry each (settings_schema.h says what an entry holds). The order is
// the order of applying a loaded configuration: the proc amp and grab settings first, then the
// rest as ApplySettings takes them; the settings whose stored copy is the setting come last.
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

int32_t Int(const SettingValue& v) {
    return std::get<int32_t>(v);
}
const std::string& Text(const SettingValue& v) {
    return std::get<std::string>(v);
}

constexpr uint16_t At(size_t offset) {
    return static_cast<uint16_t>(offset);
}
#define STORED(field) At(offsetof(SettingsRecord, field))
#define METER(field) At(offsetof(MeterSettings, field))

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

// A proc amp slider stored as value `index` of procAmpValuesSetting.
constexpr SettingSpec Slider(std::string_view name, int index,
                             SettingValue (*live)(const RelayRecord&),
                             void (*apply)(SettingTargets&, const SettingValue&)) {
    return {.name = name,
            .block = SettingBlock::Settings,
            .offset = At(offsetof(SettingsRecord, procAmpValuesSetting) + 2 * index),
            .type = T::I16,
            .units = 0,
            .rule = R::Range,
            .min = kProcAmpSliderRanges[index - 1].min,
            .max = kProcAmpSliderRanges[index - 1].max,
            .fallback = 50,
            .texts = {},
            .storedBy = StoredBy::Capture,
            .phase = ApplyPhase::ProcAmpAndGrab,
            .live = live,
            .apply = apply};
}
// A proc amp mode byte stored as byte `index` of procAmpModeSetting.
constexpr SettingSpec ModeByte(std::string_view name, int index, SettingRule rule, int32_t max,
                               std::span<const char* const> texts,
                               SettingValue (*live)(const RelayRecord&),
                               void (*apply)(SettingTargets&, const SettingValue&)) {
    return {.name = name,
            .block = SettingBlock::Settings,
            .offset = At(offsetof(SettingsRecord, procAmpModeSetting) + index),
            .type = T::I8,
            .units = 0,
            .rule = rule,
            .min = 0,
            .max = max,
            .fallback = 0,
            .texts = texts,
            .storedBy = StoredBy::Capture,
            .phase = ApplyPhase::ProcAmpAndGrab,
            .live = live,
            .apply = apply};
}

// --- Frame grabs ---

template <int GrabNaming::*Field>
SettingValue GrabValue(const RelayRecord& r) {
    return int32_t{r.grabSetup.*Field};
}
template <int GrabNaming::*Field>
void ApplyGrabValue(SettingTargets& t, const SettingValue& v) {
    t.record.grabSetup.*Field = Int(v);
}
constexpr SettingSpec GrabFlag(std::string_view name, int index,
                               SettingValue (*live)(const RelayRecord&),
                               void (*apply)(SettingTargets&, const SettingValue&)) {
    return {.name = name,
            .block = SettingBlock::Settings,
            .offset = At(offsetof(SettingsRecord, grabFlagsSetting) + index),
            .type = T::I8,
            .units = 0,
            .rule = R::Flag,
            .min = 0,
            .max = 1,
            .fallback = 0,
            .texts = {},
            .storedBy = StoredBy::Capture,
            .phase = ApplyPhase::ProcAmpAndGrab,
            .live = live,
            .apply = apply};
}
constexpr const char* kGrabFormatNames[] = {"BMP", "GIF", "JPG", "PNG"};

// --- Settings of the main window ---

// A flag of the record applied as a plain store.
template <auto Member>
SettingValue RecordFlag(const RelayRecord& r) {
    return static_cast<int32_t>(r.*Member);
}

constexpr const char* kMonitorLevelNames[] = {"Mute", "Dim", "Full"};
constexpr const char* kEbuNames[] = {"SMPTE o/p", "EBU o/p"};

// A flag stored by capture and applied with ApplySettings.
constexpr SettingSpec MainFlag(std::string_view name, uint16_t offset,
                               SettingValue (*live)(const RelayRecord&),
                               void (*apply)(SettingTargets&, const SettingValue&),
                               std::span<const char* const> texts = {}) {
    return {.name = name,
            .block = SettingBlock::Settings,
            .offset = offset,
            .type = T::I8,
            .units = 0,
            .rule = R::Flag,
            .min = 0,
            .max = 1,
            .fallback = 0,
            .texts = texts,
            .storedBy = StoredBy::Capture,
            .phase = ApplyPhase::Settings,
            .live = live,
            .apply = apply};
}

// --- The meter settings block: the stored choices are the settings; the configuration window's
// operations change them and announce the change ---

constexpr const char* kMeterModeNames[] = {"Normal Mode", "vMix Mode"};
constexpr const char* kMeterLayoutNames[] = {"Horizontal", "Vertical", "Audio waveform (WIP)"};

constexpr SettingSpec MeterChoice(std::string_view name, uint16_t offset, StoredType type,
                                  SettingRule rule, int32_t max, int32_t fallback,
                                  std::span<const char* const> texts,
                                  void (*apply)(SettingTargets&, const SettingValue&)) {
    return {.name = name,
            .block = SettingBlock::Meter,
            .offset = offset,
            .type = type,
            .units = 0,
            .rule = rule,
            .min = 0,
            .max = max,
            .fallback = fallback,
            .texts = texts,
            .storedBy = StoredBy::Control,
            .phase = ApplyPhase::Never,
            .live = nullptr,
            .apply = apply};
}
MeterConfig ConfigOf(RelayRecord& r) {
    return MeterConfig(r.meterSettings, r.meterLink);
}

// --- The group record: written by the group settings window, read again when it opens ---

template <int32_t GroupSettings::*Field>
void ApplyGroupFlag(SettingTargets& t, const SettingValue& v) {
    t.record.settingsRecord.groupSettings.*Field = Int(v);
    t.reloadGroups = true;
}
constexpr SettingSpec GroupFlag(std::string_view name, uint16_t offset,
                                void (*apply)(SettingTargets&, const SettingValue&)) {
    return {.name = name,
            .block = SettingBlock::Settings,
            .offset = offset,
            .type = T::I32,
            .units = 0,
            .rule = R::Flag,
            .min = 0,
            .max = 1,
            .fallback = 0,
            .texts = {},
            .storedBy = StoredBy::Control,
            .phase = ApplyPhase::Never,
            .live = nullptr,
            .apply = apply};
}
template <char (GroupSettings::*Field)[256]>
void ApplyGroupText(SettingTargets& t, const SettingValue& v) {
    CopyToField(t.record.settingsRecord.groupSettings.*Field, Text(v));
    t.reloadGroups = true;
}
constexpr SettingSpec GroupText(std::string_view name, uint16_t offset,
                                void (*apply)(SettingTargets&, const SettingValue&)) {
    return {.name = name,
            .block = SettingBlock::Settings,
            .offset = offset,
            .type = T::Text8,
            .units = 256,
            .rule = R::None,
            .min = 0,
            .max = 0,
            .fallback = 0,
            .texts = {},
            .storedBy = StoredBy::Control,
            .phase = ApplyPhase::Never,
            .live = nullptr,
            .apply = apply};
}
constexpr uint16_t kGroups = STORED(groupSettings);

// A menu choice whose stored copy is the setting.
constexpr SettingSpec MenuChoice(std::string_view name, uint16_t offset,
                                 void (*apply)(SettingTargets&, const SettingValue&)) {
    return {.name = name,
            .block = SettingBlock::Settings,
            .offset = offset,
            .type = T::I8,
            .units = 0,
            .rule = R::Flag,
            .min = 0,
            .max = 1,
            .fallback = 0,
            .texts = {},
            .storedBy = StoredBy::Control,
            .phase = ApplyPhase::Never,
            .live = nullptr,
            .apply = apply};
}

bool NotConnected(const RelayRecord& r) {
    return !r.videoThreadRun && !r.audioThreadRun;
}

const SettingSpec kSettings[] = {
    // ---------------------------------------------------------------- proc amp
    {.name = {},  // the first stored value: written 50, never read back
     .block = SettingBlock::Settings,
     .offset = STORED(procAmpValuesSetting),
     .type = T::I16,
     .units = 0,
     .rule = R::None,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Never,
     .live = ProcAmpValue<&ProcAmpSettings::reserved0>},
    Slider("procAmp.blackLevel", 1, ProcAmpValue<&ProcAmpSettings::blackLevel>,
           ApplyProcAmpValue<&ProcAmpSettings::blackLevel>),
    Slider("procAmp.gain", 2, ProcAmpValue<&ProcAmpSettings::gain>,
           ApplyProcAmpValue<&ProcAmpSettings::gain>),
    Slider("procAmp.contrast", 3, ProcAmpValue<&ProcAmpSettings::contrast>,
           ApplyProcAmpValue<&ProcAmpSettings::contrast>),
    Slider("procAmp.gamma", 4, ProcAmpValue<&ProcAmpSettings::gamma>,
           ApplyProcAmpValue<&ProcAmpSettings::gamma>),
    Slider("procAmp.colourSat", 5, ProcAmpValue<&ProcAmpSettings::colourSat>,
           ApplyProcAmpValue<&ProcAmpSettings::colourSat>),
    Slider("procAmp.uLevelShift", 6, ProcAmpValue<&ProcAmpSettings::uLevelShift>,
           ApplyProcAmpValue<&ProcAmpSettings::uLevelShift>),
    Slider("procAmp.vLevelShift", 7, ProcAmpValue<&ProcAmpSettings::vLevelShift>,
           ApplyProcAmpValue<&ProcAmpSettings::vLevelShift>),
    ModeByte("procAmp.fxOrder", 0, R::Choice, 1, kFxOrderNames,
             ProcAmpValue<&ProcAmpSettings::fxOrder>, ApplyProcAmpValue<&ProcAmpSettings::fxOrder>),
    ModeByte("procAmp.uvLinking", 1, R::Choice, 2, kUvLinkingNames,
             ProcAmpValue<&ProcAmpSettings::uvLinking>,
             ApplyProcAmpValue<&ProcAmpSettings::uvLinking>),
    ModeByte({}, 2, R::None, 0, {}, ProcAmpValue<&ProcAmpSettings::reserved34>,
             ApplyProcAmpValue<&ProcAmpSettings::reserved34>),
    ModeByte({}, 3, R::None, 0, {}, ProcAmpValue<&ProcAmpSettings::reserved35>,
             ApplyProcAmpValue<&ProcAmpSettings::reserved35>),
    {.name = "procAmp.monitor",
     .block = SettingBlock::Settings,
     .offset = STORED(procAmpMonitorSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Flag,
     .min = 0,
     .max = 1,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::ProcAmpAndGrab,
     .live = ProcAmpWindowValue<&ProcAmpState::monitorOn>,
     .apply = ApplyProcAmpWindowValue<&ProcAmpState::monitorOn>},
    {.name = "procAmp.waveform",
     .block = SettingBlock::Settings,
     .offset = STORED(procAmpWfmSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Flag,
     .min = 0,
     .max = 1,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::ProcAmpAndGrab,
     .live = ProcAmpWindowValue<&ProcAmpState::wfmOn>,
     .apply = ApplyProcAmpWindowValue<&ProcAmpState::wfmOn>},
    {.name = "procAmp.presetName",
     .block = SettingBlock::Settings,
     .offset = STORED(procAmpPresetNameSetting),
     .type = T::Utf16Text,
     .units = kPresetNameMaxUnits,
     .rule = R::None,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::ProcAmpAndGrab,
     .live = [](const RelayRecord& r) { return SettingValue(r.procAmp.presetName); },
     .apply = [](SettingTargets& t,
                 const SettingValue& v) { t.record.procAmp.presetName = Text(v); }},
    {.name = "procAmp.preset",
     .block = SettingBlock::Settings,
     .offset = STORED(procAmpPresetSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Choice,
     .min = 0,
     .max = 5,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::ProcAmpAndGrab,
     .live = ProcAmpWindowValue<&ProcAmpState::currentPreset>,
     .apply = ApplyProcAmpWindowValue<&ProcAmpState::currentPreset>},

    // ---------------------------------------------------------------- frame grabs
    GrabFlag("grab.useBaseName", 0, GrabValue<&GrabNaming::useBaseName>,
             ApplyGrabValue<&GrabNaming::useBaseName>),
    GrabFlag("grab.addDate", 1, GrabValue<&GrabNaming::addDate>,
             ApplyGrabValue<&GrabNaming::addDate>),
    GrabFlag("grab.addTime", 2, GrabValue<&GrabNaming::addTime>,
             ApplyGrabValue<&GrabNaming::addTime>),
    GrabFlag(
        "grab.onFreeze", 3,
        [](const RelayRecord& r) { return SettingValue(int32_t{r.grabSetup.grabOnFreeze}); },
        [](SettingTargets& t, const SettingValue& v) { t.record.grabSetup.grabOnFreeze = Int(v); }),
    {.name = "grab.format",
     .block = SettingBlock::Settings,
     .offset = STORED(grabFormatSetting),
     .type = T::I16,
     .units = 0,
     .rule = R::Choice,
     .min = 0,
     .max = 3,
     .fallback = 3,
     .texts = kGrabFormatNames,
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::ProcAmpAndGrab,
     .live = GrabValue<&GrabNaming::formatIndex>,
     .apply = ApplyGrabValue<&GrabNaming::formatIndex>},
    {.name = "grab.baseName",
     .block = SettingBlock::Settings,
     .offset = STORED(grabNameSetting),
     .type = T::Utf16Text,
     .units = 124,
     .rule = R::None,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::ProcAmpAndGrab,
     .live = [](const RelayRecord& r) { return SettingValue(r.grabSetup.baseName); },
     .apply = [](SettingTargets& t,
                 const SettingValue& v) { t.record.grabSetup.baseName = Text(v); }},
    {.name = "grab.folder",
     .block = SettingBlock::Settings,
     .offset = STORED(grabFolderSetting),
     .type = T::Utf16Text,
     .units = 262,
     .rule = R::None,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::ProcAmpAndGrab,
     .live = [](const RelayRecord& r) { return SettingValue(r.grabSetup.grabFolder); },
     .apply = [](SettingTargets& t,
                 const SettingValue& v) { t.record.grabSetup.grabFolder = Text(v); }},

    // ---------------------------------------------------------------- main window, in apply order
    MainFlag("preview", STORED(previewSetting), RecordFlag<&RelayRecord::previewOn>,
             [](SettingTargets& t, const SettingValue& v) { t.record.previewOn = Int(v); }),
    {.name = "rotation",
     .block = SettingBlock::Settings,
     .offset = STORED(rotationSetting),
     .type = T::I16,
     .units = 0,
     .rule = R::Choice,
     .min = 0,
     .max = kRotationModeCount - 1,
     .fallback = 0,
     .texts = kRotationNames,
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Settings,
     .live = RecordFlag<&RelayRecord::rotationMode>,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             t.record.rotationMode = Int(v);
             t.view.ShowRotation(Int(v));
         }},
    MainFlag("keyFillSplit", STORED(keyFillSetting), RecordFlag<&RelayRecord::keyFillSplit>,
             [](SettingTargets& t, const SettingValue& v) {
                 t.record.keyFillSplit = Int(v);
                 t.record.keyFillMenuChecked = Int(v);
                 t.view.ShowKeyFillSplit(Int(v) != 0);
             }),
    MainFlag(
        "procAmp.applyToOutput", STORED(procAmpApplySetting),
        [](const RelayRecord& r) { return SettingValue(int32_t{r.procAmp.applyToOutput}); },
        [](SettingTargets& t, const SettingValue& v) {
            t.record.procAmp.applyToOutput = Int(v);
            t.view.ShowProcAmpButton(Int(v) != 0);
        }),
    {.name = "deinterlace",
     .block = SettingBlock::Settings,
     .offset = STORED(deinterlaceSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Choice,
     .min = 0,
     .max = kDeinterlaceModeCount - 1,
     .fallback = 0,
     .texts = kDeinterlaceNames,
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Settings,
     .live = RecordFlag<&RelayRecord::deinterlaceMode>,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             t.record.deinterlaceMode = Int(v);
             t.view.ShowDeinterlace(Int(v));
         }},
    {.name = "airSendOutput",
     .block = SettingBlock::Settings,
     .offset = STORED(airSendSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Flag,
     .min = 0,
     .max = 1,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Settings,
     .live = RecordFlag<&RelayRecord::airSendOutput>,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             t.record.airSendOutput = Int(v);
             t.view.ShowOutputChoice(Int(v) != 0);
         },
     .changeable = NotConnected},
    {.name = "monitorLevel",
     .block = SettingBlock::Settings,
     .offset = STORED(monitorLevelSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Choice,
     .min = 0,
     .max = 2,
     .fallback = 2,
     .texts = kMonitorLevelNames,
     .storedBy = StoredBy::Control,
     .phase = ApplyPhase::Settings,
     .live = nullptr,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             if (SetMonitorLevel(t.record, Int(v))) t.view.ShowMonitorLevel(Int(v));
         }},
    MainFlag(
        "ebu", STORED(ebuSetting), RecordFlag<&RelayRecord::ebuMode>,
        [](SettingTargets& t, const SettingValue& v) {
            t.record.ebuMode = Int(v);
            t.view.ShowEbuMode(Int(v) != 0);
        },
        kEbuNames),
    {.name = "audio.gainStep",
     .block = SettingBlock::Settings,
     .offset = STORED(gainItemSetting),
     .type = T::I32,
     .units = 0,
     .rule = R::GainStep,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Settings,
     .live = [](const RelayRecord& r) { return SettingValue(r.audioMapper.mapperGainItem); },
     .apply = [](SettingTargets& t,
                 const SettingValue& v) { t.record.audioMapper.mapperGainItem = Int(v); }},
    {.name = "audio.gain",
     .block = SettingBlock::Settings,
     .offset = STORED(gainSetting),
     .type = T::F64,
     .units = 0,
     .rule = R::Gain,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Settings,
     .live = [](const RelayRecord& r) { return SettingValue(r.audioGain.load()); },
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             t.record.audioGain = std::get<double>(v);
             t.record.audioMapper.mapperGain = std::get<double>(v);
             t.publishAudio = true;
         }},
    {.name = "audio.delayFrames",
     .block = SettingBlock::Settings,
     .offset = STORED(delayFramesSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Range,
     .min = 0,
     .max = kMaxDelayFrames,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Control,
     .phase = ApplyPhase::Settings,
     .live = nullptr,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             t.record.audioDelayFrames = static_cast<uint8_t>(Int(v));
             t.record.settingsRecord.delayFramesSetting = static_cast<int8_t>(Int(v));
             t.view.ShowDelayFrames(Int(v));
             t.publishAudio = true;
         }},
    MainFlag("audio.delayOn", STORED(delayOnSetting), RecordFlag<&RelayRecord::audioDelayOn>,
             [](SettingTargets& t, const SettingValue& v) {
                 t.record.audioDelayOn = Int(v);
                 t.view.ShowAudioDelay(Int(v) != 0);
                 t.publishAudio = true;
             }),
    {.name = "audio.mapChannels",
     .block = SettingBlock::Settings,
     .offset = STORED(mapChannelsSetting),
     .type = T::I8,
     .units = 0,
     // No map can have been accepted for more than 32 channels (the window cannot lay it out),
     // so any other count means no map.
     .rule = R::Choice,
     .min = 0,
     .max = kMaxAudioChannels,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Control,
     .phase = ApplyPhase::Settings,
     .live = nullptr,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             // The map applies again when the next source has this many channels.
             t.record.mapActive = Int(v);
             t.record.audioChannelCount = Int(v);
             t.record.settingsRecord.mapChannelsSetting = static_cast<int8_t>(Int(v));
             t.publishAudio = true;
         }},
    {.name = "audio.monoMix",
     .block = SettingBlock::Settings,
     .offset = STORED(monoMixSetting),
     .type = T::I8,
     .units = 0,
     .rule = R::Flag,
     .min = 0,
     .max = 1,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Control,
     .phase = ApplyPhase::Settings,
     .live = nullptr,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             t.record.monoMix = Int(v);
             t.record.audioMapper.mapperMonoMix = Int(v);
             t.record.settingsRecord.monoMixSetting = static_cast<int8_t>(Int(v));
             t.publishAudio = true;
         }},
    {.name = "audio.channelMap",
     .block = SettingBlock::Settings,
     .offset = STORED(channelMapSetting),
     .type = T::Map32,
     .units = 0,
     .rule = R::ChannelMap,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Control,
     .phase = ApplyPhase::Settings,
     .live = nullptr,
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             const ChannelMapEntries& map = std::get<ChannelMapEntries>(v);
             SetChannelMap(t.record, map);
             for (size_t i = 0; i < map.size(); ++i)
                 t.record.settingsRecord.channelMapSetting[i] = map[i];
             t.publishAudio = true;
         }},
    {.name = "extraIp",
     .block = SettingBlock::Settings,
     .offset = STORED(extraIpSetting),
     .type = T::Text8,
     .units = 32,
     .rule = R::AddressList,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Settings,
     .live = [](const RelayRecord& r) { return SettingValue(FieldText(r.extraIpText)); },
     .apply =
         [](SettingTargets& t, const SettingValue& v) {
             const bool changed = FieldText(t.record.extraIpText) != Text(v);
             CopyToField(t.record.extraIpText, Text(v));
             t.view.ShowExtraIp(FieldText(t.record.extraIpText));
             // A loaded file leaves the finder to "Exclude local"; the field itself restarts it.
             if (changed && !t.fromFile) t.restartFinder = true;
         }},
    MainFlag("excludeLocal", STORED(excludeLocalSetting), RecordFlag<&RelayRecord::excludeLocal>,
             [](SettingTargets& t, const SettingValue& v) {
                 if (Int(v) == t.record.excludeLocal) return;
                 t.record.excludeLocal = Int(v);
                 t.view.ShowExcludeLocal(Int(v) != 0);
                 t.restartFinder = true;
             }),

    // ---------------------------------------------------------------- kept as stored
    {.name = {},  // the latest frame rate seen, written by capture and never read
     .block = SettingBlock::Settings,
     .offset = STORED(lastRateSetting),
     .type = T::F32,
     .units = 0,
     .rule = R::None,
     .min = 0,
     .max = 0,
     .fallback = 0,
     .texts = {},
     .storedBy = StoredBy::Capture,
     .phase = ApplyPhase::Never,
     .live = [](const RelayRecord& r) { return SettingValue(double{r.lastRate.load()}); }},
    MenuChoice("loadOnStartup", STORED(loadOnStartupSetting),
               [](SettingTargets& t, const SettingValue& v) {
                   t.record.settingsRecord.loadOnStartupSetting = static_cast<int8_t>(Int(v));
                   t.view.ShowLoadOnStartup(Int(v) != 0);
               }),
    MenuChoice("saveOnExit", STORED(saveOnExitSetting),
               [](SettingTargets& t, const SettingValue& v) {
                   t.record.settingsRecord.saveOnExitSetting = static_cast<int8_t>(Int(v));
                   t.view.ShowSaveOnExit(Int(v) != 0);
               }),
    GroupFlag("groups.detectPublic", kGroups + offsetof(GroupSettings, detectPublic),
              ApplyGroupFlag<&GroupSettings::detectPublic>),
    GroupFlag("groups.detectAppsGroup", kGroups + offsetof(GroupSettings, detectAppsGroup),
              ApplyGroupFlag<&GroupSettings::detectAppsGroup>),
    GroupFlag("groups.outputPublic", kGroups + offsetof(GroupSettings, outputPublic),
              ApplyGroupFlag<&GroupSettings::outputPublic>),
    GroupFlag("groups.outputAppsGroup", kGroups + offsetof(GroupSettings, outputAppsGroup),
              ApplyGroupFlag<&GroupSettings::outputAppsGroup>),
    GroupText("groups.detectExtra", kGroups + offsetof(GroupSettings, detectExtraGroups),
              ApplyGroupText<&GroupSettings::detectExtraGroups>),
    GroupText("groups.outputExtra", kGroups + offsetof(GroupSettings, outputExtraGroups),
              ApplyGroupText<&GroupSettings::outputExtraGroups>),

    // ---------------------------------------------------------------- the meter block
    MeterChoice(
        "meter.positionV", METER(meterPosV), T::I32, R::Range, MeterConfig::kPositionMax, 0, {},
        [](SettingTargets& t, const SettingValue& v) {
            ConfigOf(t.record).SetPositions(Int(v), t.record.meterSettings.meterPosH);
        }),
    MeterChoice(
        "meter.positionH", METER(meterPosH), T::I32, R::Range, MeterConfig::kPositionMax, 0, {},
        [](SettingTargets& t, const SettingValue& v) {
            ConfigOf(t.record).SetPositions(t.record.meterSettings.meterPosV, Int(v));
        }),
    MeterChoice("meter.mode", METER(meterMode), T::U8, R::Choice, 1, 0, kMeterModeNames,
                [](SettingTargets& t, const SettingValue& v) {
                    ConfigOf(t.record).ChooseMode(Int(v));
                    t.takeUpMeter = true;
                }),
    MeterChoice("meter.separateOutput", METER(meterSeparateOutput), T::U8, R::Flag, 1, 0, {},
                [](SettingTargets& t, const SettingValue& v) {
                    ConfigOf(t.record).SetSeparateOutput(Int(v) != 0);
                    t.takeUpMeter = true;
                }),
    MeterChoice("meter.onMainOutput", METER(meterOnMainOutput), T::U8, R::Flag, 1, 0, {},
                [](SettingTargets& t, const SettingValue& v) {
                    ConfigOf(t.record).SetOnMainOutput(Int(v) != 0);
                    t.takeUpMeter = true;
                }),
    MeterChoice("meter.layout", METER(meterLayout), T::U8, R::Choice, 2, 0, kMeterLayoutNames,
                [](SettingTargets& t, const SettingValue& v) {
                    ConfigOf(t.record).ChooseLayout(Int(v));
                    t.takeUpMeter = true;
                }),
};

#undef STORED
#undef METER

}  // namespace

std::span<const SettingSpec> OperatorSettings() {
    return kSettings;
}

}  // namespace velmor
