#include "app/settings_access.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "app/main_commands.h"
#include "app/relay_controller.h"
#include "relay/audio_map.h"
#include "remote/settings_document.h"
#include "video/proc_amp.h"

namespace velmor {
namespace {

using Json = nlohmann::json;

// The proc amp's sliders by name, for the texts under them ("+0", "135.2%").
struct SliderName {
    std::string_view name;
    ProcAmpParam param;
};
constexpr SliderName kSliders[] = {
    {"procAmp.blackLevel", ProcAmpParam::kBlackLevel},
    {"procAmp.gain", ProcAmpParam::kGain},
    {"procAmp.contrast", ProcAmpParam::kContrast},
    {"procAmp.gamma", ProcAmpParam::kGamma},
    {"procAmp.colourSat", ProcAmpParam::kColourSat},
    {"procAmp.uLevelShift", ProcAmpParam::kULevel},
    {"procAmp.vLevelShift", ProcAmpParam::kVLevel},
};

constexpr std::string_view kMapName = "audio.channelMap";
constexpr std::string_view kMonoName = "audio.monoMix";
constexpr std::string_view kGainStepName = "audio.gainStep";
constexpr std::string_view kULevelName = "procAmp.uLevelShift";
constexpr std::string_view kVLevelName = "procAmp.vLevelShift";
constexpr std::string_view kLinkingName = "procAmp.uvLinking";

bool IsDelay(std::string_view name) {
    return name == "audio.delayFrames" || name == "audio.delayOn";
}

int32_t SwitchValue(const RelayRecord& r, WindowSwitch s) {
    switch (s) {
        case WindowSwitch::PpmOverlay:
            return r.ppmOverlayOn ? 1 : 0;
        case WindowSwitch::Overlay:
            return r.overlaySetup.overlayOn ? 1 : 0;
        case WindowSwitch::TimecodeBurnIn:
            return r.timecodeBurnIn ? 1 : 0;
        case WindowSwitch::None:
            break;
    }
    return 0;
}

// The value the file would store now. The audio map is the one in force: its stored copy is
// written only when the Audio Map window's "Use" takes a map (all zeros before the first).
SettingValue ValueOf(const RelayRecord& r, const OfferedSetting& s) {
    if (!s.decl) return SwitchValue(r, s.windowSwitch);
    if (s.name == kMapName) {
        ChannelMapEntries map{};
        for (size_t i = 0; i < map.size(); ++i)
            map[i] = r.channelMap[i];
        return map;
    }
    return CurrentValue(r, *s.decl);
}

std::string TextFor(const OfferedSetting& s, const SettingValue& value, const RelayRecord& r) {
    for (const SliderName& slider : kSliders)
        if (s.name == slider.name) return ProcAmpDisplayText(slider.param, r.procAmp.settings);
    if (!s.decl) return std::get<int32_t>(value) ? "On" : "Off";
    return SettingText(*s.decl, value);
}

// The sources' channels the audio map is for: those of the audio seen last, at most 32.
int MapChannels(const RelayRecord& r) {
    return std::clamp<int>(r.audioChannelCount, 0, kMaxAudioChannels);
}

SettingsReply Refused(int status, std::string_view field, std::string message) {
    return {status, std::move(message), std::string(field)};
}

// A PATCH sorted by how each part is applied.
struct Sorted {
    std::vector<SettingChange> table;  // through the settings table, whole or not at all
    const RequestedSetting* map = nullptr;
    const RequestedSetting* mono = nullptr;
    const RequestedSetting* gainStep = nullptr;
    std::vector<const RequestedSetting*> switches;

    bool AudioMap() const { return map || mono || gainStep; }
    SettingChange* Table(std::string_view name) {
        for (SettingChange& c : table)
            if (c.decl->name == name) return &c;
        return nullptr;
    }
};

// While U/V linking is on, the window moves the other level shift with the one moved (Standard:
// the same value; Reversed: 100 minus it), and choosing a linking mode sets V from U at once. A
// change that names both must name a linked pair.
std::optional<SettingsReply> LinkLevelShifts(Sorted& sorted, const ProcAmpSettings& current) {
    const SettingChange* linking = sorted.Table(kLinkingName);
    const int mode = linking ? std::get<int32_t>(linking->value) : current.uvLinking;
    if (mode != 1 && mode != 2) return std::nullopt;
    const auto partner = [mode](int32_t x) { return mode == 1 ? x : 100 - x; };
    SettingChange* u = sorted.Table(kULevelName);
    SettingChange* v = sorted.Table(kVLevelName);
    auto add = [&](std::string_view name, int32_t value) {
        SettingChange& change = sorted.table.emplace_back();
        change.decl = FindSetting(name);
        change.value.emplace<int32_t>(value);
    };
    if (u && v) {
        const int32_t linked = partner(std::get<int32_t>(u->value));
        if (std::get<int32_t>(v->value) != linked)
            return Refused(400, kVLevelName,
                           "is linked to procAmp.uLevelShift (U/V linking " +
                               std::string(mode == 1 ? "Standard" : "Reversed") +
                               "): " + std::to_string(linked) + " goes with it");
    } else if (u) {
        add(kVLevelName, partner(std::get<int32_t>(u->value)));
    } else if (v) {
        add(kULevelName, partner(std::get<int32_t>(v->value)));
    } else if (linking && mode != current.uvLinking) {
        add(kVLevelName, partner(current.uLevelShift));
    }
    return std::nullopt;
}

}  // namespace

Json SettingsAccess::Get() {
    const RelayRecord& r = c_.record();
    Json values = Json::object(), texts = Json::object(), limits = Json::object();
    for (const OfferedSetting& s : OfferedSettings()) {
        const SettingValue value = ValueOf(r, s);
        const std::string key(s.name);
        values[key] = SettingValueJson(value);
        if (std::string text = TextFor(s, value, r); !text.empty()) texts[key] = std::move(text);
        if (Json l = SettingLimitsJson(s); !l.is_null()) limits[key] = std::move(l);
    }
    limits[std::string(kMapName)] = Json{{"channels", MapChannels(r)}};
    return Json{{"values", values}, {"texts", texts}, {"limits", limits}};
}

SettingsReply SettingsAccess::Patch(const Json& changes) {
    std::vector<RequestedSetting> requested;
    SettingsDocumentError error;
    if (!ReadSettingsDocument(changes, requested, error))
        return Refused(400, error.field, error.message);
    RelayRecord& r = c_.record();

    Sorted sorted;
    for (const RequestedSetting& q : requested) {
        const std::string_view name = q.setting->name;
        if (!q.setting->decl) {
            sorted.switches.push_back(&q);
        } else if (name == kMapName) {
            sorted.map = &q;
        } else if (name == kMonoName) {
            sorted.mono = &q;
        } else if (name == kGainStepName) {
            sorted.gainStep = &q;
        } else {
            if (IsDelay(name) && r.frameRateMismatch)
                return Refused(409, name,
                               "the audio delay waits while the source's frame rate differs "
                               "from the output's");
            if (q.setting->decl->changeable && !q.setting->decl->changeable(r))
                return Refused(409, name, "cannot be changed now");
            SettingChange& change = sorted.table.emplace_back();
            change.decl = q.setting->decl;
            change.value = q.value;
        }
    }

    // The audio map: the Audio Map window's rules.
    const int channels = MapChannels(r);
    if (sorted.AudioMap()) {
        const std::string_view field =
            sorted.map ? kMapName : (sorted.mono ? kMonoName : kGainStepName);
        if (r.frameRateMismatch)
            return Refused(409, field,
                           "the audio map waits while the source's frame rate differs from the "
                           "output's");
        if (channels == 0) return Refused(409, field, "the audio map needs a source with audio");
        if (r.mapDialogOpen)
            return Refused(409, field, "the Audio Map window is open on Velmor's screen");
        if (sorted.map) {
            const auto& map = std::get<ChannelMapEntries>(sorted.map->value);
            for (int i = 0; i < std::min(sorted.map->mapEntries, channels); ++i) {
                if (map[static_cast<size_t>(i)] > channels)
                    return Refused(400, kMapName,
                                   "output " + std::to_string(i + 1) + " names input " +
                                       std::to_string(map[static_cast<size_t>(i)] + 1) + " of a " +
                                       std::to_string(channels) + "-channel source (" +
                                       std::to_string(channels) + " is \"Mute\")");
            }
        }
        if (sorted.gainStep && std::get<int32_t>(sorted.gainStep->value) == 0 &&
            r.audioMapper.mapperGainItem != 0)
            return Refused(400, kGainStepName,
                           "once a gain step is chosen, 0 (none) cannot be chosen again; the "
                           "0 dB step is " +
                               std::to_string(NDIAudioMapper::kFirstGainCommand + 9));
    }

    // The window's switches.
    for (const RequestedSetting* q : sorted.switches) {
        const bool on = std::get<int32_t>(q->value) != 0;
        if (q->setting->windowSwitch == WindowSwitch::Overlay) {
            if (r.overlaySetup.dialogOpen && on != (r.overlaySetup.overlayOn != 0))
                return Refused(409, q->setting->name,
                               "the Overlay window is open on Velmor's screen");
            if (on && !r.overlaySetup.imageLoaded)
                return Refused(409, q->setting->name,
                               "no overlay picture or text box is loaded (the Overlay window "
                               "loads one)");
        } else if (q->setting->windowSwitch == WindowSwitch::PpmOverlay) {
            const MeterSettings& ms = r.meterSettings;
            if (on && !ms.meterSeparateOutput && !ms.meterOnMainOutput)
                return Refused(409, q->setting->name,
                               "the PPM overlay needs a meter output (right-click \"PPM overlay\" "
                               "for \"PPM Config\")");
        }
    }

    if (std::optional<SettingsReply> refused = LinkLevelShifts(sorted, r.procAmp.settings))
        return *refused;

    // Everything the state could refuse has been looked at: the table's part goes in whole or
    // not at all, and what follows cannot fail.
    const std::vector<SettingRefusal> refusals = c_.ApplySettingsByName(sorted.table);
    if (!refusals.empty()) return Refused(400, refusals.front().name, refusals.front().reason);

    if (sorted.AudioMap()) {
        // The window's "Use" with the choices named; the others as they are in force.
        NDIAudioMapper& m = r.audioMapper;
        m.mapperChannels = channels;
        m.mapperMonoMix = sorted.mono ? std::get<int32_t>(sorted.mono->value) : r.monoMix.load();
        OpenAudioMapCopy(r, channels);
        for (int i = 0; i < channels; ++i)
            m.mapperMap[static_cast<size_t>(i)] = r.channelMap[static_cast<size_t>(i)].load();
        if (sorted.map) {
            const auto& map = std::get<ChannelMapEntries>(sorted.map->value);
            for (int i = 0; i < sorted.map->mapEntries; ++i)
                m.mapperMap[static_cast<size_t>(i)] = map[static_cast<size_t>(i)];
        }
        if (sorted.gainStep && std::get<int32_t>(sorted.gainStep->value) != 0)
            m.ChooseGain(std::get<int32_t>(sorted.gainStep->value));
        commands_.UseAudioMap(channels);
        c_.bridge().ShowAudioMapActive(r.mapActive != 0);
    }

    for (const RequestedSetting* q : sorted.switches) {
        const bool on = std::get<int32_t>(q->value) != 0;
        if (on == (SwitchValue(r, q->setting->windowSwitch) != 0)) continue;
        switch (q->setting->windowSwitch) {
            case WindowSwitch::PpmOverlay:
                commands_.PpmOverlay();
                break;
            case WindowSwitch::Overlay:
                r.overlaySetup.overlayOn = on ? 1 : 0;
                c_.bridge().ShowOverlayOn(on);
                break;
            case WindowSwitch::TimecodeBurnIn:
                commands_.ToggleTimecodeBurnIn();
                break;
            case WindowSwitch::None:
                break;
        }
    }

    c_.side().ShowChangedSettings();
    return {};
}

}  // namespace velmor
