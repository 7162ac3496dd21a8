// The 32-byte meter configuration record, stored as its own block of the configuration file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmor {

struct MeterSettings {
    int32_t meterPosV;  // vertical position 0..100; the label shows 100 minus it
    int32_t meterPosH;  // horizontal position 0..100
    uint8_t reserved8[2];
    uint8_t meterChangeFlags;  // bit 0 picture to take up again, bit 1 mode, bit 2 layout
    uint8_t meterMode;         // 0 "Normal Mode", 1 "vMix Mode"
    uint8_t meterSeparateOutput;
    uint8_t meterOnMainOutput;
    uint8_t meterLayout;  // 0 "Horizontal", 1 "Vertical", 2 "Audio waveform (WIP)"
    uint8_t reserved15[17];
};

static_assert(sizeof(MeterSettings) == 32);
static_assert(offsetof(MeterSettings, meterChangeFlags) == 10);
static_assert(offsetof(MeterSettings, meterLayout) == 14);

inline constexpr uint8_t kMeterChangePicture = 0x01;
inline constexpr uint8_t kMeterChangeMode = 0x02;
inline constexpr uint8_t kMeterChangeLayout = 0x04;
inline constexpr uint8_t kMeterChangeBit7 = 0x80;

}  // namespace velmor
