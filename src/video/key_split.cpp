#include "video/target_clones.h"
#include "video/key_split.h"

#include "video/image_buffer.h"

namespace velmor {

namespace {

VELMOR_TARGET_CLONES void KeyRow(const uint8_t* __restrict src,
                                                              uint8_t* __restrict key, int width) {
    for (int x = 0; x < width; ++x) {
        key[x * 2] = 0x80;
        key[x * 2 + 1] = static_cast<uint8_t>(Div255(src[x * 4 + 3] * 219u) + 16);
    }
}

}  // namespace

void MakeKeyFromAlpha(const uint8_t* bgra, int width, int height, int srcStride, uint8_t* key,
                      int keyStride) {
    if (!bgra || !key || width <= 0 || height <= 0) return;
    const int64_t s = srcStride > 0 ? srcStride : int64_t{width} * 4;
    const int64_t k = keyStride > 0 ? keyStride : int64_t{width} * 2;
    for (int y = 0; y < height; ++y)
        KeyRow(bgra + y * s, key + y * k, width);
}

}  // namespace velmor
