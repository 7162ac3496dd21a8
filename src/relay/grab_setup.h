// Frame grab naming and format settings (the "Frame Grab Settings" window edits them).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmor {

struct GrabSetup {
    int32_t useBaseName = 1;
    int32_t addDate = 1;
    int32_t addTime = 1;
    int32_t grabOnFreeze = 0;
    int32_t formatIndex = 3;  // 0 BMP, 1 GIF, 2 JPG, 3 PNG
    std::string baseName = "VelmorGrab";
    std::string grabFolder;  // empty: the current folder
};

inline constexpr std::array<const char*, 4> kGrabExtensions = {".bmp", ".gif", ".jpg", ".png"};

}  // namespace velmor
