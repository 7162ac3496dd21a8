// The persisted copies of the settings: the 1728-byte settings record and the 528-byte group
// record inside it, byte for byte as the configuration file stores them (little-endian, every
// field at its natural alignment, so the layout has no padding; the asserts below pin it).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmor {

struct GroupSettings {
    int32_t detectPublic;
    int32_t detectAppsGroup;
    int32_t outputPublic;
    int32_t outputAppsGroup;
    char detectExtraGroups[256];  // 8-bit text, NUL-terminated
    char outputExtraGroups[256];
};

struct SettingsRecord {
    int16_t procAmpValuesSetting[8];  // reserved0, blackLevel .. vLevelShift
    uint8_t reserved16[12];
    uint8_t reserved28;  // the preset layout's stored flag; capture leaves it alone
    int8_t procAmpMonitorSetting;
    int8_t procAmpWfmSetting;
    uint8_t reserved31;
    int8_t procAmpModeSetting[4];  // fxOrder, uvLinking, reserved34, reserved35
    uint8_t reserved36[4];
    char16_t procAmpPresetNameSetting[128];
    int8_t procAmpPresetSetting;
    int8_t procAmpApplySetting;
    char extraIpSetting[32];
    int8_t grabFlagsSetting[4];  // useBaseName, addDate, addTime, grabOnFreeze
    int16_t grabFormatSetting;
    char16_t grabNameSetting[124];
    uint8_t reserved584[8];
    char16_t grabFolderSetting[262];
    uint8_t reserved1116[4];
    GroupSettings groupSettings;
    int16_t rotationSetting;
    uint8_t reserved1650[6];
    int32_t gainItemSetting;
    uint8_t reserved1660[4];
    double gainSetting;
    float lastRateSetting;
    int8_t deinterlaceSetting;
    int8_t ebuSetting;
    int8_t previewSetting;
    int8_t excludeLocalSetting;
    int8_t airSendSetting;
    int8_t keyFillSetting;
    int8_t monoMixSetting;
    int8_t delayOnSetting;
    int8_t loadOnStartupSetting;
    int8_t saveOnExitSetting;
    int8_t channelMapSetting[32];
    int8_t delayFramesSetting;
    int8_t mapChannelsSetting;
    int8_t monitorLevelSetting;  // 0 Mute, 1 Dim, 2 Full
    uint8_t reserved1721[7];
};

static_assert(sizeof(GroupSettings) == 528);
static_assert(offsetof(GroupSettings, detectExtraGroups) == 16);
static_assert(offsetof(GroupSettings, outputExtraGroups) == 272);

static_assert(sizeof(SettingsRecord) == 1728);
static_assert(offsetof(SettingsRecord, reserved16) == 16);
static_assert(offsetof(SettingsRecord, reserved28) == 28);
static_assert(offsetof(SettingsRecord, procAmpMonitorSetting) == 29);
static_assert(offsetof(SettingsRecord, procAmpWfmSetting) == 30);
static_assert(offsetof(SettingsRecord, procAmpModeSetting) == 32);
static_assert(offsetof(SettingsRecord, procAmpPresetNameSetting) == 40);
static_assert(offsetof(SettingsRecord, procAmpPresetSetting) == 296);
static_assert(offsetof(SettingsRecord, procAmpApplySetting) == 297);
static_assert(offsetof(SettingsRecord, extraIpSetting) == 298);
static_assert(offsetof(SettingsRecord, grabFlagsSetting) == 330);
static_assert(offsetof(SettingsRecord, grabFormatSetting) == 334);
static_assert(offsetof(SettingsRecord, grabNameSetting) == 336);
static_assert(offsetof(SettingsRecord, reserved584) == 584);
static_assert(offsetof(SettingsRecord, grabFolderSetting) == 592);
static_assert(offsetof(SettingsRecord, reserved1116) == 1116);
static_assert(offsetof(SettingsRecord, groupSettings) == 1120);
static_assert(offsetof(SettingsRecord, rotationSetting) == 1648);
static_assert(offsetof(SettingsRecord, gainItemSetting) == 1656);
static_assert(offsetof(SettingsRecord, gainSetting) == 1664);
static_assert(offsetof(SettingsRecord, lastRateSetting) == 1672);
static_assert(offsetof(SettingsRecord, deinterlaceSetting) == 1676);
static_assert(offsetof(SettingsRecord, ebuSetting) == 1677);
static_assert(offsetof(SettingsRecord, previewSetting) == 1678);
static_assert(offsetof(SettingsRecord, excludeLocalSetting) == 1679);
static_assert(offsetof(SettingsRecord, airSendSetting) == 1680);
static_assert(offsetof(SettingsRecord, keyFillSetting) == 1681);
static_assert(offsetof(SettingsRecord, monoMixSetting) == 1682);
static_assert(offsetof(SettingsRecord, delayOnSetting) == 1683);
static_assert(offsetof(SettingsRecord, loadOnStartupSetting) == 1684);
static_assert(offsetof(SettingsRecord, saveOnExitSetting) == 1685);
static_assert(offsetof(SettingsRecord, channelMapSetting) == 1686);
static_assert(offsetof(SettingsRecord, delayFramesSetting) == 1718);
static_assert(offsetof(SettingsRecord, mapChannelsSetting) == 1719);
static_assert(offsetof(SettingsRecord, monitorLevelSetting) == 1720);
static_assert(offsetof(SettingsRecord, reserved1721) == 1721);

}  // namespace velmor
