#include "audio/meter_config.h"

#include <algorithm>
#include <cstdio>

namespace velmor {

namespace {

// The value goes in before its bit: a thread that sees the bit reads the new value.
void Announce(MeterLink& link, uint8_t bit) {
    link.meterChangeFlags.fetch_or(bit);
}

}  // namespace

void MeterConfig::SetPositions(int posV, int posH) {
    StoreMeterSetting(settings_.meterPosV, std::clamp(posV, 0, kPositionMax));
    StoreMeterSetting(settings_.meterPosH, std::clamp(posH, 0, kPositionMax));
    Announce(link_, kMeterChangePicture);
}

void MeterConfig::ChooseMode(int mode) {
    if (mode != 0 && mode != 1) return;
    StoreMeterSetting(settings_.meterMode, static_cast<uint8_t>(mode));
    Announce(link_, kMeterChangeMode);
}

void MeterConfig::ChooseLayout(int layout) {
    if (layout < 0 || layout > 2) return;
    StoreMeterSetting(settings_.meterLayout, static_cast<uint8_t>(layout));
    Announce(link_, kMeterChangeLayout);
}

void MeterConfig::SetSeparateOutput(bool on) {
    StoreMeterSetting(settings_.meterSeparateOutput, static_cast<uint8_t>(on ? 1 : 0));
}

void MeterConfig::SetOnMainOutput(bool on) {
    StoreMeterSetting(settings_.meterOnMainOutput, static_cast<uint8_t>(on ? 1 : 0));
}

std::string MeterConfig::PositionText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%+d,%+d", static_cast<int>(settings_.meterPosH),
                  kPositionMax - static_cast<int>(settings_.meterPosV));
    return text;
}

}  // namespace velmor
