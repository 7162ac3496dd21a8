// What the controls of the "PPM Config" window change: the meter's place on the output, its
// reference mode, its layout and where it goes, each change with the bit that tells the meter
// (audio thread) or the video path what to take up again. The window is a view over this.
#pragma once

#include <string>

#include "audio/meter_settings.h"
#include "audio/ppm_meter.h"

namespace velmor {

class MeterConfig {
public:
    static constexpr int kPositionMax = 100;

    MeterConfig(MeterSettings& settings, MeterLink& link) : settings_(settings), link_(link) {}

    // The vertical and horizontal position sliders, 0..100 each: both positions are taken over
    // and the video path places the meter again (bit 0).
    void SetPositions(int posV, int posH);
    // "Normal Mode" 0, "vMix Mode" 1: the meter takes it on its next audio block (bit 1).
    void ChooseMode(int mode);
    // "Horizontal" 0, "Vertical" 1, "Audio waveform (WIP)" 2: the meter rebuilds its pictures
    // (bit 2).
    void ChooseLayout(int layout);
    void SetSeparateOutput(bool on);  // "Separate NDI o/p with alpha"
    void SetOnMainOutput(bool on);    // "Meter overlay on main Velmor o/p"

    // The position label: "%+d,%+d" of meterPosH and 100 - meterPosV ("+10,+10" at start-up).
    std::string PositionText() const;

    const MeterSettings& settings() const { return settings_; }

private:
    MeterSettings& settings_;
    MeterLink& link_;
};

}  // namespace velmor
