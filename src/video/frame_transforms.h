// Whole-frame de-interlacing, quarter and half turns and flips of UYVY and BGRA pictures.
//
// All functions run on the video thread, once per frame, in one pass without allocation (the
// quarter turns reuse `rotateImage` while the frame size stays the same). The caller owns every
// buffer.
#pragma once

#include <cstdint>

#include "video/image_buffer.h"

namespace velmor {

// De-interlace modes (deinterlaceMode): 0 "DeInt OFF", 1 "Blend fields", 2 "Field 1", 3 "Field 2".
// Works on every byte of each line alike (any 8-bit packed layout), in place. Returns 0, leaving
// the frame alone, when mode, width, height or stride is not positive or data is null; any other
// mode than 1..3 leaves the frame unchanged and returns 1.
int Deinterlace(int mode, int width, int height, int stride, uint8_t* data);

// Quarter turns into `rotateImage` (which ends up describing the turned picture: width = height,
// height = width). `srcStride` 0 means packed source rows. Return false and leave rotateImage
// empty when its buffer cannot be allocated.
// UYVY: direction 1 anticlockwise, 2 clockwise. Chroma of each 2 x 2 block is averaged. An odd
// side leaves a last output column or row outside the 2 x 2 blocks: it repeats the column or row
// before it (black when the picture is one pixel across), so no stale bytes are left.
bool RotateUYVY(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride = 0);
// BGRA: direction 1 clockwise, 3 anticlockwise (the same rotationMode turns the two layouts in
// opposite directions).
bool RotateRGBA(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride = 0);

// In place. `stride` 0 means packed rows. Moving a UYVY macropixel sideways exchanges its lumas.
void TurnUYVY180(int width, int height, uint8_t* data, int stride = 0);
void MirrorUYVY(int width, int height, uint8_t* data, int stride = 0);
void FlipUYVY(int width, int height, uint8_t* data, int stride = 0);
void TurnRGBA180(int width, int height, uint8_t* data, int stride = 0);
void MirrorRGBA(int width, int height, uint8_t* data, int stride = 0);
void FlipRGBA(int width, int height, uint8_t* data, int stride = 0);

}  // namespace velmor
