#include "remote/settings_document.h"

#include <limits>

#include "relay/audio_mapper.h"

namespace velmor {
namespace {

using Json = nlohmann::json;

struct Offer {
    std::string_view name;
    WindowSwitch windowSwitch = WindowSwitch::None;
};

// The table's names, and the window's switches after them.
constexpr Offer kOffers[] = {
    {"rotation"},
    {"deinterlace"},
    {"preview"},
    {"procAmp.blackLevel"},
    {"procAmp.gain"},
    {"procAmp.contrast"},
    {"procAmp.gamma"},
    {"procAmp.colourSat"},
    {"procAmp.uLevelShift"},
    {"procAmp.vLevelShift"},
    {"procAmp.fxOrder"},
    {"procAmp.uvLinking"},
    {"procAmp.applyToOutput"},
    {"audio.channelMap"},
    {"audio.monoMix"},
    {"audio.gainStep"},
    {"audio.delayFrames"},
    {"audio.delayOn"},
    {"monitorLevel"},
    {"ebu"},
    {"ppmOverlay", WindowSwitch::PpmOverlay},
    {"overlay", WindowSwitch::Overlay},
    {"timecodeBurnIn", WindowSwitch::TimecodeBurnIn},
};

bool IsWholeNumberType(StoredType t) {
    return t == StoredType::I8 || t == StoredType::U8 || t == StoredType::I16 ||
           t == StoredType::I32;
}

bool IsFlag(const OfferedSetting& s) {
    return !s.decl || s.decl->rule == SettingRule::Flag;
}

bool Int32Of(const Json& v, int32_t& out) {
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
        out = static_cast<int32_t>(u);
        return true;
    }
    if (!v.is_number_integer()) return false;
    const int64_t i = v.get<int64_t>();
    if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(i);
    return true;
}

std::string Between(int32_t min, int32_t max) {
    return "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max);
}

bool ReadFlag(const Json& v, int32_t& out, std::string& why) {
    if (v.is_boolean()) {
        out = v.get<bool>() ? 1 : 0;
        return true;
    }
    if (Int32Of(v, out) && (out == 0 || out == 1)) return true;
    why = "must be 0 or 1 (or false or true)";
    return false;
}

bool ReadWholeNumber(const SettingDecl& decl, const Json& v, int32_t& out, std::string& why) {
    if (!Int32Of(v, out)) {
        why = "must be a whole number";
        return false;
    }
    switch (decl.rule) {
        case SettingRule::Range:
        case SettingRule::Choice:
            if (out < decl.min || out > decl.max) {
                why = Between(decl.min, decl.max);
                return false;
            }
            return true;
        case SettingRule::GainStep:
            if (out != 0 && (out < NDIAudioMapper::kFirstGainCommand ||
                             out > NDIAudioMapper::kLastGainCommand)) {
                why = "must be a gain step, " + std::to_string(NDIAudioMapper::kFirstGainCommand) +
                      " (+20 dB) to " + std::to_string(NDIAudioMapper::kLastGainCommand) +
                      " (-20 dB)";
                return false;
            }
            return true;
        default:
            return true;
    }
}

bool ReadMap(const Json& v, ChannelMapEntries& map, int& entries, std::string& why) {
    constexpr int kMax = NDIAudioMapper::kMaxChannels;
    why = "must be an array of 1 to " + std::to_string(kMax) +
          " input channels, one for each output from output 1 on (0 is input 1; the source's "
          "channel count is \"Mute\")";
    if (!v.is_array() || v.empty() || v.size() > static_cast<size_t>(kMax)) return false;
    map.fill(0);
    for (size_t i = 0; i < v.size(); ++i) {
        int32_t column = 0;
        if (!Int32Of(v[i], column) || column < 0 || column > kMax) return false;
        map[i] = static_cast<int8_t>(column);
    }
    entries = static_cast<int>(v.size());
    return true;
}

bool ReadValue(const OfferedSetting& s, const Json& v, RequestedSetting& out, std::string& why) {
    out.setting = &s;
    int32_t n = 0;
    if (IsFlag(s)) {
        if (!ReadFlag(v, n, why)) return false;
        out.value = n;
        return true;
    }
    if (s.decl->type == StoredType::Map32) {
        ChannelMapEntries map{};
        if (!ReadMap(v, map, out.mapEntries, why)) return false;
        out.value = map;
        return true;
    }
    if (IsWholeNumberType(s.decl->type)) {
        if (!ReadWholeNumber(*s.decl, v, n, why)) return false;
        out.value = n;
        return true;
    }
    why = "cannot be changed over HTTP";
    return false;
}

}  // namespace

std::span<const OfferedSetting> OfferedSettings() {
    // Resolved against the table once; a name the table does not know is left out.
    static const std::vector<OfferedSetting> offered = [] {
        std::vector<OfferedSetting> list;
        for (const Offer& o : kOffers) {
            if (o.windowSwitch != WindowSwitch::None) {
                list.push_back({o.name, nullptr, o.windowSwitch});
            } else if (const SettingDecl* decl = FindSetting(o.name)) {
                list.push_back({o.name, decl, WindowSwitch::None});
            }
        }
        return list;
    }();
    return offered;
}

const OfferedSetting* FindOfferedSetting(std::string_view name) {
    for (const OfferedSetting& s : OfferedSettings())
        if (s.name == name) return &s;
    return nullptr;
}

bool ReadSettingsDocument(const Json& document, std::vector<RequestedSetting>& out,
                          SettingsDocumentError& error) {
    out.clear();
    if (!document.is_object()) {
        error = {"", "the settings must be a JSON object of names and values"};
        return false;
    }
    for (const auto& [name, value] : document.items()) {
        const OfferedSetting* setting = FindOfferedSetting(name);
        if (!setting) {
            error = {name, "no such setting (GET /api/v1/settings lists them)"};
            return false;
        }
        RequestedSetting requested;
        std::string why;
        if (!ReadValue(*setting, value, requested, why)) {
            error = {name, why};
            return false;
        }
        out.push_back(std::move(requested));
    }
    return true;
}

Json SettingValueJson(const SettingValue& value) {
    if (const int32_t* n = std::get_if<int32_t>(&value)) return *n;
    if (const double* d = std::get_if<double>(&value)) return *d;
    if (const std::string* s = std::get_if<std::string>(&value)) return *s;
    Json map = Json::array();
    for (const int8_t entry : std::get<ChannelMapEntries>(value))
        map.push_back(entry);
    return map;
}

Json SettingLimitsJson(const OfferedSetting& s) {
    auto choice = [](int32_t value, std::string text) {
        return Json{{"value", value}, {"text", std::move(text)}};
    };
    if (IsFlag(s)) {
        Json choices = Json::array();
        for (int32_t v = 0; v <= 1; ++v) {
            const std::string text = s.decl ? SettingText(*s.decl, v) : std::string();
            choices.push_back(choice(v, text.empty() ? (v ? "On" : "Off") : text));
        }
        return Json{{"choices", choices}};
    }
    const SettingDecl& decl = *s.decl;
    switch (decl.rule) {
        case SettingRule::Range:
            return Json{{"min", decl.min}, {"max", decl.max}};
        case SettingRule::Choice: {
            Json choices = Json::array();
            for (int32_t v = decl.min; v <= decl.max; ++v)
                choices.push_back(choice(v, SettingText(decl, v)));
            return Json{{"choices", choices}};
        }
        case SettingRule::GainStep: {
            Json choices = Json::array();
            for (int32_t v = NDIAudioMapper::kFirstGainCommand;
                 v <= NDIAudioMapper::kLastGainCommand; ++v)
                choices.push_back(choice(v, SettingText(decl, v)));
            return Json{{"choices", choices}};
        }
        default:
            return nullptr;
    }
}

}  // namespace velmor
