// The operations every setting goes through, driven by its declaration (settings_schema.h); the
// declarations themselves are in settings_table.cpp.
#include "relay/settings_schema.h"

#include <algorithm>
#include <cstring>

#include "relay/address_list.h"
#include "relay/audio_map.h"
#include "relay/audio_mapper.h"
#include "relay/capture_apply.h"
#include "relay/relay_record.h"
#include "relay/stored_ranges.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

template <typename T>
T Load(const uint8_t* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}
template <typename T>
void Store(uint8_t* at, T v) {
    std::memcpy(at, &v, sizeof v);
}

const uint8_t* Address(ConstStoredBlocks b, const SettingSpec& spec) {
    const void* block = spec.block == SettingBlock::Settings ? static_cast<const void*>(b.settings)
                                                             : static_cast<const void*>(b.meter);
    return block ? static_cast<const uint8_t*>(block) + spec.offset : nullptr;
}
uint8_t* Address(StoredBlocks b, const SettingSpec& spec) {
    return const_cast<uint8_t*>(Address(ConstStoredBlocks{b.settings, b.meter}, spec));
}

bool IsNumber(StoredType t) {
    return t == StoredType::I8 || t == StoredType::U8 || t == StoredType::I16 ||
           t == StoredType::I32;
}
bool IsReal(StoredType t) {
    return t == StoredType::F32 || t == StoredType::F64;
}
bool IsText(StoredType t) {
    return t == StoredType::Utf16Text || t == StoredType::Text8;
}

// The value in the alternative the setting's type keeps (a whole number given for a real one is
// taken as real); nothing when it is of another kind.
std::optional<SettingValue> Normalised(const SettingSpec& spec, const SettingValue& v) {
    if (IsNumber(spec.type) && std::holds_alternative<int32_t>(v)) return v;
    if (IsReal(spec.type)) {
        if (std::holds_alternative<double>(v)) return v;
        if (const int32_t* n = std::get_if<int32_t>(&v)) return SettingValue(double(*n));
    }
    if (IsText(spec.type) && std::holds_alternative<std::string>(v)) return v;
    if (spec.type == StoredType::Map32 && std::holds_alternative<ChannelMapEntries>(v)) return v;
    return std::nullopt;
}

int32_t ChoiceOr(int32_t v, int32_t lo, int32_t hi, int32_t fallback) {
    return (v < lo || v > hi) ? fallback : v;
}

ChannelMapEntries LimitedMap(ChannelMapEntries map, int mapChannels) {
    // Entry i of a map for C channels is a column 0..C (C is "Mute"); rows from C on are unused by
    // that map and only need to name a column the window can show.
    const int max = NDIAudioMapper::kMaxChannels;
    const int channels = mapChannels > 0 ? mapChannels : max;
    for (int i = 0; i < max; ++i) {
        const int bound = i < channels ? channels : max;
        map[static_cast<size_t>(i)] =
            static_cast<int8_t>(ChoiceOr(map[static_cast<size_t>(i)], 0, bound, i));
    }
    return map;
}

// After a set of values was applied: what must follow once.
void FinishApply(SettingTargets& t) {
    RelayRecord& r = t.record;
    if (t.refreshProcAmp) r.procAmp.Refresh();  // recomputes `active`, rebuilds the tables
    if (t.publishAudio) PublishAudioSettings(r);
    // Without a meter output configured the "PPM overlay" button goes dark with the overlay.
    if (t.takeUpMeter && TakeUpMeterChoices(r)) t.view.ShowPpmOverlay(false);
    if (t.reloadGroups) {
        r.groupSetup.LoadGroupControls();
        r.groupSetup.BuildReceiveGroups();
        r.groupSetup.BuildSendGroups();
        t.restartFinder = true;
    }
    if (t.restartFinder) {
        t.finder.RestartFinder(r.excludeLocal == 0, FieldText(r.extraIpText),
                               r.groupSetup.receiveGroups);
    }
    t.refreshProcAmp = t.publishAudio = t.takeUpMeter = t.reloadGroups = t.restartFinder = false;
}

}  // namespace

SettingValue ReadStored(ConstStoredBlocks blocks, const SettingSpec& spec) {
    const uint8_t* at = Address(blocks, spec);
    if (!at) return int32_t{0};
    switch (spec.type) {
        case StoredType::I8:
            return int32_t{Load<int8_t>(at)};
        case StoredType::U8:
            return int32_t{Load<uint8_t>(at)};
        case StoredType::I16:
            return int32_t{Load<int16_t>(at)};
        case StoredType::I32:
            return Load<int32_t>(at);
        case StoredType::F32:
            return double{Load<float>(at)};
        case StoredType::F64:
            return Load<double>(at);
        case StoredType::Utf16Text: {
            std::u16string text(spec.units, u'\0');
            std::memcpy(text.data(), at, spec.units * sizeof(char16_t));
            return Utf16ToUtf8(FieldText(text.data(), spec.units));
        }
        case StoredType::Text8:
            return FieldText(reinterpret_cast<const char*>(at), spec.units);
        case StoredType::Map32: {
            ChannelMapEntries map;
            std::memcpy(map.data(), at, map.size());
            return map;
        }
    }
    return int32_t{0};
}

void WriteStored(StoredBlocks blocks, const SettingSpec& spec, const SettingValue& value) {
    uint8_t* at = Address(blocks, spec);
    const std::optional<SettingValue> v = Normalised(spec, value);
    if (!at || !v) return;
    switch (spec.type) {
        case StoredType::I8:
            return Store(at, static_cast<int8_t>(std::get<int32_t>(*v)));
        case StoredType::U8:
            return Store(at, static_cast<uint8_t>(std::get<int32_t>(*v)));
        case StoredType::I16:
            return Store(at, static_cast<int16_t>(std::get<int32_t>(*v)));
        case StoredType::I32:
            return Store(at, std::get<int32_t>(*v));
        case StoredType::F32:
            return Store(at, static_cast<float>(std::get<double>(*v)));
        case StoredType::F64:
            return Store(at, std::get<double>(*v));
        case StoredType::Utf16Text: {
            std::u16string field(spec.units, u'\0');
            CopyToField(field.data(), spec.units, Utf8ToUtf16(std::get<std::string>(*v)));
            std::memcpy(at, field.data(), spec.units * sizeof(char16_t));
            return;
        }
        case StoredType::Text8:
            CopyToField(reinterpret_cast<char*>(at), spec.units, std::get<std::string>(*v));
            return;
        case StoredType::Map32:
            std::memcpy(at, std::get<ChannelMapEntries>(*v).data(), 32);
            return;
    }
}

SettingValue LimitedValue(const SettingSpec& spec, const SettingValue& value,
                          ConstStoredBlocks blocks) {
    switch (spec.rule) {
        case SettingRule::None:
            return value;
        case SettingRule::Flag:
            return int32_t{std::get<int32_t>(value) != 0 ? 1 : 0};
        case SettingRule::Range:
            return std::clamp(std::get<int32_t>(value), spec.min, spec.max);
        case SettingRule::Choice:
            return ChoiceOr(std::get<int32_t>(value), spec.min, spec.max, spec.fallback);
        case SettingRule::Gain:
            return LimitStoredGain(std::get<double>(value));
        case SettingRule::GainStep: {
            const int32_t v = std::get<int32_t>(value);
            if (v == 0) return v;
            return ChoiceOr(v, NDIAudioMapper::kFirstGainCommand, NDIAudioMapper::kLastGainCommand,
                            spec.fallback);
        }
        case SettingRule::AddressList: {
            // The text goes to the finder: only a list of addresses is kept.
            const std::string& text = std::get<std::string>(value);
            return CheckAddressList(text).ok() ? text : std::string();
        }
        case SettingRule::ChannelMap: {
            const int channels = blocks.settings ? blocks.settings->mapChannelsSetting : 0;
            return LimitedMap(std::get<ChannelMapEntries>(value), channels);
        }
    }
    return value;
}

void CaptureStored(const RelayRecord& record, StoredBlocks blocks,
                   std::span<const SettingSpec> settings) {
    for (const SettingSpec& spec : settings) {
        if (spec.storedBy == StoredBy::Capture && spec.live)
            WriteStored(blocks, spec, spec.live(record));
    }
}

void LimitStored(StoredBlocks blocks, std::span<const SettingSpec> settings) {
    const ConstStoredBlocks read{blocks.settings, blocks.meter};
    for (const SettingSpec& spec : settings) {
        if (spec.rule == SettingRule::None || !Address(read, spec)) continue;
        const SettingValue stored = ReadStored(read, spec);
        const SettingValue limited = LimitedValue(spec, stored, read);
        // Only a value that changes is written back: the bytes of a valid text stay as read.
        if (limited != stored) WriteStored(blocks, spec, limited);
    }
}

void ApplyStored(SettingTargets& targets, ApplyPhase phase, std::span<const SettingSpec> settings) {
    RelayRecord& r = targets.record;
    const ConstStoredBlocks blocks{&r.settingsRecord, &r.meterSettings};
    targets.fromFile = true;
    for (const SettingSpec& spec : settings) {
        if (spec.phase == phase && spec.apply) spec.apply(targets, ReadStored(blocks, spec));
    }
    FinishApply(targets);
}

const SettingSpec* FindSetting(std::string_view name, std::span<const SettingSpec> settings) {
    if (name.empty()) return nullptr;
    for (const SettingSpec& spec : settings) {
        if (spec.name == name) return &spec;
    }
    return nullptr;
}

SettingValue CurrentValue(const RelayRecord& record, const SettingSpec& spec) {
    SettingsRecord settings = record.settingsRecord;
    MeterSettings meter = record.meterSettings;
    if (spec.storedBy == StoredBy::Capture && spec.live)
        WriteStored({&settings, &meter}, spec, spec.live(record));
    return ReadStored({&settings, &meter}, spec);
}

std::string SettingText(const SettingSpec& spec, const SettingValue& value) {
    if (spec.rule == SettingRule::GainStep) {
        const std::string menu = NDIAudioMapper::GainMenuText(std::get<int32_t>(value));
        return menu.empty() ? "+0 dB" : menu.substr(1);
    }
    const int32_t* n = std::get_if<int32_t>(&value);
    if (!n) return {};
    const int64_t index = int64_t{*n} - spec.min;
    if (index >= 0 && index < static_cast<int64_t>(spec.texts.size()))
        return spec.texts[static_cast<size_t>(index)];
    if (spec.rule == SettingRule::Flag && (*n == 0 || *n == 1)) return *n ? "On" : "Off";
    return {};
}

std::vector<SettingRefusal> ApplySettingValues(SettingTargets& targets,
                                               std::span<const SettingChange> changes,
                                               std::span<const SettingSpec> settings) {
    RelayRecord& r = targets.record;
    // The values the file would store with every change made.
    SettingsRecord storedSettings = r.settingsRecord;
    MeterSettings storedMeter = r.meterSettings;
    const StoredBlocks blocks{&storedSettings, &storedMeter};
    const ConstStoredBlocks read{&storedSettings, &storedMeter};
    CaptureStored(r, blocks, settings);

    std::vector<SettingRefusal> refusals;
    std::vector<std::optional<SettingValue>> wanted(changes.size());
    for (size_t i = 0; i < changes.size(); ++i) {
        const SettingSpec* spec = changes[i].spec;
        const auto refuse = [&](const char* why) {
            refusals.push_back({spec ? std::string(spec->name) : std::string(), why});
        };
        if (!spec || !spec->exposed() || !spec->apply) {
            refuse("no such setting");
        } else if (!(wanted[i] = Normalised(*spec, changes[i].value))) {
            refuse("not a value of this setting's kind");
        } else if (spec->changeable && !spec->changeable(r)) {
            refuse("cannot be changed now");
        } else {
            WriteStored(blocks, *spec, *wanted[i]);
        }
    }
    // Every rule is checked against the final values (the map against its new channel count): a
    // value is valid when it is stored as given and the file's limits leave it as it is.
    for (size_t i = 0; i < changes.size() && refusals.empty(); ++i) {
        const SettingSpec& spec = *changes[i].spec;
        const SettingValue stored = ReadStored(read, spec);
        if (stored != *wanted[i] || LimitedValue(spec, stored, read) != stored)
            refusals.push_back({std::string(spec.name), "outside the setting's valid values"});
    }
    if (!refusals.empty()) return refusals;

    targets.fromFile = false;
    for (const SettingSpec& spec : settings) {
        for (size_t i = 0; i < changes.size(); ++i) {
            if (changes[i].spec == &spec) spec.apply(targets, *wanted[i]);
        }
    }
    FinishApply(targets);
    return refusals;
}

}  // namespace velmor
