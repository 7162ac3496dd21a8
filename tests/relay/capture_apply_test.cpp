#include "relay/capture_apply.h"

#include <gtest/gtest.h>

#include <cstring>

#include "relay/text_fields.h"
#include "support/recording_fakes.h"

namespace velmor {
namespace {

using testing::RecordingView;

// A record whose live settings all differ from the defaults.
void SetNonDefaults(RelayRecord& r) {
    r.procAmp.settings = {50, 10, -20, 200, 30, 70, 40, 60, 1, 2, 0, 0};
    r.procAmp.monitorOn = 1;
    r.procAmp.wfmOn = 1;
    r.procAmp.presetName = "Night \xC3\xA9xterior";
    r.procAmp.currentPreset = 4;
    r.procAmp.applyToOutput = 1;
    CopyToField(r.extraIpText, "192.0.2.7");
    r.grabSetup = {{0, 1, 0, 2, "Studio", "/srv/grabs"}, 1};
    r.rotationMode = 3;
    r.audioMapper.mapperGainItem = 32782;
    r.audioGain = 0.5011872336272722;
    r.lastRate = 29.97f;
    r.deinterlaceMode = 2;
    r.ebuMode = 0;
    r.previewOn = 0;
    r.excludeLocal = 0;
    r.airSendOutput = 1;
    r.keyFillSplit = 1;
    r.audioDelayOn = 1;
}

TEST(CaptureSettings, WritesEveryCopyAtItsWidth) {
    RelayRecord r;
    r.ApplyStartupDefaults();
    SetNonDefaults(r);
    r.settingsRecord.reserved1721[0] = 0x5A;  // reserved bytes are kept as they were
    CaptureSettings(r);
    const SettingsRecord& s = r.settingsRecord;
    const int16_t values[8] = {50, 10, -20, 200, 30, 70, 40, 60};
    EXPECT_EQ(0, std::memcmp(s.procAmpValuesSetting, values, sizeof values));
    EXPECT_EQ(s.procAmpModeSetting[0], 1);
    EXPECT_EQ(s.procAmpModeSetting[1], 2);
    EXPECT_EQ(s.procAmpMonitorSetting, 1);
    EXPECT_EQ(s.procAmpWfmSetting, 1);
    EXPECT_EQ(FieldText(s.procAmpPresetNameSetting), u"Night \u00e9xterior");
    EXPECT_EQ(s.procAmpPresetSetting, 4);
    EXPECT_EQ(s.procAmpApplySetting, 1);
    EXPECT_EQ(FieldText(s.extraIpSetting), "192.0.2.7");
    EXPECT_EQ(s.grabFlagsSetting[0], 0);
    EXPECT_EQ(s.grabFlagsSetting[3], 1);
    EXPECT_EQ(s.grabFormatSetting, 2);
    EXPECT_EQ(FieldText(s.grabNameSetting), u"Studio");
    EXPECT_EQ(FieldText(s.grabFolderSetting), u"/srv/grabs");
    EXPECT_EQ(s.rotationSetting, 3);
    EXPECT_EQ(s.gainItemSetting, 32782);
    EXPECT_DOUBLE_EQ(s.gainSetting, 0.5011872336272722);
    EXPECT_FLOAT_EQ(s.lastRateSetting, 29.97f);
    EXPECT_EQ(s.deinterlaceSetting, 2);
    EXPECT_EQ(s.ebuSetting, 0);
    EXPECT_EQ(s.previewSetting, 0);
    EXPECT_EQ(s.excludeLocalSetting, 0);
    EXPECT_EQ(s.airSendSetting, 1);
    EXPECT_EQ(s.keyFillSetting, 1);
    EXPECT_EQ(s.delayOnSetting, 1);
    EXPECT_EQ(s.reserved1721[0], 0x5A);
}

TEST(CaptureSettings, LongTextsAreCutToTheirLimits) {
    RelayRecord r;
    r.procAmp.presetName = std::string(200, 'p');
    r.grabSetup.baseName = std::string(200, 'b');
    r.grabSetup.grabFolder = std::string(300, 'f');
    CaptureSettings(r);
    EXPECT_EQ(FieldText(r.settingsRecord.procAmpPresetNameSetting).size(), 123u);
    EXPECT_EQ(FieldText(r.settingsRecord.grabNameSetting).size(), 123u);
    EXPECT_EQ(FieldText(r.settingsRecord.grabFolderSetting).size(), 261u);
}

TEST(ApplySettings, RestoresLiveMembersInOrder) {
    RelayRecord saved;
    saved.ApplyStartupDefaults();
    SetNonDefaults(saved);
    saved.settingsRecord.delayFramesSetting = 3;
    saved.settingsRecord.mapChannelsSetting = 4;
    saved.settingsRecord.monoMixSetting = 1;
    saved.settingsRecord.monitorLevelSetting = 1;
    // A map for 4 channels: outputs take inputs 3, 2, 1 and Mute (4); rows from 4 on name columns
    // of their own.
    for (int j = 0; j < 32; ++j)
        saved.settingsRecord.channelMapSetting[j] = static_cast<int8_t>(j < 4 ? 3 - j : 31 - j);
    saved.settingsRecord.channelMapSetting[3] = 4;
    CaptureSettings(saved);

    RelayRecord r;
    r.ApplyStartupDefaults();
    CopyToField(r.groupSetup.receiveGroups, "Public,Studio A");
    r.settingsRecord = saved.settingsRecord;
    RecordingView view;
    ApplySettings(r, view, view);

    EXPECT_EQ(r.previewOn, 0);
    EXPECT_EQ(r.rotationMode, 3);
    EXPECT_EQ(r.keyFillSplit, 1);
    EXPECT_EQ(r.procAmp.applyToOutput, 1);
    EXPECT_EQ(r.deinterlaceMode, 2);
    EXPECT_EQ(r.airSendOutput, 1);
    EXPECT_FLOAT_EQ(r.monitorLevel, 0.25f);
    EXPECT_EQ(r.ebuMode, 0);
    EXPECT_EQ(r.audioMapper.mapperGainItem, 32782);
    EXPECT_DOUBLE_EQ(r.audioGain, 0.5011872336272722);
    EXPECT_DOUBLE_EQ(r.audioMapper.mapperGain, 0.5011872336272722);
    EXPECT_EQ(r.audioDelayFrames, 3);
    EXPECT_EQ(r.audioDelayOn, 1);
    EXPECT_EQ(r.mapActive, 4);
    EXPECT_EQ(r.audioChannelCount, 4);
    EXPECT_EQ(r.monoMix, 1);
    EXPECT_EQ(r.audioMapper.mapperMonoMix, 1);
    EXPECT_EQ(r.channelMap[0], 3);
    EXPECT_EQ(r.audioMapper.mapperMap[0], 3);
    EXPECT_EQ(r.channelMap[3], 4);
    EXPECT_EQ(r.channelMap[5], 26);
    EXPECT_STREQ(r.extraIpText, "192.0.2.7");
    EXPECT_EQ(r.excludeLocal, 0);

    // Every control that shows a loaded value shows it, not the state before the load.
    const std::vector<std::string> expected = {
        "rotation 3",
        "keyfill on",
        "procamp button applied",
        "deinterlace 2",
        "output AirSend",
        "monitor 1",
        "SMPTE o/p",
        "delay 3",
        "audio delay on",
        "extra ip 192.0.2.7",
        "exclude off",
        "finder local=1 ips=192.0.2.7 groups=Public,Studio A",
    };
    EXPECT_EQ(view.calls, expected);
}

TEST(ApplySettings, UnchangedExcludeLocalLeavesTheFinderAlone) {
    RelayRecord r;
    r.ApplyStartupDefaults();
    r.settingsRecord.excludeLocalSetting = 1;
    r.settingsRecord.monitorLevelSetting = 9;  // not a level: Full, as at start-up
    r.settingsRecord.rotationSetting = 77;     // not a mode: "Rotate 0", as at start-up
    RecordingView view;
    ApplySettings(r, view, view);
    const std::vector<std::string> expected = {"rotation 0",    "keyfill off", "procamp button off",
                                               "deinterlace 0", "output NDI",  "monitor 2",
                                               "SMPTE o/p",     "delay 0",     "audio delay off",
                                               "extra ip "};
    EXPECT_EQ(view.calls, expected);
    EXPECT_FLOAT_EQ(r.monitorLevel, 1.0f);
    EXPECT_EQ(r.settingsRecord.monitorLevelSetting, 2);
    EXPECT_EQ(r.rotationMode, 0);
}

}  // namespace
}  // namespace velmor
