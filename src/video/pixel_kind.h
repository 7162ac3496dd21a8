// The kinds of pixels of pictures and of frames, one vocabulary for both. A picture records its
// kind (video/image_buffer.h); a frame's FourCC names its kind through PixelKindOf. The codes are
// those of the stored picture record.
#pragma once

#include <cstdint>

#include "ndi/ndi_types.h"

namespace velmor {

enum class PixelKind : int32_t {
    None = 0,
    BGRA = 1,  // B, G, R, A per pixel
    UYVA = 2,  // U, Y, V, A per pixel (full chroma, for UYVY video)
    UYVY = 3,  // U, Y0, V, Y1 per pair of pixels
};
inline constexpr PixelKind kPixelBGRA = PixelKind::BGRA;
inline constexpr PixelKind kPixelUYVA = PixelKind::UYVA;
inline constexpr PixelKind kPixelUYVY = PixelKind::UYVY;

// The kind of a frame of `fourCC`: BGRA and BGRX frames are four bytes a pixel (BGRX without
// alpha), UYVY frames are UYVY; any other FourCC is none of the kinds Velmor works on.
inline PixelKind PixelKindOf(uint32_t fourCC) {
    switch (fourCC) {
        case NDIlib_FourCC_video_type_UYVY:
            return PixelKind::UYVY;
        case NDIlib_FourCC_video_type_BGRA:
        case NDIlib_FourCC_video_type_BGRX:
            return PixelKind::BGRA;
        default:
            return PixelKind::None;
    }
}

}  // namespace velmor
