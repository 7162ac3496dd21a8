#include "discovery/scan_cells.h"

#include <cstdarg>
#include <cstdio>

namespace velmor {

std::string StringPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return text;
}

std::string RateCell(int rateN, int rateD, NDIlib_frame_format_type_e type) {
    if (rateD == 0) return {};
    const bool progressive = type == NDIlib_frame_format_type_progressive;
    // Fields come twice per frame: an interlaced source is named by its field rate.
    float rate = static_cast<float>(rateN) / static_cast<float>(rateD);
    if (!progressive) rate *= 2.0f;
    return StringPrintf("%4.2f%c", static_cast<double>(rate), progressive ? 'p' : 'i');
}

std::string AspectCell(float aspect) {
    if (aspect < 1.0f) return StringPrintf("1:%3.2f", static_cast<double>(1.0f / aspect));
    return StringPrintf("%3.2f:1", static_cast<double>(aspect));
}

VideoCells VideoCellsOf(const NDIlib_video_frame_v2_t& frame) {
    VideoCells cells;
    cells.resolution = StringPrintf("%d x %d", frame.xres, frame.yres);
    cells.fps = RateCell(frame.frame_rate_N, frame.frame_rate_D, frame.frame_format_type);
    cells.aspect = AspectCell(frame.picture_aspect_ratio);
    const bool alpha = frame.FourCC == NDIlib_FourCC_video_type_RGBA ||
                       frame.FourCC == NDIlib_FourCC_video_type_BGRA ||
                       frame.FourCC == NDIlib_FourCC_video_type_UYVA;
    if (alpha) cells.alpha = "+Alpha";
    return cells;
}

std::string AudioCell(const NDIlib_audio_frame_v2_t& frame) {
    return StringPrintf("%d Ch - %2.1f KHz", frame.no_channels,
                        static_cast<double>(static_cast<float>(frame.sample_rate) / 1000.0f));
}

}  // namespace velmor
