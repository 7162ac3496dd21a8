#include "relay/capture_apply.h"

#include <cstring>
#include <string>

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
    const int32_t values[8] = {p.reserved0, p.blackLevel, p.gain,        p.contrast,
                               p.gamma,     p.colourSat,  p.uLevelShift, p.vLevelShift};
    for (int i = 0; i < 8; ++i)
        s.procAmpValuesSetting[i] = Word(values[i]);
    s.procAmpModeSetting[0] = Byte(p.fxOrder);
    s.procAmpModeSetting[1] = Byte(p.uvLinking);
    s.procAmpModeSetting[2] = Byte(p.reserved34);
    s.procAmpModeSetting[3] = Byte(p.reserved35);
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

void ApplySettings(RelayRecord& r, ISettingsView& view, IFinderControl& finder) {
    // The stored copies may come from a file: bring them into range before anything uses them.
    LimitStoredSettings(r.settingsRecord);
    const SettingsRecord& s = r.settingsRecord;

    // 1. Preview.
    r.previewOn = s.previewSetting;

    // 2. Rotation, with the button's colour and caption.
    r.rotationMode = s.rotationSetting;
    const int mode = r.rotationMode;
    view.ShowRotation(rotateColours[mode], kRotationNames[mode]);

    // 3. Key+fill split.
    r.keyFillSplit = s.keyFillSetting;
    r.keyFillMenuChecked = s.keyFillSetting;
    view.ShowKeyFillSplit(r.keyFillSplit != 0);

    // 4. Proc amp output, de-interlace, output type.
    r.procAmp.applyToOutput = s.procAmpApplySetting;
    r.deinterlaceMode = s.deinterlaceSetting;
    const int deint = r.deinterlaceMode;
    view.ShowDeinterlace(deinterlaceColours[deint], kDeinterlaceNames[deint]);
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
    view.ShowDelayFrames(std::to_string(static_cast<int>(s.delayFramesSetting)));
    r.audioDelayOn = s.delayOnSetting;
    view.ShowAudioDelay(r.audioDelayOn != 0);

    // 8. Map channel count and mono mix.
    r.mapActive = s.mapChannelsSetting;
    r.audioChannelCount = s.mapChannelsSetting;
    r.monoMix = s.monoMixSetting;
    r.audioMapper.mapperMonoMix = s.monoMixSetting;

    // 9. Channel map (live and in the dialog) and the Extra IP text.
    for (int j = 0; j < kMaxAudioChannels; ++j) {
        r.channelMap[j] = s.channelMapSetting[j];
        r.audioMapper.mapperMap[j] = s.channelMapSetting[j];
    }
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
