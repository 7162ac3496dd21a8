#include "app/startup_config.h"

#include <gtest/gtest.h>

#include <cstring>

#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "relay/text_fields.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::RecordingView;
using testing::ShownMessage;
using testing::TempDir;
using testing::WriteBytes;

class StartupLoad : public ::testing::Test {
protected:
    // Saves a configuration from a record prepared by `prepare` and returns its path.
    template <typename Prepare>
    std::string Save(Prepare prepare) {
        RelayRecord r;
        r.ApplyStartupDefaults();
        prepare(r);
        CaptureSettings(r);
        RecordingNotifier n;
        EXPECT_EQ(SaveConfig(r, dir.File("last.vlm"), n), 1);
        return dir.File("last.vlm");
    }
    // Runs the start-up load of "last.vlm" in the test's folder.
    void Load(const std::string& /*path of last.vlm*/) {
        record.ApplyStartupDefaults();
        record.ppmMeter = std::make_unique<PpmMeter>();
        RunStartupConfigLoad(record, notifier, view, view, dir.File("last.vlm"));
    }
    TempDir dir;
    RelayRecord record;
    RecordingNotifier notifier;
    RecordingView view;
};

TEST_F(StartupLoad, FullLoadAppliesEverythingAndArmsTheSeek) {
    Load(Save([](RelayRecord& r) {
        r.settingsRecord.loadOnStartupSetting = 1;
        r.settingsRecord.saveOnExitSetting = 1;
        r.procAmp.settings.gain = -20;
        r.procAmp.applyToOutput = 1;
        r.procAmp.presetName = "Warm";
        r.grabSetup.baseName = "Studio";
        r.grabSetup.addTime = 0;
        r.rotationMode = 1;
        r.excludeLocal = 0;
        r.groupSetup.detectPublicCheck = 1;
        r.groupSetup.detectExtraText = "Studio A";
        r.groupSetup.BuildReceiveGroups();
        r.meterSettings.meterSeparateOutput = 1;
        r.meterSettings.meterLayout = 2;
        CopyToField(r.extraIpText, "192.0.2.9");
        CopyToField(r.sourceName, "HOST (Cam 1)");
    }));
    EXPECT_TRUE(notifier.shown.empty());
    EXPECT_EQ(record.configSectionsRead, 5);
    EXPECT_EQ(record.procAmp.settings.gain, -20);
    EXPECT_EQ(record.procAmp.active, 1);
    EXPECT_EQ(record.procAmp.presetName, "Warm");
    EXPECT_EQ(record.grabSetup.baseName, "Studio");
    EXPECT_EQ(record.grabSetup.addTime, 0);
    EXPECT_EQ(record.rotationMode, 1);
    EXPECT_TRUE(record.ppmMeter->overlayEnabled());
    EXPECT_EQ(record.meterSettings.meterLayout, 2) << "the meter draws the stored layout";
    EXPECT_STREQ(record.groupSetup.receiveGroups, "Public,Studio A");
    EXPECT_STREQ(record.groupSetup.sendGroups, "Korvo Velmor");
    EXPECT_EQ(record.seekPending, 1);
    EXPECT_EQ(record.picker.seekArmed, 1);
    EXPECT_EQ(record.picker.seekReported, 0);
    EXPECT_EQ(record.picker.seekName, "HOST (Cam 1)");
    const std::vector<std::string> expected = {
        // The Extra IP of the file is applied later, by ApplySettings.
        "finder local=0 ips= groups=Public,Studio A",
        "rotation 1",
        "keyfill off",
        "procamp button applied",
        "deinterlace 0",
        "output NDI",
        "monitor 2",
        "EBU o/p",
        "delay 0",
        "audio delay off",
        "extra ip 192.0.2.9",
        "exclude off",
        "finder local=1 ips=192.0.2.9 groups=Public,Studio A",
        "load-on-startup on",
        "save-on-exit on",
        "caption Seeking: HOST (Cam 1)",
    };
    EXPECT_EQ(view.calls, expected);
}

TEST_F(StartupLoad, WithoutLoadOnStartupOnlyDirectBlocksTakeEffect) {
    Load(Save([](RelayRecord& r) {
        r.settingsRecord.loadOnStartupSetting = 0;
        r.settingsRecord.saveOnExitSetting = 1;
        r.rotationMode = 2;
        r.meterSettings.meterPosV = 40;
        r.procAmp.presets[0].gain = 12;
        CopyToField(r.sourceName, "HOST (Cam 2)");
    }));
    EXPECT_EQ(record.rotationMode, 0) << "the settings record is not applied";
    EXPECT_EQ(record.meterSettings.meterPosV, 40);
    EXPECT_EQ(record.procAmp.presets[0].gain, 12);
    EXPECT_STREQ(record.sourceName, "HOST (Cam 2)");
    EXPECT_EQ(record.settingsRecord.saveOnExitSetting, 0);
    EXPECT_EQ(record.seekPending, 0);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"finder local=0 ips= groups=(none)"}));
}

TEST_F(StartupLoad, PartialFileReportsBothMessagesWithTheCount) {
    auto bytes = ReadBytes(Save([](RelayRecord& r) {
        r.settingsRecord.loadOnStartupSetting = 1;
        r.rotationMode = 5;
    }));
    bytes.resize(1736);
    WriteBytes(dir.File("last.vlm"), bytes);
    Load(dir.File("last.vlm"));
    const std::vector<ShownMessage> expected = {
        {"Version transition occurred - \nconfig file not fully read", "Load File",
         MessageButtons::Ok},
        {"Partial data loaded\n\n(e.g. saved from an earlier version)\n\n1/5 sections complete",
         "Load Config File", MessageButtons::Ok},
    };
    EXPECT_EQ(notifier.shown, expected);
    EXPECT_EQ(record.rotationMode, 5);
    EXPECT_FALSE(record.ppmMeter->overlayEnabled());  // the meter block was not read
    EXPECT_EQ(record.seekPending, 0);
}

TEST_F(StartupLoad, NoFileLeavesDefaults) {
    Load(dir.File("last.vlm"));
    EXPECT_TRUE(notifier.shown.empty());
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(record.previewOn, 1);
    EXPECT_EQ(record.excludeLocal, 1);
}

}  // namespace
}  // namespace velmor
