// The configuration load that follows the instance decision at start-up: the file read, then put
// into effect in the application's order, with the finder restarted and the stored source sought.
#pragma once

#include <string>

#include "relay/notifier.h"
#include "relay/relay_record.h"
#include "relay/settings_view.h"

namespace velmor {

// Loads record.configFileName and puts what it holds into effect: the group texts, the finder
// restart, and — when "Load settings on startup" was saved — the proc amp, grab settings,
// ApplySettings, the meter settings and the seek of the stored source. `path` names the file;
// when empty, configFileName in the current folder. `applyAnyway` applies the settings record
// whatever the file says about "Load settings on startup" (the --load-on-startup option).
// Returns configSectionsRead.
int RunStartupConfigLoad(RelayRecord& record, INotifier& notifier, ISettingsView& view,
                         IFinderControl& finder, const std::string& path = "",
                         bool applyAnyway = false);

// Everything after the file was read (configSectionsRead tells how much): the steps above from
// the partial-data message on. Returns configSectionsRead.
int ApplyLoadedConfig(RelayRecord& record, INotifier& notifier, ISettingsView& view,
                      IFinderControl& finder);

}  // namespace velmor
