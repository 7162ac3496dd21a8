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

const uint8_t* Address(ConstStoredBlocks b, const SettingDecl& decl) {
    const void* block = decl.block == SettingBlock::Settings ? static_cast<const void*>(b.settings)
                                                             : static_cast<const void*>(b.meter);
    return block ? static_cast<const uint8_t*>(block) + decl.offset : nullptr;
}
uint8_t* Address(StoredBlocks b, const SettingDecl& decl) {
    return const_cast<uint8_t*>(Address(ConstStoredBlocks{b.settings, b.meter}, decl));
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
std::optional<SettingValue> Normalised(const SettingDecl& decl, const SettingValue& v) {
    if (IsNumber(decl.type) && std::holds_alternative<int32_t>(v)) return v;
    if (IsReal(decl.type)) {
        if (std::holds_alternative<double>(v)) return v;
        if (const int32_t* n = std::get_if<int32_t>(&v)) return SettingValue(double(*n));
    }
    if (IsText(decl.type) && std::holds_alternative<std::string>(v)) return v;
    if (decl.type == StoredType::Map32 && std::holds_alternative<ChannelMapEntries>(v)) return v;
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

SettingValue ReadStored(ConstStoredBlocks blocks, const SettingDecl& decl) {
    const uint8_t* at = Address(blocks, decl);
    if (!at) return int32_t{0};
    switch (decl.type) {
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
            std::u16string text(decl.units, u'\0');
            std::memcpy(text.data(), at, decl.units * sizeof(char16_t));
            return Utf16ToUtf8(FieldText(text.data(), decl.units));
        }
        case StoredType::Text8:
            return FieldText(reinterpret_cast<const char*>(at), decl.units);
        case StoredType::Map32: {
            ChannelMapEntries map;
            std::memcpy(map.data(), at, map.size());
            return map;
        }
    }
    return int32_t{0};
}

void WriteStored(StoredBlocks blocks, const SettingDecl& decl, const SettingValue& value) {
    uint8_t* at = Address(blocks, decl);
    const std::optional<SettingValue> v = Normalised(decl, value);
    if (!at || !v) return;
    switch (decl.type) {
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
            std::u16string field(decl.units, u'\0');
            CopyToField(field.data(), decl.units, Utf8ToUtf16(std::get<std::string>(*v)));
            std::memcpy(at, field.data(), decl.units * sizeof(char16_t));
            return;
        }
        case StoredType::Text8:
            CopyToField(reinterpret_cast<char*>(at), decl.units, std::get<std::string>(*v));
            return;
        case StoredType::Map32:
            std::memcpy(at, std::get<ChannelMapEntries>(*v).data(), 32);
            return;
    }
}

SettingValue LimitedValue(const SettingDecl& decl, const SettingValue& value,
                          ConstStoredBlocks blocks) {
    switch (decl.rule) {
        case SettingRule::None:
            return value;
        case SettingRule::Flag:
            return int32_t{std::get<int32_t>(value) != 0 ? 1 : 0};
        case SettingRule::Range:
            return std::clamp(std::get<int32_t>(value), decl.min, decl.max);
        case SettingRule::Choice:
            return ChoiceOr(std::get<int32_t>(value), decl.min, decl.max, decl.fallback);
        case SettingRule::Gain:
            return LimitStoredGain(std::get<double>(value));
        case SettingRule::GainStep: {
            const int32_t v = std::get<int32_t>(value);
            if (v == 0) return v;
            return ChoiceOr(v, NDIAudioMapper::kFirstGainCommand, NDIAudioMapper::kLastGainCommand,
                            decl.fallback);
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
                   std::span<const SettingDecl> settings) {
    for (const SettingDecl& decl : settings) {
        if (decl.storedBy == StoredBy::Capture && decl.live)
            WriteStored(blocks, decl, decl.live(record));
    }
}

void LimitStored(StoredBlocks blocks, std::span<const SettingDecl> settings) {
    const ConstStoredBlocks read{blocks.settings, blocks.meter};
    for (const SettingDecl& decl : settings) {
        if (decl.rule == SettingRule::None || !Address(read, decl)) continue;
        const SettingValue stored = ReadStored(read, decl);
        const SettingValue limited = LimitedValue(decl, stored, read);
        // Only a value that changes is written back: the bytes of a valid text stay as read.
        if (limited != stored) WriteStored(blocks, decl, limited);
    }
}

void ApplyStored(SettingTargets& targets, ApplyPhase phase, std::span<const SettingDecl> settings) {
    RelayRecord& r = targets.record;
    const ConstStoredBlocks blocks{&r.settingsRecord, &r.meterSettings};
    targets.fromFile = true;
    for (const SettingDecl& decl : settings) {
        if (decl.phase == phase && decl.apply) decl.apply(targets, ReadStored(blocks, decl));
    }
    FinishApply(targets);
}

const SettingDecl* FindSetting(std::string_view name, std::span<const SettingDecl> settings) {
    if (name.empty()) return nullptr;
    for (const SettingDecl& decl : settings) {
        if (decl.name == name) return &decl;
    }
    return nullptr;
}

SettingValue CurrentValue(const RelayRecord& record, const SettingDecl& decl) {
    SettingsRecord settings = record.settingsRecord;
    MeterSettings meter = record.meterSettings;
    if (decl.storedBy == StoredBy::Capture && decl.live)
        WriteStored({&settings, &meter}, decl, decl.live(record));
    return ReadStored({&settings, &meter}, decl);
}

std::string SettingText(const SettingDecl& decl, const SettingValue& value) {
    if (decl.rule == SettingRule::GainStep) {
        const std::string menu = NDIAudioMapper::GainMenuText(std::get<int32_t>(value));
        return menu.empty() ? "+0 dB" : menu.substr(1);
    }
    const int32_t* n = std::get_if<int32_t>(&value);
    if (!n) return {};
    const int64_t index = int64_t{*n} - decl.min;
    if (index >= 0 && index < static_cast<int64_t>(decl.texts.size()))
        return decl.texts[static_cast<size_t>(index)];
    if (decl.rule == SettingRule::Flag && (*n == 0 || *n == 1)) return *n ? "On" : "Off";
    return {};
}

std::vector<SettingRefusal> ApplySettingValues(SettingTargets& targets,
                                               std::span<const SettingChange> changes,
                                               std::span<const SettingDecl> settings) {
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
        const SettingDecl* decl = changes[i].decl;
        const auto refuse = [&](const char* why) {
            refusals.push_back({decl ? std::string(decl->name) : std::string(), why});
        };
        if (!decl || !decl->exposed() || !decl->apply) {
            refuse("no such setting");
        } else if (!(wanted[i] = Normalised(*decl, changes[i].value))) {
            refuse("not a value of this setting's kind");
        } else if (decl->changeable && !decl->changeable(r)) {
            refuse("cannot be changed now");
        } else {
            WriteStored(blocks, *decl, *wanted[i]);
        }
    }
    // Every rule is checked against the final values (the map against its new channel count): a
    // value is valid when it is stored as given and the file's limits leave it as it is.
    for (size_t i = 0; i < changes.size() && refusals.empty(); ++i) {
        const SettingDecl& decl = *changes[i].decl;
        const SettingValue stored = ReadStored(read, decl);
        if (stored != *wanted[i] || LimitedValue(decl, stored, read) != stored)
            refusals.push_back({std::string(decl.name), "outside the setting's valid values"});
    }
    if (!refusals.empty()) return refusals;

    targets.fromFile = false;
    for (const SettingDecl& decl : settings) {
        for (size_t i = 0; i < changes.size(); ++i) {
            if (changes[i].decl == &decl) decl.apply(targets, *wanted[i]);
        }
    }
    FinishApply(targets);
    return refusals;
}

}  // namespace velmor
