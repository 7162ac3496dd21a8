// GET and PATCH /api/v1/settings over the settings table (relay/settings_schema.h) and the
// window's own operations: the settings document of remote/settings_document.h read from the
// record, and a change applied whole or not at all, as the windows would make it.
//
// A change follows the windows' rules. The U and V level shifts move together while U/V linking
// is on; the audio map, mono mix and gain step are the Audio Map window's "Use" (entries not named
// keep the map in force) and need audio, matching frame rates and the window closed; the audio
// delay waits while the frame rates differ; the overlay switches on only with a picture or text
// box loaded and not while its window is open; the PPM overlay only with a meter output set up in
// "PPM Config". A value outside a setting's limits answers 400 naming the field; a change the
// relay's state refuses now answers 409. An open proc amp window shows the new values at once.
//
// Window thread only.
#pragma once

#include <nlohmann/json.hpp>

#include "remote/remote_model.h"

namespace velmor {

class MainCommands;
class RelayController;

class SettingsAccess final : public ISettingsAccess {
public:
    SettingsAccess(RelayController& controller, MainCommands& commands)
        : c_(controller), commands_(commands) {}

    // {"values": {name: value}, "texts": {name: text for people}, "limits": {name: limits}}; the
    // audio map's limits are {"channels": the source's channel count (0: no audio yet)}.
    nlohmann::json Get() override;
    SettingsReply Patch(const nlohmann::json& changes) override;

private:
    RelayController& c_;
    MainCommands& commands_;
};

}  // namespace velmor
