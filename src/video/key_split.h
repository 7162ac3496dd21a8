// The key half of the key+fill split: a UYVY picture whose luma carries a BGRA frame's alpha.
#pragma once

#include <cstdint>

#include "video/kernel_level.h"

namespace velmor {

// One row: `width` BGRA pixels to `width` UYVY key pixels.
using KeyRowFn = void (*)(const uint8_t* __restrict bgra, uint8_t* __restrict key, int width);
// The reference row, or the same loop built for AVX2.
KeyRowFn KeyRowFor(KernelLevel level);

// Video thread, per frame. For every pixel of the width x height BGRA frame (`srcStride` bytes a
// line, 0: packed) the matching luma of the UYVY key (`keyStride` bytes a line, 0: width * 2)
// becomes A * 219 / 255 + 16 (alpha 0 -> 16, 255 -> 235) and every chroma byte 0x80. The caller
// owns both buffers; the key must hold height lines.
void MakeKeyFromAlpha(const uint8_t* bgra, int width, int height, int srcStride, uint8_t* key,
                      int keyStride = 0, KeyRowFn row = KeyRowFor(BestKernelLevel()));

}  // namespace velmor
