// Proc amp parameters and the 296-byte preset record shared by preset files, the configuration
// file and the proc amp window's six slots.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace velmor {

static_assert(std::endian::native == std::endian::little,
              "stored records are little-endian images");

// The seven correction parameters (neutral at 50) plus the effect order and U/V linking mode.
struct ProcAmpSettings {
    int32_t reserved0 = 50;  // carried in stored records, never read back
    int32_t blackLevel = 50;
    int32_t gain = 50;
    int32_t contrast = 50;
    int32_t gamma = 50;
    int32_t colourSat = 50;
    int32_t uLevelShift = 50;
    int32_t vLevelShift = 50;
    int32_t fxOrder = 0;    // 0 "Levels > Contrast > Gamma", 1 "Levels > Gamma > Contrast"
    int32_t uvLinking = 0;  // 0 Off, 1 Standard, 2 Reversed
    int32_t reserved34 = 0;
    int32_t reserved35 = 0;

    bool operator==(const ProcAmpSettings&) const = default;
};

// The range of each parameter's slider, blackLevel .. vLevelShift (ProcAmpParam order): Black
// Level and Contrast 0..255, Gain -50..50, the others 0..100. The table builders, the stored
// settings' limits and the proc amp window all take them from here.
struct ProcAmpRange {
    int32_t min, max;
};
inline constexpr std::array<ProcAmpRange, 7> kProcAmpSliderRanges = {
    {{0, 255}, {-50, 50}, {0, 255}, {0, 100}, {0, 100}, {0, 100}, {0, 100}}};

// What the effect order and the U/V linking codes mean, as the proc amp window names them.
inline constexpr const char* kFxOrderNames[2] = {"Levels > Contrast > Gamma",
                                                 "Levels > Gamma > Contrast"};
inline constexpr const char* kUvLinkingNames[3] = {"Off", "Standard", "Reversed"};

struct ProcAmpPreset {
    int16_t reserved0;  // written 50, never read back
    int16_t blackLevel;
    int16_t gain;
    int16_t contrast;
    int16_t gamma;
    int16_t colourSat;
    int16_t uLevelShift;
    int16_t vLevelShift;
    uint8_t reserved16[12];
    int8_t storedFlag;  // 1 when any of blackLevel..vLevelShift differs from 50
    int8_t monitorOn;
    int8_t wfmOn;
    uint8_t reserved31;
    int8_t fxOrder;
    int8_t uvLinking;
    int8_t reserved34;
    int8_t reserved35;
    uint8_t reserved36[4];
    char16_t name[128];  // UTF-16LE, NUL-terminated, at most 123 characters
};

static_assert(sizeof(ProcAmpPreset) == 296);
static_assert(offsetof(ProcAmpPreset, blackLevel) == 2);
static_assert(offsetof(ProcAmpPreset, vLevelShift) == 14);
static_assert(offsetof(ProcAmpPreset, storedFlag) == 28);
static_assert(offsetof(ProcAmpPreset, monitorOn) == 29);
static_assert(offsetof(ProcAmpPreset, wfmOn) == 30);
static_assert(offsetof(ProcAmpPreset, fxOrder) == 32);
static_assert(offsetof(ProcAmpPreset, reserved35) == 35);
static_assert(offsetof(ProcAmpPreset, name) == 40);

inline constexpr int kPresetNameMaxUnits = 124;  // 123 characters and the terminating zero

// The eight stored values (reserved0, then blackLevel .. vLevelShift) and the four mode bytes
// (fxOrder, uvLinking, reserved34, reserved35) in the order every stored record keeps them: the
// preset record, the configuration's settings record and the live settings go through these
// lists, so each copy is one loop. Values are narrowed to their stored width and sign-extended
// when read back; reserved0 is never read back.
inline constexpr std::array<int32_t ProcAmpSettings::*, 8> kProcAmpValueFields = {
    &ProcAmpSettings::reserved0,   &ProcAmpSettings::blackLevel, &ProcAmpSettings::gain,
    &ProcAmpSettings::contrast,    &ProcAmpSettings::gamma,      &ProcAmpSettings::colourSat,
    &ProcAmpSettings::uLevelShift, &ProcAmpSettings::vLevelShift};
inline constexpr std::array<int32_t ProcAmpSettings::*, 4> kProcAmpModeFields = {
    &ProcAmpSettings::fxOrder, &ProcAmpSettings::uvLinking, &ProcAmpSettings::reserved34,
    &ProcAmpSettings::reserved35};
inline constexpr std::array<int16_t ProcAmpPreset::*, 8> kPresetValueFields = {
    &ProcAmpPreset::reserved0,   &ProcAmpPreset::blackLevel, &ProcAmpPreset::gain,
    &ProcAmpPreset::contrast,    &ProcAmpPreset::gamma,      &ProcAmpPreset::colourSat,
    &ProcAmpPreset::uLevelShift, &ProcAmpPreset::vLevelShift};
inline constexpr std::array<int8_t ProcAmpPreset::*, 4> kPresetModeFields = {
    &ProcAmpPreset::fxOrder, &ProcAmpPreset::uvLinking, &ProcAmpPreset::reserved34,
    &ProcAmpPreset::reserved35};

}  // namespace velmor
