#include "relay/group_setup.h"

#include <algorithm>

#include "relay/text_fields.h"

namespace velmor {

std::string GroupSetup::LimitEditText(const std::string& text) {
    // Count characters, not bytes: a UTF-8 lead byte starts each one.
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == kEditLimit) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

void GroupSetup::LoadGroupControls() {
    if (!record) return;
    detectPublicCheck = record->detectPublic;
    detectAppsCheck = record->detectAppsGroup;
    outputPublicCheck = record->outputPublic;
    outputAppsCheck = record->outputAppsGroup;
    detectExtraText = LimitEditText(FieldText(record->detectExtraGroups));
    outputExtraText = LimitEditText(FieldText(record->outputExtraGroups));
}

namespace {

// Appends `part` to a bounded text, cutting at a character boundary so the terminator always fits.
void Append(std::string& text, const std::string& part) {
    const size_t room =
        GroupSetup::kGroupTextSize - 1 - std::min(text.size(), GroupSetup::kGroupTextSize - 1);
    text.append(part, 0, Utf8PrefixLength(part, room));
}

}  // namespace

void GroupSetup::BuildReceiveGroups() {
    std::string text;
    int parts = 0;
    if (detectPublicCheck) {
        text = "Public";
        parts = 1;
    }
    if (detectAppsCheck) {
        Append(text, text.empty() ? "Korvo NDI apps" : ",Korvo NDI apps");
        ++parts;
    }
    const std::string extra = LimitEditText(detectExtraText);
    if (!extra.empty()) {
        if (parts > 0) Append(text, ",");
        Append(text, extra);
        if (record) CopyToField(record->detectExtraGroups, extra);
        ++parts;
    } else if (record) {
        CopyToField(record->detectExtraGroups, "");
    }
    if (parts == 0) text.clear();
    CopyToField(receiveGroups, text);
    if (record) {
        record->detectPublic = detectPublicCheck;
        record->detectAppsGroup = detectAppsCheck;
    }
}

void GroupSetup::BuildSendGroups() {
    std::string text = "Korvo Velmor";
    if (outputPublicCheck) Append(text, ",Public");
    if (outputAppsCheck) Append(text, ",Korvo NDI apps");
    const std::string extra = LimitEditText(outputExtraText);
    if (!extra.empty()) {
        Append(text, ",");
        Append(text, extra);
        if (record) CopyToField(record->outputExtraGroups, extra);
    } else if (record) {
        CopyToField(record->outputExtraGroups, "");
    }
    CopyToField(sendGroups, text);
    if (record) {
        record->outputPublic = outputPublicCheck;
        record->outputAppsGroup = outputAppsCheck;
    }
}

}  // namespace velmor
