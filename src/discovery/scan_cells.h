// The texts of the Sources Found table: what a probed source's first video and audio frames say
// about it, formatted as the operator reads them. Any value a source sends gives a text (a zero
// frame-rate denominator gives an empty rate, an aspect of 0 gives "1:inf"); nothing here can fail.
#pragma once

#include <string>

#include "ndi/ndi_types.h"

namespace velmor {

// Columns of the table, in order.
enum ScanColumn : int {
    kColumnName = 0,
    kColumnResolution,
    kColumnFps,
    kColumnAspect,
    kColumnAlpha,
    kColumnAudio,
    kColumnAddress,
    kScanColumnCount
};

struct VideoCells {
    std::string resolution;  // "%d x %d"
    std::string fps;         // "%4.2f%c": the rate, doubled for fields, 'p' or 'i'
    std::string aspect;      // "1:%3.2f" below 1.0, else "%3.2f:1"
    std::string alpha;       // "+Alpha" for RGBA, BGRA and UYVA, else empty
    bool operator==(const VideoCells&) const = default;
};

VideoCells VideoCellsOf(const NDIlib_video_frame_v2_t& frame);
std::string RateCell(int rateN, int rateD, NDIlib_frame_format_type_e type);
std::string AspectCell(float aspect);
// "%d Ch - %2.1f KHz".
std::string AudioCell(const NDIlib_audio_frame_v2_t& frame);

// printf into a string of whatever length the values need.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace velmor
