#include "app/startup_config.h"

#include <cstdio>

#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "relay/text_fields.h"

namespace velmor {

int RunStartupConfigLoad(RelayRecord& r, INotifier& notifier, ISettingsView& view,
                         IFinderControl& finder, const std::string& path, bool applyAnyway) {
    // 1. Load; nothing more when nothing was read.
    LoadConfig(r, path.empty() ? FieldText(r.configFileName) : path, notifier);
    if (applyAnyway && r.configSectionsRead > 0) r.settingsRecord.loadOnStartupSetting = 1;
    return ApplyLoadedConfig(r, notifier, view, finder);
}

int ApplyLoadedConfig(RelayRecord& r, INotifier& notifier, ISettingsView& view,
                      IFinderControl& finder) {
    const int sections = r.configSectionsRead;
    if (sections == 0) return 0;

    // 2. A partial file is reported with its count.
    if (sections < 5) {
        char text[128];
        std::snprintf(
            text, sizeof text,
            "Partial data loaded\n\n(e.g. saved from an earlier version)\n\n%d/5 sections "
            "complete",
            sections);
        notifier.Show(text, "Load Config File", MessageButtons::Ok);
    }

    // 3. Group texts from the loaded group record.
    r.groupSetup.LoadGroupControls();
    r.groupSetup.BuildReceiveGroups();
    r.groupSetup.BuildSendGroups();

    const SettingsRecord& s = r.settingsRecord;
    const std::string extraIps = FieldText(r.extraIpText);

    // 4. Without "Load settings on startup" only the finder restarts, and the file is kept as it
    // is at exit.
    if (!s.loadOnStartupSetting) {
        finder.RestartFinder(r.excludeLocal == 0, extraIps, nullptr);
        r.settingsRecord.saveOnExitSetting = 0;
        return sections;
    }

    // 5. Finder with the detection groups.
    finder.RestartFinder(r.excludeLocal == 0, extraIps, r.groupSetup.receiveGroups);

    // 6-7. Proc amp and frame grab settings.
    TakeStoredProcAmpAndGrab(r, view, finder);

    // 8. The rest of the settings record (the Proc Amp button with it).
    ApplySettings(r, view, finder);

    // 9. Meter settings, when their block was read.
    if (sections >= 3) TakeUpMeterChoices(r);

    // 10. Menu check marks.
    view.ShowLoadOnStartup(true);
    view.ShowSaveOnExit(s.saveOnExitSetting != 0);

    // 11. Seek the stored source.
    const std::string source = FieldText(r.sourceName);
    if (sections == 5 && !source.empty()) {
        r.seekingText = "Seeking: " + source;
        view.ShowSourceCaption(r.seekingText);
        r.picker.seekName = source;
        r.picker.seekArmed = 1;
        r.picker.seekReported = 0;
        r.seekPending = 1;
    }
    return sections;
}

}  // namespace velmor
