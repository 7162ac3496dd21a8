// NDI group choices: which groups the finder looks in and which groups the outputs announce in.
// The choices are kept in the stored group record; the two texts are built from them.
#pragma once

#include <cstdint>
#include <string>

#include "relay/settings_record.h"

namespace velmor {

class GroupSetup {
public:
    static constexpr size_t kEditLimit = 64;       // characters per "additional Groups" box
    static constexpr size_t kGroupTextSize = 248;  // bytes of each built text, terminator included

    // The stored record that the choices are written back to (inside the settings record).
    GroupSettings* record = nullptr;

    int32_t detectPublicCheck = 0;
    int32_t detectAppsCheck = 0;
    int32_t outputPublicCheck = 0;
    int32_t outputAppsCheck = 0;
    std::string detectExtraText;  // UTF-8, at most kEditLimit characters
    std::string outputExtraText;

    char receiveGroups[kGroupTextSize] = {};
    char sendGroups[kGroupTextSize] = {};

    // Fills the four flags and the two edit texts from the stored record.
    void LoadGroupControls();
    // Build the detection and output texts and write the choices back into the stored record.
    void BuildReceiveGroups();
    void BuildSendGroups();

    // What an edit box accepts: the first kEditLimit characters of `text`.
    static std::string LimitEditText(const std::string& text);
};

}  // namespace velmor
