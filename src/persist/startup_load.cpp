#include "persist/startup_load.h"

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

    // 6. Proc amp (the first stored value is never read back).
    ProcAmpState& pa = r.procAmp;
    ProcAmpSettings& p = pa.settings;
    p.blackLevel = s.procAmpValuesSetting[1];
    p.gain = s.procAmpValuesSetting[2];
    p.contrast = s.procAmpValuesSetting[3];
    p.gamma = s.procAmpValuesSetting[4];
    p.colourSat = s.procAmpValuesSetting[5];
    p.uLevelShift = s.procAmpValuesSetting[6];
    p.vLevelShift = s.procAmpValuesSetting[7];
    p.fxOrder = s.procAmpModeSetting[0];
    p.uvLinking = s.procAmpModeSetting[1];
    p.reserved34 = s.procAmpModeSetting[2];
    p.reserved35 = s.procAmpModeSetting[3];
    pa.monitorOn = s.procAmpMonitorSetting;
    pa.wfmOn = s.procAmpWfmSetting;
    pa.presetName = Utf16ToUtf8(FieldText(s.procAmpPresetNameSetting));
    pa.currentPreset = s.procAmpPresetSetting;
    pa.Refresh();  // recomputes `active` and rebuilds the tables

    // 7. Frame grab settings.
    GrabSetup& g = r.grabSetup;
    g.useBaseName = s.grabFlagsSetting[0];
    g.addDate = s.grabFlagsSetting[1];
    g.addTime = s.grabFlagsSetting[2];
    g.grabOnFreeze = s.grabFlagsSetting[3];
    g.formatIndex = s.grabFormatSetting;
    g.baseName = Utf16ToUtf8(FieldText(s.grabNameSetting));
    g.grabFolder = Utf16ToUtf8(FieldText(s.grabFolderSetting));

    // 8. The rest of the settings record, then the Proc Amp button.
    ApplySettings(r, view, finder);
    view.ShowProcAmpButton(pa.applyToOutput ? 1 : 3);

    // 9. Meter settings, when their block was read.
    if (sections >= 3) {
        const int separate = r.meterSettings.meterSeparateOutput;
        if (PpmMeter* meter = r.ppmMeter.get()) {
            meter->SetOverlayEnabled(separate != 0);
            meter->vmixMode = r.meterSettings.meterMode;
            meter->SetLayout(r.meterSettings.meterLayout);
        }
    }

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
