// The choices of the main window's two stepping buttons, one vocabulary for the record, the
// stored settings, the video path and the window: the codes are those the configuration file
// stores and the frame transforms take (video/frame_transforms.h).
#pragma once

#include <array>
#include <cstdint>

namespace velmor {

enum class RotationMode : int32_t { None, Rotate90, Rotate180, RotateMinus90, HFlip, VFlip };
inline constexpr int kRotationModeCount = 6;
inline constexpr std::array<const char*, kRotationModeCount> kRotationNames = {
    "Rotate 0", "Rotate 90", "Rotate 180", "Rotate -90", "H-Flip", "V-Flip"};

enum class DeinterlaceMode : int32_t { Off, BlendFields, Field1, Field2 };
inline constexpr int kDeinterlaceModeCount = 4;
inline constexpr std::array<const char*, kDeinterlaceModeCount> kDeinterlaceNames = {
    "DeInt OFF", "Blend fields", "Field 1", "Field 2"};

// A stored or stepped code that is not one of the choices reads as the first.
inline int RotationCode(int mode) {
    return (mode >= 0 && mode < kRotationModeCount) ? mode : 0;
}
inline int DeinterlaceCode(int mode) {
    return (mode >= 0 && mode < kDeinterlaceModeCount) ? mode : 0;
}

}  // namespace velmor
