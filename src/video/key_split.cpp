#include "video/key_split.h"

#include "video/image_buffer.h"
#include "video/simd.h"

namespace velmor {

namespace {

inline void KeyLoop(const uint8_t* __restrict src, uint8_t* __restrict key, int width) {
    for (int x = 0; x < width; ++x) {
        key[x * 2] = 0x80;
        key[x * 2 + 1] = static_cast<uint8_t>(Div255(src[x * 4 + 3] * 219u) + 16);
    }
}

void KeyRowReference(const uint8_t* __restrict src, uint8_t* __restrict key, int width) {
    KeyLoop(src, key, width);
}

#if VELMOR_X86
VELMOR_AVX2 void KeyRowAvx2(const uint8_t* __restrict src, uint8_t* __restrict key, int width) {
    KeyLoop(src, key, width);
}
#endif

}  // namespace

KeyRowFn KeyRowFor(KernelLevel level) {
#if VELMOR_X86
    if (level >= KernelLevel::Avx2) return KeyRowAvx2;
#endif
    (void)level;
    return KeyRowReference;
}

void MakeKeyFromAlpha(const uint8_t* bgra, int width, int height, int srcStride, uint8_t* key,
                      int keyStride, KeyRowFn row) {
    if (!bgra || !key || width <= 0 || height <= 0) return;
    const int64_t s = srcStride > 0 ? srcStride : int64_t{width} * 4;
    const int64_t k = keyStride > 0 ? keyStride : int64_t{width} * 2;
    for (int y = 0; y < height; ++y)
        row(bgra + y * s, key + y * k, width);
}

}  // namespace velmor
