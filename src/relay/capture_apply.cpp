#include "relay/capture_apply.h"

#include <cstring>
#include <string>

#include "relay/audio_map.h"
#include "relay/stored_ranges.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

int8_t Byte(int32_t v) {
    return static_cast<int8_t>(v);
}
int16_t Word(int32_t v) {
    return static_cast<int16_t>(v);
}

}  // namespace

void CaptureSettings(RelayRecord& r) {
    SettingsRecord& s = r.settingsRecord;
    const ProcAmpState& pa = r.procAmp;
    const ProcAmpSettings& p = pa.settings;
    for (size_t i = 0; i < kProcAmpValueFields.size(); ++i)
        s.procAmpValuesSetting[i] = Word(p.*kProcAmpValueFields[i]);
    for (size_t i = 0; i < kProcAmpModeFields.size(); ++i)
        s.procAmpModeSetting[i] = Byte(p.*kProcAmpModeFields[i]);
    s.procAmpMonitorSetting = Byte(pa.monitorOn);
    s.procAmpWfmSetting = Byte(pa.wfmOn);
    CopyToField(s.procAmpPresetNameSetting, kPresetNameMaxUnits, Utf8ToUtf16(pa.presetName));
    s.procAmpPresetSetting = Byte(pa.currentPreset);
    s.procAmpApplySetting = Byte(pa.applyToOutput);

    CopyToField(s.extraIpSetting, FieldText(r.extraIpText));

    const GrabSetup& g = r.grabSetup;
    s.grabFlagsSetting[0] = Byte(g.useBaseName);
    s.grabFlagsSetting[1] = Byte(g.addDate);
    s.grabFlagsSetting[2] = Byte(g.addTime);
    s.grabFlagsSetting[3] = Byte(g.grabOnFreeze);
    s.grabFormatSetting = Word(g.formatIndex);
    CopyToField(s.grabNameSetting, 124, Utf8ToUtf16(g.baseName));
    CopyToField(s.grabFolderSetting, 262, Utf8ToUtf16(g.grabFolder));

    s.rotationSetting = Word(r.rotationMode);
    s.gainItemSetting = r.audioMapper.mapperGainItem;
    s.gainSetting = r.audioGain;
    s.lastRateSetting = r.lastRate;
    s.deinterlaceSetting = Byte(r.deinterlaceMode);
    s.ebuSetting = Byte(r.ebuMode);
    s.previewSetting = Byte(r.previewOn);
    s.excludeLocalSetting = Byte(r.excludeLocal);
    s.airSendSetting = Byte(r.airSendOutput);
    s.keyFillSetting = Byte(r.keyFillSplit);
    s.delayOnSetting = Byte(r.audioDelayOn);
}

void TakeStoredProcAmpAndGrab(RelayRecord& r) {
    const SettingsRecord& s = r.settingsRecord;
    ProcAmpState& pa = r.procAmp;
    ProcAmpSettings& p = pa.settings;
    for (size_t i = 1; i < kProcAmpValueFields.size(); ++i)
        p.*kProcAmpValueFields[i] = s.procAmpValuesSetting[i];
    for (size_t i = 0; i < kProcAmpModeFields.size(); ++i)
        p.*kProcAmpModeFields[i] = s.procAmpModeSetting[i];
    pa.monitorOn = s.procAmpMonitorSetting;
    pa.wfmOn = s.procAmpWfmSetting;
    pa.presetName = Utf16ToUtf8(FieldText(s.procAmpPresetNameSetting));
    pa.currentPreset = s.procAmpPresetSetting;
    pa.Refresh();  // recomputes `active` and rebuilds the tables

    GrabSetup& g = r.grabSetup;
    g.useBaseName = s.grabFlagsSetting[0];
    g.addDate = s.grabFlagsSetting[1];
    g.addTime = s.grabFlagsSetting[2];
    g.grabOnFreeze = s.grabFlagsSetting[3];
    g.formatIndex = s.grabFormatSetting;
    g.baseName = Utf16ToUtf8(FieldText(s.grabNameSetting));
    g.grabFolder = Utf16ToUtf8(FieldText(s.grabFolderSetting));
}

void TakeStoredMeterSettings(RelayRecord& r) {
    const int separate = r.meterSettings.meterSeparateOutput;
    if (PpmMeter* meter = r.ppmMeter.get()) {
        meter->SetOverlayEnabled(separate != 0);
        meter->vmixMode = r.meterSettings.meterMode;
        meter->SetLayout(r.meterSettings.meterLayout);
    }
}

void ApplySettings(RelayRecord& r, ISettingsView& view, IFinderControl& finder) {
    // The stored copies may come from a file: bring them into range before anything uses them.
    LimitStoredSettings(r.settingsRecord);
    const SettingsRecord& s = r.settingsRecord;

    // 1. Preview.
    r.previewOn = s.previewSetting;

    // 2. Rotation, with the button's colour and caption.
    r.rotationMode = s.rotationSetting;
    const int mode = r.rotationMode;
    view.ShowRotation(mode);

    // 3. Key+fill split.
    r.keyFillSplit = s.keyFillSetting;
    r.keyFillMenuChecked = s.keyFillSetting;
    view.ShowKeyFillSplit(r.keyFillSplit != 0);

    // 4. Proc amp output, de-interlace, output type.
    r.procAmp.applyToOutput = s.procAmpApplySetting;
    r.deinterlaceMode = s.deinterlaceSetting;
    const int deint = r.deinterlaceMode;
    view.ShowDeinterlace(deint);
    r.airSendOutput = s.airSendSetting;
    view.ShowOutputChoice(r.airSendOutput != 0);

    // 5. Monitor level.
    if (SetMonitorLevel(r, s.monitorLevelSetting)) view.ShowMonitorLevel(s.monitorLevelSetting);

    // 6. EBU/SMPTE and the gain, live and in the audio map window.
    r.ebuMode = s.ebuSetting;
    view.ShowEbuMode(r.ebuMode != 0);
    r.audioMapper.mapperGainItem = s.gainItemSetting;
    r.audioGain = s.gainSetting;
    r.audioMapper.mapperGain = s.gainSetting;

    // 7. Audio delay.
    r.audioDelayFrames = static_cast<uint8_t>(s.delayFramesSetting);
    view.ShowDelayFrames(s.delayFramesSetting);
    r.audioDelayOn = s.delayOnSetting;
    view.ShowAudioDelay(r.audioDelayOn != 0);

    // 8. Map channel count and mono mix.
    r.mapActive = s.mapChannelsSetting;
    r.audioChannelCount = s.mapChannelsSetting;
    r.monoMix = s.monoMixSetting;
    r.audioMapper.mapperMonoMix = s.monoMixSetting;

    // 9. Channel map (live and in the dialog) and the Extra IP text. The audio thread takes the
    // gain, delay, map and mix together.
    SetChannelMap(r, s.channelMapSetting);
    PublishAudioSettings(r);
    CopyToField(r.extraIpText, FieldText(s.extraIpSetting));
    view.ShowExtraIp(FieldText(r.extraIpText));

    // 10. "Exclude local", restarting the finder when it changed.
    if (s.excludeLocalSetting != r.excludeLocal) {
        r.excludeLocal = s.excludeLocalSetting;
        view.ShowExcludeLocal(r.excludeLocal != 0);
        finder.RestartFinder(r.excludeLocal == 0, FieldText(r.extraIpText),
                             r.groupSetup.receiveGroups);
    }
}

}  // namespace velmor
