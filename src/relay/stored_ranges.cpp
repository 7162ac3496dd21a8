#include "relay/stored_ranges.h"

#include <algorithm>
#include <cmath>

#include "relay/address_list.h"
#include "relay/audio_mapper.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

template <typename T>
void Clamp(T& v, int lo, int hi) {
    v = static_cast<T>(std::clamp(static_cast<int>(v), lo, hi));
}
// A choice outside lo..hi takes its start-up default.
template <typename T>
void Choice(T& v, int lo, int hi, int fallback) {
    if (v < lo || v > hi) v = static_cast<T>(fallback);
}
template <typename T>
void Flag(T& v) {
    v = static_cast<T>(v != 0 ? 1 : 0);
}

// The proc amp sliders: Black Level 0..255, Gain -50..50, Contrast 0..255, the others 0..100.
template <typename T>
void ClampProcAmpValues(T& blackLevel, T& gain, T& contrast, T& gamma, T& colourSat, T& u, T& v) {
    Clamp(blackLevel, 0, 255);
    Clamp(gain, -50, 50);
    Clamp(contrast, 0, 255);
    Clamp(gamma, 0, 100);
    Clamp(colourSat, 0, 100);
    Clamp(u, 0, 100);
    Clamp(v, 0, 100);
}

}  // namespace

double LimitStoredGain(double gain) {
    if (std::isnan(gain) || gain == -INFINITY) return 0.0;
    if (gain == 0.0) return 0.0;
    return std::clamp(gain, kMinStoredGain, kMaxStoredGain);
}

void LimitStoredSettings(SettingsRecord& s) {
    int16_t* pv = s.procAmpValuesSetting;  // [0] is never read back
    ClampProcAmpValues(pv[1], pv[2], pv[3], pv[4], pv[5], pv[6], pv[7]);
    Choice(s.procAmpModeSetting[0], 0, 1, 0);  // fxOrder: the two menu items
    Choice(s.procAmpModeSetting[1], 0, 2, 0);  // uvLinking: Off, Standard, Reversed
    Flag(s.procAmpMonitorSetting);
    Flag(s.procAmpWfmSetting);
    Choice(s.procAmpPresetSetting, 0, 5, 0);
    Flag(s.procAmpApplySetting);

    // The Extra IP text goes to the finder: only a list of addresses is kept.
    const std::string extraIp = FieldText(s.extraIpSetting);
    if (!CheckAddressList(extraIp).ok()) CopyToField(s.extraIpSetting, "");

    for (int8_t& f : s.grabFlagsSetting)
        Flag(f);
    Choice(s.grabFormatSetting, 0, 3, 3);  // BMP, GIF, JPG, PNG; PNG at start-up

    GroupSettings& g = s.groupSettings;
    Flag(g.detectPublic);
    Flag(g.detectAppsGroup);
    Flag(g.outputPublic);
    Flag(g.outputAppsGroup);

    Choice(s.rotationSetting, 0, 5, 0);
    const int firstItem = NDIAudioMapper::kFirstGainCommand;
    const int lastItem = firstItem + static_cast<int>(NDIAudioMapper::gainTable.size()) - 1;
    if (s.gainItemSetting != 0) Choice(s.gainItemSetting, firstItem, lastItem, 0);
    s.gainSetting = LimitStoredGain(s.gainSetting);

    Choice(s.deinterlaceSetting, 0, 3, 0);
    for (int8_t* f : {&s.ebuSetting, &s.previewSetting, &s.excludeLocalSetting, &s.airSendSetting,
                      &s.keyFillSetting, &s.monoMixSetting, &s.delayOnSetting,
                      &s.loadOnStartupSetting, &s.saveOnExitSetting})
        Flag(*f);

    // No map can have been accepted for more than 32 channels (the window cannot lay it out), so
    // any other count means no map.
    Choice(s.mapChannelsSetting, 0, NDIAudioMapper::kMaxChannels, 0);
    // Entry i of a map for C channels is a column 0..C (C is "Mute"); rows from C on are unused by
    // that map and only need to name a column the window can show.
    const int channels =
        s.mapChannelsSetting > 0 ? s.mapChannelsSetting : NDIAudioMapper::kMaxChannels;
    for (int i = 0; i < NDIAudioMapper::kMaxChannels; ++i) {
        const int bound = i < channels ? channels : NDIAudioMapper::kMaxChannels;
        Choice(s.channelMapSetting[i], 0, bound, i);
    }
    Clamp(s.delayFramesSetting, 0, kMaxDelayFrames);
    Choice(s.monitorLevelSetting, 0, 2, 2);  // Mute, Dim, Full; Full at start-up
}

void LimitStoredMeterSettings(MeterSettings& m) {
    Clamp(m.meterPosV, 0, 100);
    Clamp(m.meterPosH, 0, 100);
    Choice(m.meterMode, 0, 1, 0);
    Flag(m.meterSeparateOutput);
    Flag(m.meterOnMainOutput);
    Choice(m.meterLayout, 0, 2, 0);
}

void LimitStoredPreset(ProcAmpPreset& p) {
    // A never-used slot (all values 0) stays recognisable: 0 is inside every range.
    ClampProcAmpValues(p.blackLevel, p.gain, p.contrast, p.gamma, p.colourSat, p.uLevelShift,
                       p.vLevelShift);
    Flag(p.storedFlag);
    Flag(p.monitorOn);
    Flag(p.wfmOn);
    Choice(p.fxOrder, 0, 1, 0);
    Choice(p.uvLinking, 0, 2, 0);
    // A name without its terminator is cut to fit rather than read past the record.
    CopyToField(p.name, FieldText(p.name));
}

}  // namespace velmor
