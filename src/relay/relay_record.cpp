#include "relay/relay_record.h"

#include "relay/audio_map.h"
#include "relay/text_fields.h"

namespace velmor {

RelayRecord::RelayRecord() {
    recvCreate.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    recvCreate.bandwidth = NDIlib_recv_bandwidth_highest;
    recvCreate.allow_video_fields = true;
    meterSettings.meterPosV = 90;
    meterSettings.meterPosH = 10;
    groupSetup.record = &settingsRecord.groupSettings;
    for (int i = 0; i < kMaxAudioChannels; ++i)
        channelMap[i].store(static_cast<int8_t>(i));
}

void RelayRecord::ApplyStartupDefaults() {
    // Handles and flags that start-up clears explicitly.
    videoThreadAlive = 0;
    mainReceiver = nullptr;
    mainSender = nullptr;
    deinterlaceMode = 0;
    excludeLocal = 1;
    previewOn = 1;

    // Meter and audio.
    meterSettings.meterPosV = 90;
    meterSettings.meterPosH = 10;
    monitorLevel = 1.0f;
    meterLink.meterScale = 0.1f;
    ebuMode = 1;

    // Remaining defaults.
    grabSetup.formatIndex = 3;
    grabSetup.baseName = "VelmorGrab";
    procAmp.settings = ProcAmpSettings{};
    procAmp.Refresh();
    settingsRecord.monitorLevelSetting = 2;
    audioMapper.Reset();
    for (int i = 0; i < kMaxAudioChannels; ++i) {
        channelMap[i].store(static_cast<int8_t>(audioMapper.mapperMap[i].load()));
    }
    PublishAudioSettings(*this);
}

bool SetMonitorLevel(RelayRecord& record, int level) {
    static constexpr float kLevels[3] = {0.0f, 0.25f, 1.0f};
    if (level < 0 || level > 2) return false;
    record.monitorLevel = kLevels[level];
    record.settingsRecord.monitorLevelSetting = static_cast<int8_t>(level);
    return true;
}

int8_t PresetStoredFlag(const ProcAmpPreset& p) {
    for (size_t i = 1; i < kPresetValueFields.size(); ++i) {
        if (p.*kPresetValueFields[i] != 50) return 1;
    }
    return 0;
}

void ProcAmpState::StoreIntoSlot(int n, bool keepStoredFlag) {
    if (n < 0 || n >= static_cast<int>(presets.size())) return;
    ProcAmpPreset& p = presets[n];
    const ProcAmpSettings& s = settings;
    for (size_t i = 0; i < kPresetValueFields.size(); ++i)
        p.*kPresetValueFields[i] = static_cast<int16_t>(s.*kProcAmpValueFields[i]);
    for (size_t i = 0; i < kPresetModeFields.size(); ++i)
        p.*kPresetModeFields[i] = static_cast<int8_t>(s.*kProcAmpModeFields[i]);
    p.monitorOn = static_cast<int8_t>(monitorOn);
    p.wfmOn = static_cast<int8_t>(wfmOn);
    CopyToField(p.name, kPresetNameMaxUnits, Utf8ToUtf16(presetName));
    if (!keepStoredFlag) p.storedFlag = PresetStoredFlag(p);
}

void ProcAmpState::RecallSlot(int n) {
    if (n < 0 || n >= static_cast<int>(presets.size())) return;
    const ProcAmpPreset& p = presets[n];
    ProcAmpSettings& s = settings;
    for (size_t i = 1; i < kPresetValueFields.size(); ++i)
        s.*kProcAmpValueFields[i] = p.*kPresetValueFields[i];
    monitorOn = p.monitorOn;
    wfmOn = p.wfmOn;
    for (size_t i = 0; i < kPresetModeFields.size(); ++i)
        s.*kProcAmpModeFields[i] = p.*kPresetModeFields[i];
    presetName = Utf16ToUtf8(FieldText(p.name));
    Refresh();
}

}  // namespace velmor
