// Feeds arbitrary bytes to the settings document's reader as a PATCH /api/v1/settings body could
// hold them (the server has parsed the JSON, at most 64 KiB). Whatever the bytes: a refusal names
// a field of the document (or none, for a document that is not an object); an accepted value is of
// its setting's kind and within its limits, and reads back the same from the value written out.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "remote/settings_document.h"

namespace {

using Json = nlohmann::json;
using velmor::ChannelMapEntries;
using velmor::RequestedSetting;
using velmor::SettingRule;

void Check(const RequestedSetting& r) {
    const velmor::SettingDecl* decl = r.setting->decl;
    if (const int32_t* n = std::get_if<int32_t>(&r.value)) {
        if (!decl || decl->rule == SettingRule::Flag) {
            if (*n != 0 && *n != 1) __builtin_trap();
        } else if (decl->rule == SettingRule::Range || decl->rule == SettingRule::Choice) {
            if (*n < decl->min || *n > decl->max) __builtin_trap();
        }
        return;
    }
    const auto* map = std::get_if<ChannelMapEntries>(&r.value);
    if (!map || r.mapEntries < 1 || r.mapEntries > 32) __builtin_trap();
    for (int i = 0; i < r.mapEntries; ++i) {
        const int entry = (*map)[static_cast<size_t>(i)];
        if (entry < 0 || entry > 32) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Json document = Json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) return 0;
    std::vector<RequestedSetting> read;
    velmor::SettingsDocumentError error;
    if (!velmor::ReadSettingsDocument(document, read, error)) {
        if (document.is_object() ? !document.contains(error.field) : !error.field.empty())
            __builtin_trap();
        return 0;
    }
    if (read.size() != document.size()) __builtin_trap();
    for (const RequestedSetting& r : read) {
        Check(r);
        // What is written out reads back as the same value.
        Json again = Json::object();
        Json value = velmor::SettingValueJson(r.value);
        if (value.is_array()) value.erase(value.begin() + r.mapEntries, value.end());
        again[std::string(r.setting->name)] = value;
        std::vector<RequestedSetting> back;
        if (!velmor::ReadSettingsDocument(again, back, error) || back.size() != 1 ||
            back[0].value != r.value || back[0].mapEntries != r.mapEntries)
            __builtin_trap();
    }
    return 0;
}
