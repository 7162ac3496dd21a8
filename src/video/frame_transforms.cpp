// The de-interlacer and the in-place half turns, mirrors and flips.
#include "video/frame_transforms.h"

#include <algorithm>
#include <cstring>

#include "video/pixel_words.h"
#include "video/simd.h"

namespace velmor {

namespace {

// Lines are processed in blocks of this many bytes so that the saved unfiltered lines fit on the
// stack and in the first-level cache.
constexpr int kBlock = 4096;

// [U, Y0, V, Y1] -> [U, Y1, V, Y0] on a little-endian 32-bit load.
inline uint32_t SwapLumas(uint32_t v) {
    return (v & 0x00FF00FFu) | ((v & 0x0000FF00u) << 16) | ((v >> 16) & 0x0000FF00u);
}

// The line kernels are plain loops that the compiler vectorises; the AVX2 versions are the same
// loops built for AVX2.
inline void AverageLoop(uint8_t* __restrict dst, const uint8_t* __restrict a,
                        const uint8_t* __restrict b, int n) {
    for (int i = 0; i < n; ++i)
        dst[i] = static_cast<uint8_t>((a[i] + b[i]) >> 1);
}

// dst = (above + 2*dst + below) >> 2, where `above` is the saved unfiltered previous line.
inline void BlendLoop(uint8_t* __restrict dst, const uint8_t* __restrict above,
                      const uint8_t* __restrict below, int n) {
    for (int i = 0; i < n; ++i) {
        dst[i] = static_cast<uint8_t>((above[i] + 2 * dst[i] + below[i]) >> 2);
    }
}

void AverageReference(uint8_t* __restrict dst, const uint8_t* __restrict a,
                      const uint8_t* __restrict b, int n) {
    AverageLoop(dst, a, b, n);
}
void BlendReference(uint8_t* __restrict dst, const uint8_t* __restrict above,
                    const uint8_t* __restrict below, int n) {
    BlendLoop(dst, above, below, n);
}

#if VELMOR_X86
VELMOR_AVX2 void AverageAvx2(uint8_t* __restrict dst, const uint8_t* __restrict a,
                             const uint8_t* __restrict b, int n) {
    AverageLoop(dst, a, b, n);
}
VELMOR_AVX2 void BlendAvx2(uint8_t* __restrict dst, const uint8_t* __restrict above,
                           const uint8_t* __restrict below, int n) {
    BlendLoop(dst, above, below, n);
}
constexpr DeinterlaceRows kDeinterlaceAvx2 = {AverageAvx2, BlendAvx2};
#endif
constexpr DeinterlaceRows kDeinterlaceReference = {AverageReference, BlendReference};

void BlendFields(int height, int stride, uint8_t* data, const DeinterlaceRows& rows) {
    if (height < 2) return;  // line 0 has no line below it to blend with
    alignas(64) uint8_t saved[2][kBlock];
    for (int x0 = 0; x0 < stride; x0 += kBlock) {
        const int n = std::min(kBlock, stride - x0);
        uint8_t* col = data + x0;
        uint8_t* prev = saved[0];
        uint8_t* cur = saved[1];
        std::memcpy(prev, col, n);
        rows.average(col, prev, col + stride, n);
        for (int k = 1; k <= height - 2; ++k) {
            uint8_t* line = col + static_cast<int64_t>(k) * stride;
            std::memcpy(cur, line, n);
            rows.blend(line, prev, line + stride, n);
            std::swap(prev, cur);
        }
    }
}

}  // namespace

const DeinterlaceRows& DeinterlaceRowsFor(KernelLevel level) {
#if VELMOR_X86
    if (level == KernelLevel::Avx2) return kDeinterlaceAvx2;
#endif
    (void)level;
    return kDeinterlaceReference;
}

int Deinterlace(int mode, int width, int height, int stride, uint8_t* data,
                const DeinterlaceRows& rows) {
    if (mode <= 0 || width <= 0 || height <= 0 || stride <= 0 || !data) return 0;
    auto line = [&](int k) { return data + static_cast<int64_t>(k) * stride; };
    const int half = height >> 1;
    switch (mode) {
        case 1:
            BlendFields(height, stride, data, rows);
            break;
        case 2:
            if (height < 2) break;
            for (int k = 0; k <= half - 2; ++k)
                rows.average(line(2 * k + 1), line(2 * k), line(2 * k + 2), stride);
            std::memcpy(line(2 * (half - 1) + 1), line(2 * (half - 1)), stride);
            break;
        case 3:
            if (height < 2) break;
            std::memcpy(line(0), line(1), stride);
            for (int k = 1; k <= half - 1; ++k)
                rows.average(line(2 * k), line(2 * k - 1), line(2 * k + 1), stride);
            break;
        default:
            break;
    }
    return 1;
}

namespace {

// Row a becomes row b reversed and row b becomes row a reversed (n 4-byte units each); with
// swapLumas each moved unit also has its lumas exchanged.
template <bool kSwapLumas>
inline void ExchangeLoop(uint8_t* __restrict a, uint8_t* __restrict b, int n) {
    for (int k = 0; k < n; ++k) {
        const uint32_t va = Load32(a + k * 4);
        const uint32_t vb = Load32(b + (n - 1 - k) * 4);
        Store32(a + k * 4, kSwapLumas ? SwapLumas(vb) : vb);
        Store32(b + (n - 1 - k) * 4, kSwapLumas ? SwapLumas(va) : va);
    }
}

template <bool kSwapLumas, KernelLevel L>
void ExchangeReversed(uint8_t* __restrict a, uint8_t* __restrict b, int n) {
    ExchangeLoop<kSwapLumas>(a, b, n);
}
#if VELMOR_X86
// The same loop built for AVX2 (the compiler vectorises it with wider reversing shuffles).
template <>
VELMOR_AVX2 void ExchangeReversed<true, KernelLevel::Avx2>(uint8_t* __restrict a,
                                                           uint8_t* __restrict b, int n) {
    ExchangeLoop<true>(a, b, n);
}
template <>
VELMOR_AVX2 void ExchangeReversed<false, KernelLevel::Avx2>(uint8_t* __restrict a,
                                                            uint8_t* __restrict b, int n) {
    ExchangeLoop<false>(a, b, n);
}
#endif

// Reverses one row of n units in place; an odd middle unit stays as it is.
template <bool kSwapLumas>
void ReverseRow(uint8_t* row, int n) {
    for (int k = 0; k < n / 2; ++k) {
        const uint32_t va = Load32(row + k * 4);
        const uint32_t vb = Load32(row + (n - 1 - k) * 4);
        Store32(row + k * 4, kSwapLumas ? SwapLumas(vb) : vb);
        Store32(row + (n - 1 - k) * 4, kSwapLumas ? SwapLumas(va) : va);
    }
}

void SwapRows(uint8_t* __restrict a, uint8_t* __restrict b, int bytes) {
    alignas(64) uint8_t tmp[kBlock];
    for (int x = 0; x < bytes; x += kBlock) {
        const int n = std::min(kBlock, bytes - x);
        std::memcpy(tmp, a + x, n);
        std::memcpy(a + x, b + x, n);
        std::memcpy(b + x, tmp, n);
    }
}

template <bool kSwapLumas, KernelLevel L>
void HalfTurn(int units, int height, uint8_t* data, int64_t stride) {
    for (int r = 0; r < height / 2; ++r) {
        ExchangeReversed<kSwapLumas, L>(data + r * stride, data + (height - 1 - r) * stride, units);
    }
    if (height & 1) ReverseRow<kSwapLumas>(data + (height / 2) * stride, units);
}

template <bool kSwapLumas>
void Mirror(int units, int height, uint8_t* data, int64_t stride) {
    for (int r = 0; r < height; ++r)
        ReverseRow<kSwapLumas>(data + r * stride, units);
}

void Flip(int rowBytes, int height, uint8_t* data, int64_t stride) {
    for (int r = 0; r < height / 2; ++r) {
        SwapRows(data + r * stride, data + (height - 1 - r) * stride, rowBytes);
    }
}

bool Usable(int width, int height, const uint8_t* data) {
    return width > 0 && height > 0 && data != nullptr;
}

template <KernelLevel L>
void TurnUYVY180At(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data)) return;
    HalfTurn<true, L>(width / 2, height, data, stride > 0 ? stride : int64_t{width} * 2);
}

template <KernelLevel L>
void TurnRGBA180At(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width} * height < 16) return;
    HalfTurn<false, L>(width, height, data, stride > 0 ? stride : int64_t{width} * 4);
}

}  // namespace

InPlaceFn InPlaceFor(bool uyvy, int rotationMode, KernelLevel level) {
    switch (rotationMode) {
        case 2:
#if VELMOR_X86
            if (level == KernelLevel::Avx2)
                return uyvy ? TurnUYVY180At<KernelLevel::Avx2> : TurnRGBA180At<KernelLevel::Avx2>;
#endif
            (void)level;
            return uyvy ? TurnUYVY180At<KernelLevel::Reference>
                        : TurnRGBA180At<KernelLevel::Reference>;
        case 4:
            return uyvy ? MirrorUYVY : MirrorRGBA;
        case 5:
            return uyvy ? FlipUYVY : FlipRGBA;
        default:
            return nullptr;
    }
}

void TurnUYVY180(int width, int height, uint8_t* data, int stride) {
    InPlaceFor(true, 2, BestKernelLevel())(width, height, data, stride);
}

void MirrorUYVY(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data)) return;
    Mirror<true>(width / 2, height, data, stride > 0 ? stride : int64_t{width} * 2);
}

void FlipUYVY(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width / 2} * height < 16) return;
    Flip((width / 2) * 4, height, data, stride > 0 ? stride : int64_t{width} * 2);
}

void TurnRGBA180(int width, int height, uint8_t* data, int stride) {
    InPlaceFor(false, 2, BestKernelLevel())(width, height, data, stride);
}

void MirrorRGBA(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width} * height < 16) return;
    Mirror<false>(width, height, data, stride > 0 ? stride : int64_t{width} * 4);
}

void FlipRGBA(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width} * height < 16) return;
    Flip(width * 4, height, data, stride > 0 ? stride : int64_t{width} * 4);
}

}  // namespace velmor
