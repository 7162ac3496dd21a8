#include "relay/relay_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace velmor {
namespace {

TEST(RelayRecord, StartupDefaults) {
    RelayRecord r;
    r.ApplyStartupDefaults();
    EXPECT_EQ(r.previewOn, 1);
    EXPECT_EQ(r.excludeLocal, 1);
    EXPECT_EQ(r.ebuMode, 1);
    EXPECT_EQ(r.rotationMode, 0);
    EXPECT_EQ(r.deinterlaceMode, 0);
    EXPECT_EQ(r.instanceProbe, 1);
    EXPECT_STREQ(r.configFileName, "last.vlm");
    EXPECT_EQ(r.meterSettings.meterPosV, 90);
    EXPECT_EQ(r.meterSettings.meterPosH, 10);
    EXPECT_FLOAT_EQ(r.monitorLevel, 1.0f);
    EXPECT_FLOAT_EQ(r.meterLink.meterScale, 0.1f);
    EXPECT_EQ(r.settingsRecord.monitorLevelSetting, 2);
    EXPECT_EQ(r.grabSetup.formatIndex, 3);
    EXPECT_EQ(r.grabSetup.baseName, "VelmorGrab");
    EXPECT_EQ(r.procAmp.settings, ProcAmpSettings{});
    EXPECT_EQ(r.procAmp.active, 0);
    for (int i = 0; i < kMaxAudioChannels; ++i)
        EXPECT_EQ(r.channelMap[i], i);
    EXPECT_EQ(r.recvCreate.color_format, NDIlib_recv_color_format_UYVY_BGRA);
    EXPECT_EQ(r.recvCreate.bandwidth, NDIlib_recv_bandwidth_highest);
    EXPECT_TRUE(r.recvCreate.allow_video_fields);
    EXPECT_EQ(r.recvCreate.p_ndi_recv_name, nullptr);
    EXPECT_EQ(r.outputFormat.Load(), OutputFormat{}) << "no output set up";
}

TEST(RelayRecord, MonitorLevelControl) {
    RelayRecord r;
    struct Case {
        int level;
        bool accepted;
        float monitor;
    };
    const Case cases[] = {
        {0, true, 0.0f}, {1, true, 0.25f}, {2, true, 1.0f}, {3, false, 1.0f}, {-1, false, 1.0f}};
    for (const Case& c : cases) {
        r.monitorLevel = 1.0f;
        r.settingsRecord.monitorLevelSetting = 2;
        EXPECT_EQ(SetMonitorLevel(r, c.level), c.accepted) << c.level;
        EXPECT_FLOAT_EQ(r.monitorLevel, c.monitor) << c.level;
        EXPECT_EQ(r.settingsRecord.monitorLevelSetting, c.accepted ? c.level : 2);
    }
}

TEST(ProcAmpSlots, StoreAndRecall) {
    ProcAmpState pa;
    pa.settings.gain = -20;
    pa.settings.contrast = 200;
    pa.settings.fxOrder = 1;
    pa.monitorOn = 1;
    pa.presetName = std::string(130, 'n');
    pa.StoreIntoSlot(2);
    const ProcAmpPreset& slot = pa.presets[2];
    EXPECT_EQ(slot.gain, -20);
    EXPECT_EQ(slot.storedFlag, 1);
    EXPECT_EQ(slot.name[122], u'n');
    EXPECT_EQ(slot.name[123], u'\0');  // at most 123 characters

    ProcAmpState other;
    other.presets = pa.presets;
    other.RecallSlot(2);
    EXPECT_EQ(other.settings.gain, -20);
    EXPECT_EQ(other.settings.contrast, 200);
    EXPECT_EQ(other.settings.fxOrder, 1);
    EXPECT_EQ(other.monitorOn, 1);
    EXPECT_EQ(other.presetName, std::string(123, 'n'));
    EXPECT_EQ(other.active, 1) << "a recall puts the slot into effect";

    // Neutral settings clear the stored flag.
    pa.settings = ProcAmpSettings{};
    pa.StoreIntoSlot(2);
    EXPECT_EQ(pa.presets[2].storedFlag, 0);
}

}  // namespace
}  // namespace velmor
