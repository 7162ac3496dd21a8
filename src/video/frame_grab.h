// Frame grabs: the 32-bit picture made from the copied frame, and the grab file's name.
#pragma once

#include <ctime>
#include <string>

#include "video/image_buffer.h"

namespace velmor {

// Builds `outputImage` (opaque BGRA, alpha 255 everywhere, so no alpha reaches the file) from
// `grabImage`: kind 1 rows are copied, any other kind is read as packed UYVY and converted with
// BT.709 studio-range coefficients; rows are packed, and in a row of an odd width the last
// pixel (which has no V byte of its own) repeats the pixel before it. Returns false, leaving
// outputImage empty, when grabImage is empty or memory runs out. Window thread, while the video
// thread waits.
bool FrameToImage(const ImageBuffer& grabImage, ImageBuffer& outputImage);

struct GrabNaming {
    int useBaseName = 1;
    int addDate = 1;
    int addTime = 1;
    int formatIndex = 3;  // 0 BMP, 1 GIF, 2 JPG, 3 PNG
    std::string baseName = "VelmorGrab";
    std::string grabFolder;  // empty: the current folder
};

inline constexpr const char* kGrabExtensions[4] = {".bmp", ".gif", ".jpg", ".png"};

// "<base>-<instance>[-yyyymmdd][-hhmmss].<ext>", inside grabFolder when one is set. `date` and
// `time` are the local times read for each part. A formatIndex outside 0..3 means PNG.
std::string GrabFilePath(const GrabNaming& naming, int instanceIndex, const std::tm& date,
                         const std::tm& time);

}  // namespace velmor
