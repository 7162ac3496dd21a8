// The de-interlacer and the in-place half turns, mirrors and flips.
#include "video/frame_transforms.h"

#include <algorithm>
#include <cstring>

#include "video/pixel_words.h"
#include "video/simd.h"

namespace velmor {

namespace {

// The frame form of "Blend fields" goes through lines of up to this many bytes at a time, so that
// the saved unfiltered line (on the stack) stays in the first-level cache; wider lines are done
// in column blocks.
constexpr int kBlock = 16384;

// [U, Y0, V, Y1] -> [U, Y1, V, Y0] on a little-endian 32-bit load.
inline uint32_t SwapLumas(uint32_t v) {
    return (v & 0x00FF00FFu) | ((v & 0x0000FF00u) << 16) | ((v >> 16) & 0x0000FF00u);
}

// The line kernels' arithmetic, one byte at a time.
inline uint8_t Average(int a, int b) {
    return static_cast<uint8_t>((a + b) >> 1);
}
inline uint8_t Blend(int above, int line, int below) {
    return static_cast<uint8_t>((above + 2 * line + below) >> 2);
}

void AverageReference(uint8_t* __restrict dst, const uint8_t* __restrict a,
                      const uint8_t* __restrict b, int n) {
    for (int i = 0; i < n; ++i)
        dst[i] = Average(a[i], b[i]);
}
void BlendReference(uint8_t* __restrict dst, const uint8_t* __restrict above,
                    const uint8_t* __restrict below, int n) {
    for (int i = 0; i < n; ++i)
        dst[i] = Blend(above[i], dst[i], below[i]);
}
void BlendCarryReference(uint8_t* __restrict line, uint8_t* __restrict carry,
                         const uint8_t* __restrict below, int n) {
    for (int i = 0; i < n; ++i) {
        const uint8_t b = line[i];
        line[i] = Blend(carry[i], b, below[i]);
        carry[i] = b;
    }
}

#if VELMOR_X86
// The truncating byte averages from the processor's rounding one: (x + y) >> 1 is
// ~avg(~x, ~y), and (a + 2b + c) >> 2 is ((a + c) >> 1 + b) >> 1 (the dropped low bit of a + c
// never carries), so ~avg(~b, avg(~a, ~c)). The tails take the byte formulas.
inline __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store16(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline __m128i Not16(__m128i v) {
    return _mm_xor_si128(v, _mm_set1_epi32(-1));
}
inline __m128i Blend16(__m128i above, __m128i line, __m128i below) {
    return Not16(_mm_avg_epu8(Not16(line), _mm_avg_epu8(Not16(above), Not16(below))));
}

void AverageSse2(uint8_t* __restrict dst, const uint8_t* __restrict a, const uint8_t* __restrict b,
                 int n) {
    int i = 0;
    for (; i + 16 <= n; i += 16)
        Store16(dst + i, Not16(_mm_avg_epu8(Not16(Load16(a + i)), Not16(Load16(b + i)))));
    for (; i < n; ++i)
        dst[i] = Average(a[i], b[i]);
}
void BlendSse2(uint8_t* __restrict dst, const uint8_t* __restrict above,
               const uint8_t* __restrict below, int n) {
    int i = 0;
    for (; i + 16 <= n; i += 16)
        Store16(dst + i, Blend16(Load16(above + i), Load16(dst + i), Load16(below + i)));
    for (; i < n; ++i)
        dst[i] = Blend(above[i], dst[i], below[i]);
}
void BlendCarrySse2(uint8_t* __restrict line, uint8_t* __restrict carry,
                    const uint8_t* __restrict below, int n) {
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i b = Load16(line + i);
        Store16(line + i, Blend16(Load16(carry + i), b, Load16(below + i)));
        Store16(carry + i, b);
    }
    for (; i < n; ++i) {
        const uint8_t b = line[i];
        line[i] = Blend(carry[i], b, below[i]);
        carry[i] = b;
    }
}

VELMOR_AVX2 inline __m256i Load32B(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VELMOR_AVX2 inline void Store32B(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
VELMOR_AVX2 inline __m256i Not32B(__m256i v) {
    return _mm256_xor_si256(v, _mm256_set1_epi32(-1));
}
VELMOR_AVX2 inline __m256i Blend32B(__m256i above, __m256i line, __m256i below) {
    return Not32B(_mm256_avg_epu8(Not32B(line), _mm256_avg_epu8(Not32B(above), Not32B(below))));
}

VELMOR_AVX2 void AverageAvx2(uint8_t* __restrict dst, const uint8_t* __restrict a,
                             const uint8_t* __restrict b, int n) {
    int i = 0;
    for (; i + 32 <= n; i += 32)
        Store32B(dst + i, Not32B(_mm256_avg_epu8(Not32B(Load32B(a + i)), Not32B(Load32B(b + i)))));
    for (; i < n; ++i)
        dst[i] = Average(a[i], b[i]);
}
VELMOR_AVX2 void BlendAvx2(uint8_t* __restrict dst, const uint8_t* __restrict above,
                           const uint8_t* __restrict below, int n) {
    int i = 0;
    for (; i + 32 <= n; i += 32)
        Store32B(dst + i, Blend32B(Load32B(above + i), Load32B(dst + i), Load32B(below + i)));
    for (; i < n; ++i)
        dst[i] = Blend(above[i], dst[i], below[i]);
}
VELMOR_AVX2 void BlendCarryAvx2(uint8_t* __restrict line, uint8_t* __restrict carry,
                                const uint8_t* __restrict below, int n) {
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i b = Load32B(line + i);
        Store32B(line + i, Blend32B(Load32B(carry + i), b, Load32B(below + i)));
        Store32B(carry + i, b);
    }
    for (; i < n; ++i) {
        const uint8_t b = line[i];
        line[i] = Blend(carry[i], b, below[i]);
        carry[i] = b;
    }
}
constexpr DeinterlaceRows kDeinterlaceSse2 = {AverageSse2, BlendSse2, BlendCarrySse2};
constexpr DeinterlaceRows kDeinterlaceAvx2 = {AverageAvx2, BlendAvx2, BlendCarryAvx2};
#endif
constexpr DeinterlaceRows kDeinterlaceReference = {AverageReference, BlendReference,
                                                   BlendCarryReference};

// "Blend fields" on bytes [0, n) of lines [first, end) of a height-line frame; `carry` holds the
// unfiltered bytes of line first - 1 (when first > 0) and takes those of line end - 1.
void BlendFieldLines(uint8_t* data, int64_t stride, int n, int height, int first, int end,
                     uint8_t* carry, const DeinterlaceRows& rows) {
    if (height < 2) return;  // line 0 has no line below it to blend with
    auto line = [&](int k) { return data + k * stride; };
    if (first == 0 && end > 0) {
        std::memcpy(carry, line(0), static_cast<size_t>(n));
        rows.average(line(0), carry, line(1), n);
        first = 1;
    }
    for (int k = first; k < std::min(end, height - 1); ++k)
        rows.blendCarry(line(k), carry, line(k + 1), n);
}

}  // namespace

const DeinterlaceRows& DeinterlaceRowsFor(KernelLevel level) {
#if VELMOR_X86
    return *ByLevel(level, &kDeinterlaceReference, &kDeinterlaceSse2, &kDeinterlaceAvx2);
#else
    (void)level;
    return kDeinterlaceReference;
#endif
}

int DeinterlaceBand(int mode, int width, int height, int stride, uint8_t* data, int firstLine,
                    int endLine, uint8_t* carry, const DeinterlaceRows& rows) {
    if (mode <= 0 || width <= 0 || height <= 0 || stride <= 0 || !data) return 0;
    firstLine = std::max(firstLine, 0);
    endLine = std::min(endLine, height);
    auto line = [&](int k) { return data + static_cast<int64_t>(k) * stride; };
    const int half = height >> 1;
    switch (mode) {
        case 1:
            if (firstLine < endLine) {
                BlendFieldLines(data, stride, stride, height, firstLine, endLine, carry, rows);
            }
            break;
        case 2:
            // Odd lines from the even ones around them; the last odd one repeats the line above.
            if (height < 2) break;
            for (int k = firstLine | 1; k < endLine; k += 2) {
                if (k < 2 * half - 1) {
                    rows.average(line(k), line(k - 1), line(k + 1), stride);
                } else if (k == 2 * half - 1) {
                    std::memcpy(line(k), line(k - 1), static_cast<size_t>(stride));
                }
            }
            break;
        case 3:
            // Line 0 repeats line 1; the other even lines from the odd ones around them.
            if (height < 2) break;
            for (int k = (firstLine + 1) & ~1; k < endLine; k += 2) {
                if (k == 0) {
                    std::memcpy(line(0), line(1), static_cast<size_t>(stride));
                } else if (k <= 2 * half - 2) {
                    rows.average(line(k), line(k - 1), line(k + 1), stride);
                }
            }
            break;
        default:
            break;
    }
    return 1;
}

int Deinterlace(int mode, int width, int height, int stride, uint8_t* data,
                const DeinterlaceRows& rows) {
    if (mode != 1) {
        return DeinterlaceBand(mode, width, height, stride, data, 0, height, nullptr, rows);
    }
    if (width <= 0 || height <= 0 || stride <= 0 || !data) return 0;
    alignas(64) uint8_t carry[kBlock];
    for (int x0 = 0; x0 < stride; x0 += kBlock) {
        BlendFieldLines(data + x0, stride, std::min(kBlock, stride - x0), height, 0, height, carry,
                        rows);
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

// Row `src` of n units reversed into `out` (the two do not overlap); with kSwapLumas each unit also
// has its lumas exchanged, except a middle unit that stays in place (keepMiddle, odd n).
template <bool kSwapLumas>
inline void ReverseInto(uint8_t* __restrict out, const uint8_t* __restrict src, int n,
                        bool keepMiddle) {
    for (int k = 0; k < n; ++k) {
        const uint32_t v = Load32(src + (n - 1 - k) * 4);
        Store32(out + k * 4, kSwapLumas ? SwapLumas(v) : v);
    }
    if (kSwapLumas && keepMiddle && (n & 1)) std::memcpy(out + (n / 2) * 4, src + (n / 2) * 4, 4);
}

template <bool kSwapLumas, KernelLevel L>
void ReverseRowsInto(uint8_t* __restrict out, const uint8_t* __restrict src, int n,
                     bool keepMiddle) {
    ReverseInto<kSwapLumas>(out, src, n, keepMiddle);
}
#if VELMOR_X86
template <>
VELMOR_AVX2 void ReverseRowsInto<true, KernelLevel::Avx2>(uint8_t* __restrict out,
                                                          const uint8_t* __restrict src, int n,
                                                          bool keepMiddle) {
    ReverseInto<true>(out, src, n, keepMiddle);
}
template <>
VELMOR_AVX2 void ReverseRowsInto<false, KernelLevel::Avx2>(uint8_t* __restrict out,
                                                           const uint8_t* __restrict src, int n,
                                                           bool keepMiddle) {
    ReverseInto<false>(out, src, n, keepMiddle);
}
#endif

// Whether the in-place operation leaves a picture of `units` 4-byte units a row alone (the BGRA
// operations and the UYVY flip skip pictures of fewer than 16 units).
bool TooSmall(bool uyvy, int rotationMode, int units, int height) {
    const bool skips = !uyvy || rotationMode == 5;
    return skips && int64_t{units} * height < 16;
}

template <bool kUyvy>
void MirrorBand(int width, int height, uint8_t* data, int stride, int firstRow, int endRow) {
    const int units = kUyvy ? width / 2 : width;
    if (!Usable(width, height, data) || TooSmall(kUyvy, 4, units, height)) return;
    for (int r = std::max(firstRow, 0); r < std::min(endRow, height); ++r)
        ReverseRow<kUyvy>(data + int64_t{r} * stride, units);
}

// Modes 2 and 5 into `out`.
template <bool kUyvy, int kMode, KernelLevel L>
RowSpan MoveBand(int width, int height, const uint8_t* src, int stride, uint8_t* out, int outStride,
                 int firstRow, int endRow) {
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, height);
    if (width <= 0 || height <= 0 || !src || !out || firstRow >= endRow) return {0, 0};
    const int units = kUyvy ? width / 2 : width;
    const size_t rowBytes = static_cast<size_t>(units) * 4;
    auto srcRow = [&](int r) { return src + int64_t{r} * stride; };
    auto outRow = [&](int r) { return out + int64_t{r} * outStride; };
    if (TooSmall(kUyvy, kMode, units, height)) {
        for (int r = firstRow; r < endRow; ++r)
            std::memcpy(outRow(r), srcRow(r), rowBytes);
        return {firstRow, endRow};
    }
    for (int r = firstRow; r < endRow; ++r) {
        const int o = height - 1 - r;
        if (kMode == 5) {
            std::memcpy(outRow(o), srcRow(r), rowBytes);
        } else {
            // The middle row of an odd height is reversed by itself, its middle unit left as it is.
            ReverseRowsInto<kUyvy, L>(outRow(o), srcRow(r), units, o == r);
        }
    }
    return {height - endRow, height - firstRow};
}

template <KernelLevel L>
MoveBandFn MoveBandAt(bool uyvy, int rotationMode) {
    if (rotationMode == 2) return uyvy ? MoveBand<true, 2, L> : MoveBand<false, 2, L>;
    return uyvy ? MoveBand<true, 5, L> : MoveBand<false, 5, L>;
}

}  // namespace

MirrorBandFn MirrorBandFor(bool uyvy) {
    return uyvy ? MirrorBand<true> : MirrorBand<false>;
}

MoveBandFn MoveBandFor(bool uyvy, int width, int rotationMode, KernelLevel level) {
    if ((rotationMode != 2 && rotationMode != 5) || (uyvy && (width & 1))) return nullptr;
#if VELMOR_X86
    if (level >= KernelLevel::Avx2) return MoveBandAt<KernelLevel::Avx2>(uyvy, rotationMode);
#endif
    (void)level;
    return MoveBandAt<KernelLevel::Reference>(uyvy, rotationMode);
}

InPlaceFn InPlaceFor(bool uyvy, int rotationMode, KernelLevel level) {
    switch (rotationMode) {
        case 2:
#if VELMOR_X86
            if (level >= KernelLevel::Avx2)
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
