// A borrowed view of one frame's pixels, the common argument of the per-frame operations.
#pragma once

#include <cstdint>
#include <limits>

#include "ndi/ndi_types.h"

namespace velmor {

// Does not own the pixels. The caller keeps the buffer alive and unshared for the duration of a
// call; no operation keeps the view after it returns.
struct FrameView {
    uint8_t* data = nullptr;
    int width = 0;   // pixels
    int height = 0;  // lines
    int stride = 0;  // bytes from one line to the next
    uint32_t fourCC = 0;

    bool IsUYVY() const { return fourCC == NDIlib_FourCC_video_type_UYVY; }
    bool IsBGRA() const { return fourCC == NDIlib_FourCC_video_type_BGRA; }
};

// Rows [first, end) of a frame: the band of rows a step works on when the video path runs a frame
// through its steps a band at a time. The default is every row.
struct RowSpan {
    int first = 0;
    int end = std::numeric_limits<int>::max();
};

inline FrameView ViewOf(const NDIlib_video_frame_v2_t& frame) {
    return FrameView{frame.p_data, frame.xres, frame.yres, frame.line_stride_in_bytes,
                     static_cast<uint32_t>(frame.FourCC)};
}

}  // namespace velmor
