// The 32-byte meter configuration record, stored as its own block of the configuration file, and
// the change bits that tell the meter and the video path what the configuration window changed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velmor {

// Written by the window thread (the meter configuration window, the configuration load) while the
// audio and video threads read it: every access from a thread goes through LoadMeterSetting /
// StoreMeterSetting.
struct MeterSettings {
    int32_t meterPosV;  // vertical position 0..100; the label shows 100 minus it
    int32_t meterPosH;  // horizontal position 0..100
    uint8_t reserved8[2];
    // Where the stored layout keeps a copy of the run-time change bits (MeterLink). Nothing reads
    // it: it is stored and read back as it was, like the other reserved bytes.
    uint8_t reserved10;
    uint8_t meterMode;  // 0 "Normal Mode", 1 "vMix Mode"
    uint8_t meterSeparateOutput;
    uint8_t meterOnMainOutput;
    uint8_t meterLayout;  // 0 "Horizontal", 1 "Vertical", 2 "Audio waveform (WIP)"
    uint8_t reserved15[17];
};

static_assert(sizeof(MeterSettings) == 32);
static_assert(offsetof(MeterSettings, reserved10) == 10);
static_assert(offsetof(MeterSettings, meterMode) == 11);
static_assert(offsetof(MeterSettings, meterLayout) == 14);

template <typename T>
T LoadMeterSetting(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <typename T>
void StoreMeterSetting(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// Bits of MeterLink::meterChangeFlags.
inline constexpr uint8_t kMeterChangePicture = 0x01;  // the video path takes the picture up again
inline constexpr uint8_t kMeterChangeMode = 0x02;     // the meter takes meterMode on its next block
inline constexpr uint8_t kMeterChangeLayout = 0x04;   // the meter takes meterLayout and rebuilds
inline constexpr uint8_t kMeterChangeBit7 = 0x80;     // cleared with bits 1 and 2

}  // namespace velmor
