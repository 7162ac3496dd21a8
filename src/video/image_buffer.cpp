#include "video/image_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "video/target_clones.h"
#include "video/text_rasteriser.h"

namespace velmor {

namespace {

// Pictures never exceed this (the largest frame is 4096 x 2160, four bytes a pixel, with room).
constexpr int64_t kMaxPictureBytes = int64_t{1} << 30;

int BytesPerPixel(int32_t kind) {
    return kind == kPixelUYVY ? 2 : 4;
}

}  // namespace

bool ImageBuffer::Allocate(int64_t bytes) {
    if (bytes == allocated_ && (pixels_ || bytes == 0)) return true;
    pixels_.reset();
    allocated_ = 0;
    if (bytes <= 0) return bytes == 0;
    if (bytes > kMaxPictureBytes) return false;
    pixels_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
    if (!pixels_) return false;
    allocated_ = bytes;
    return true;
}

void ImageBuffer::Clear() {
    pixels_.reset();
    allocated_ = 0;
    width = height = byteSize = bitsPerPixel = 0;
}

bool ImageBuffer::Reshape(int32_t w, int32_t h, int32_t kind) {
    const int64_t bytes = int64_t{w} * h * BytesPerPixel(kind);
    if (w < 0 || h < 0 || !Allocate(bytes)) {
        Clear();
        return false;
    }
    width = w;
    height = h;
    byteSize = static_cast<int32_t>(bytes);
    bitsPerPixel = BytesPerPixel(kind) * 8;
    pixelKind = kind;
    return true;
}

bool ImageBuffer::CopyRGBAdataFrom(const ImageBuffer& source) {
    if (source.pixelKind != kPixelBGRA || &source == this) return source.pixelKind == kPixelBGRA;
    if (source.byteSize != byteSize || !pixels_) {
        if (!Allocate(source.byteSize)) {
            Clear();
            return false;
        }
        byteSize = source.byteSize;
    }
    width = source.width;
    height = source.height;
    bitsPerPixel = source.bitsPerPixel;
    if (byteSize > 0 && source.pixels()) std::memcpy(pixels_.get(), source.pixels(), byteSize);
    pixelKind = kPixelBGRA;
    return true;
}

void ImageBuffer::ConvertToUYVA() {
    uint8_t* p = pixels_.get();
    const int64_t count = int64_t{width} * height;
    if (p && byteSize >= count * 4) {
        for (int64_t i = 0; i < count; ++i, p += 4) {
            const double b = p[0], g = p[1], r = p[2];
            const double u = b * 0.439 - (r * 0.148 + g * 0.291) + 128;
            const double y = r * 0.257 + g * 0.504 + b * 0.098 + 16;
            const double v = r * 0.439 - g * 0.368 - b * 0.071 + 128;
            p[0] = static_cast<uint8_t>(static_cast<int>(u));
            p[1] = static_cast<uint8_t>(static_cast<int>(y));
            p[2] = static_cast<uint8_t>(static_cast<int>(v));
        }
    }
    pixelKind = kPixelUYVA;
}

void ImageBuffer::MakeSolid() {
    uint8_t* p = pixels_.get();
    const int64_t count = int64_t{width} * height;
    if (!p || byteSize == 0 || byteSize < count * 4) return;
    for (int64_t i = 0; i < count; ++i)
        p[i * 4 + 3] = 255;
}

bool ImageBuffer::FillColour(int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    width = height = byteSize = bitsPerPixel = 0;
    const int64_t bytes = int64_t{w} * h * 4;
    if (w < 0 || h < 0 || !Allocate(bytes)) {
        Clear();
        return false;
    }
    width = w;
    height = h;
    bitsPerPixel = 32;
    pixelKind = kPixelBGRA;
    fillColour[0] = b;
    fillColour[1] = g;
    fillColour[2] = r;
    fillColour[3] = a;
    uint8_t* p = pixels_.get();
    for (int64_t i = 0; i < int64_t{w} * h; ++i)
        std::memcpy(p + i * 4, fillColour, 4);
    byteSize = static_cast<int32_t>(bytes);
    return true;
}

namespace {

#if defined(__SSE2__)
// x / 255 in every 16-bit lane, exact for x <= 65534.
inline __m128i Div255x8(__m128i x) {
    const __m128i one = _mm_set1_epi16(1);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
}

// Two BGRA pixels widened to 16-bit lanes; the same integer formula as the scalar loop.
inline __m128i Blend2(__m128i s, __m128i d) {
    const __m128i c255 = _mm_set1_epi16(255);
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF);
    const __m128i na = _mm_sub_epi16(c255, a);
    const __m128i colour = Div255x8(_mm_add_epi16(_mm_mullo_epi16(s, a), _mm_mullo_epi16(d, na)));
    const __m128i alpha =
        _mm_sub_epi16(c255, Div255x8(_mm_mullo_epi16(_mm_sub_epi16(c255, d), na)));
    return _mm_or_si128(_mm_andnot_si128(alphaLanes, colour), _mm_and_si128(alphaLanes, alpha));
}
#endif

#if defined(__x86_64__)
// x / 255 in every 16-bit lane, exact for any 16-bit x: (x * 0x8081) >> 23.
__attribute__((target("avx2"))) inline __m256i Div255x16(__m256i x) {
    return _mm256_srli_epi16(_mm256_mulhi_epu16(x, _mm256_set1_epi16(static_cast<short>(0x8081))),
                             7);
}

// Eight BGRA pixels at a time; returns how many pixels it blended.
__attribute__((target("avx2"))) int BlendRowBGRAAvx2(uint8_t* __restrict d,
                                                     const uint8_t* __restrict s, int n) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i alphaLanes = _mm256_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0);
    // Each pixel's alpha byte into all four of its 16-bit lanes (zero high bytes).
    const __m256i spreadLo =
        _mm256_setr_epi8(3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1, 3, -1, 3, -1, 3,
                         -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    const __m256i spreadHi = _mm256_add_epi8(spreadLo, _mm256_set1_epi16(8));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i * 4));
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i * 4));
        __m256i half[2];
        for (int h = 0; h < 2; ++h) {
            const __m256i sw = h ? _mm256_unpackhi_epi8(sv, zero) : _mm256_unpacklo_epi8(sv, zero);
            const __m256i dw = h ? _mm256_unpackhi_epi8(dv, zero) : _mm256_unpacklo_epi8(dv, zero);
            const __m256i a = _mm256_shuffle_epi8(sv, h ? spreadHi : spreadLo);
            const __m256i na = _mm256_sub_epi16(c255, a);
            const __m256i colour =
                Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(sw, a), _mm256_mullo_epi16(dw, na)));
            const __m256i alpha = _mm256_sub_epi16(
                c255, Div255x16(_mm256_mullo_epi16(_mm256_sub_epi16(c255, dw), na)));
            half[h] = _mm256_blendv_epi8(colour, alpha, alphaLanes);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i * 4),
                            _mm256_packus_epi16(half[0], half[1]));
    }
    return i;
}

// Eight macropixels (sixteen picture pixels) at a time; returns how many macropixels it blended.
// Destination byte pairs [U, Y0] and [V, Y1] belong to picture pixels 2m and 2m+1, so each
// picture pixel gives one 16-bit destination word. Two shuffles line up, per pixel, [U or V, A,
// Y, A] with the same of its macropixel partner; their rounded-down mean is [S even, A even,
// S odd, A odd] (chroma and the mean alpha, then its own luma and alpha) of the scalar formula.
__attribute__((target("avx2"))) int BlendPairsUYVYAvx2(uint8_t* __restrict d,
                                                       const uint8_t* __restrict s, int pairs) {
    const __m256i own = _mm256_setr_epi8(0, 3, 1, 3, 6, 7, 5, 7, 8, 11, 9, 11, 14, 15, 13, 15, 0, 3,
                                         1, 3, 6, 7, 5, 7, 8, 11, 9, 11, 14, 15, 13, 15);
    const __m256i partner = _mm256_setr_epi8(4, 7, 1, 3, 2, 3, 5, 7, 12, 15, 9, 11, 10, 11, 13, 15,
                                             4, 7, 1, 3, 2, 3, 5, 7, 12, 15, 9, 11, 10, 11, 13, 15);
    const __m256i ones = _mm256_set1_epi8(-1);
    const __m256i low = _mm256_set1_epi16(0xFF);
    const __m256i c255 = _mm256_set1_epi16(255);
    int k = 0;
    for (; k + 8 <= pairs; k += 8) {
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + k * 4));
        __m256i out[2];
        for (int h = 0; h < 2; ++h) {
            // Picture pixels 8h .. 8h + 7, four per lane, like the destination words widened.
            const __m256i sv =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + (k + 4 * h) * 8));
            // The rounded-up mean of the complements is the complement of the rounded-down mean.
            const __m256i inv = _mm256_xor_si256(sv, ones);
            const __m256i invMean =
                _mm256_avg_epu8(_mm256_shuffle_epi8(inv, own), _mm256_shuffle_epi8(inv, partner));
            const __m256i S = _mm256_andnot_si256(invMean, low);
            const __m256i invA = _mm256_srli_epi16(invMean, 8);  // 255 - A
            const __m256i D = _mm256_cvtepu8_epi16(h ? _mm256_extracti128_si256(dv, 1)
                                                     : _mm256_castsi256_si128(dv));
            out[h] = Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(S, _mm256_sub_epi16(c255, invA)),
                                                _mm256_mullo_epi16(D, invA)));
        }
        // Lanes hold macropixels [k, k+1 | k+4, k+5] and [k+2, k+3 | k+6, k+7]: put them in order.
        const __m256i packed = _mm256_packus_epi16(out[0], out[1]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + k * 4),
                            _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    return k;
}
#endif

void BlendRowBGRA(uint8_t* __restrict d, const uint8_t* __restrict s, int n, bool avx2) {
    int i = 0;
#if defined(__x86_64__)
    if (avx2) i = BlendRowBGRAAvx2(d, s, n);
#else
    (void)avx2;
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i * 4));
        const __m128i lo = Blend2(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero));
        const __m128i hi = Blend2(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4), _mm_packus_epi16(lo, hi));
    }
#endif
    for (i *= 4; i < n * 4; i += 4) {
        const uint32_t a = s[i + 3];
        const uint32_t na = 255 - a;
        d[i + 0] = static_cast<uint8_t>(Div255(s[i + 0] * a + d[i + 0] * na));
        d[i + 1] = static_cast<uint8_t>(Div255(s[i + 1] * a + d[i + 1] * na));
        d[i + 2] = static_cast<uint8_t>(Div255(s[i + 2] * a + d[i + 2] * na));
        d[i + 3] = static_cast<uint8_t>(255 - Div255((255 - d[i + 3]) * na));
    }
}

// Copies `n` UYVA pixels onto a UYVY row starting at an even destination pixel.
void CopyRowUYVY(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
    const int pairs = n / 2;
    for (int k = 0; k < pairs; ++k) {
        const uint8_t* f = s + k * 8;
        uint8_t* m = d + k * 4;
        m[0] = static_cast<uint8_t>((f[0] + f[4]) >> 1);
        m[1] = f[1];
        m[2] = static_cast<uint8_t>((f[2] + f[6]) >> 1);
        m[3] = f[5];
    }
    if (n & 1) {
        const uint8_t* f = s + pairs * 8;
        uint8_t* m = d + pairs * 4;
        m[1] = f[1];
        m[0] = static_cast<uint8_t>((m[0] + f[0]) >> 1);
        m[2] = static_cast<uint8_t>((m[2] + f[2]) >> 1);
    }
}

#if defined(__SSE2__)
// One macropixel's source values and weights from two UYVA pixels (16-bit lanes 0..3 of `px`
// and 4..7): S = [mean U, Y first, mean V, Y second], A = [mean alpha, alpha first, mean alpha,
// alpha second], in lanes 0..3 of the results.
inline void PairToMacropixel(__m128i px, __m128i& S, __m128i& A) {
    const __m128i even = _mm_set_epi16(0, -1, 0, -1, 0, -1, 0, -1);
    const __m128i mean = _mm_srli_epi16(_mm_add_epi16(px, _mm_shuffle_epi32(px, 0x4E)), 1);
    const __m128i lumas = _mm_shuffle_epi32(px, _MM_SHUFFLE(3, 3, 2, 0));   // [U0 Y0 U1 Y1]
    const __m128i alphas = _mm_shuffle_epi32(px, _MM_SHUFFLE(3, 3, 3, 1));  // [V0 A0 V1 A1]
    S = _mm_or_si128(_mm_and_si128(even, mean), _mm_andnot_si128(even, lumas));
    A = _mm_or_si128(_mm_and_si128(even, _mm_shufflelo_epi16(mean, _MM_SHUFFLE(3, 3, 3, 3))),
                     _mm_andnot_si128(even, alphas));
}
#endif

void BlendRowUYVY(uint8_t* __restrict d, const uint8_t* __restrict s, int n, bool avx2) {
    int k = 0;
#if defined(__x86_64__)
    if (avx2) k = BlendPairsUYVYAvx2(d, s, n / 2);
#else
    (void)avx2;
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i c255 = _mm_set1_epi16(255);
    for (; k + 2 <= n / 2; k += 2) {  // four picture pixels onto two macropixels
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k * 8));
        __m128i s0, a0, s1, a1;
        PairToMacropixel(_mm_unpacklo_epi8(sv, zero), s0, a0);
        PairToMacropixel(_mm_unpackhi_epi8(sv, zero), s1, a1);
        const __m128i S = _mm_unpacklo_epi64(s0, s1);
        const __m128i A = _mm_unpacklo_epi64(a0, a1);
        const __m128i D =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(d + k * 4)), zero);
        const __m128i out = Div255x8(
            _mm_add_epi16(_mm_mullo_epi16(S, A), _mm_mullo_epi16(D, _mm_sub_epi16(c255, A))));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + k * 4), _mm_packus_epi16(out, out));
    }
#endif

    const int pairs = n / 2;
    for (; k < pairs; ++k) {
        const uint8_t* f = s + k * 8;
        uint8_t* m = d + k * 4;
        const uint32_t a1 = f[3], a2 = f[7];
        const uint32_t mid = (a1 + a2) >> 1;
        m[1] = static_cast<uint8_t>(Div255(f[1] * a1 + m[1] * (255 - a1)));
        m[0] = static_cast<uint8_t>(
            Div255(((static_cast<uint32_t>(f[0]) + f[4]) >> 1) * mid + m[0] * (255 - mid)));
        m[2] = static_cast<uint8_t>(
            Div255(((static_cast<uint32_t>(f[2]) + f[6]) >> 1) * mid + m[2] * (255 - mid)));
        m[3] = static_cast<uint8_t>(Div255(f[5] * a2 + m[3] * (255 - a2)));
    }
    if (n & 1) {
        const uint8_t* f = s + pairs * 8;
        uint8_t* m = d + pairs * 4;
        const uint32_t a = f[3];
        m[1] = static_cast<uint8_t>(Div255(f[1] * a + m[1] * (255 - a)));
        m[0] = static_cast<uint8_t>(Div255(f[0] * a + m[0] * (255 - a)));
        m[2] = static_cast<uint8_t>(Div255(f[2] * a + m[2] * (255 - a)));
    }
}

}  // namespace

void ImageBuffer::DrawOnto(int x, int y, int anchor, int mode, uint8_t* dst, int dstKind, int W,
                           int H, int dstStride) const {
    if (byteSize == 0 || bitsPerPixel != 32 || !pixels_ || !dst || W <= 0 || H <= 0) return;
    const bool bgra = dstKind == kPixelBGRA && pixelKind == kPixelBGRA;
    const bool uyvy = dstKind == kPixelUYVY && pixelKind == kPixelUYVA;
    if (!bgra && !uyvy) return;
    const int w = width, h = height;
    if (int64_t{w} * h * 4 > byteSize) return;

    switch (anchor) {
        case 1:
            x = (W - w) / 2;
            break;
        case 2:
            y = (H - h) / 2;
            break;
        case 3:
            x = (W - w) / 2;
            y = (H - h) / 2;
            break;
        case 4:
            x -= w / 2;
            y -= h / 2;
            break;
        case 5:
            x = (W - w) / 2;
            y = H - h - y;
            break;
        case 7:
            x = W - w - x;
            break;
        case 8:
            y = (7 * H) / 8 - h - y;
            break;
        case 9:
            x = W - w - x;
            y = (7 * H) / 8 - h - y;
            break;
        case 10:
            y = H - h - y;
            break;
        case 11:
            x = W - w - x;
            y = H - h - y;
            break;
        default:
            break;
    }

    int srcCol, dstCol, cols;
    if (x >= 0) {
        srcCol = 0, dstCol = x, cols = std::min(w, W - x);
    } else {
        srcCol = -x, dstCol = 0, cols = std::min(W, x + w);
    }
    int srcRow, dstRow, rows;
    if (y >= 0) {
        srcRow = 0, dstRow = y, rows = std::min(h, H - y);
    } else {
        srcRow = -y, dstRow = 0, rows = std::min(H, y + h);
    }
    if (cols <= 0 || rows <= 0) return;

    const bool avx2 = mode != kDrawCopy && UseAvx2Kernels();
    const uint8_t* src = pixels_.get() + (int64_t{srcRow} * w + srcCol) * 4;
    if (bgra) {
        const int64_t stride = dstStride > 0 ? dstStride : int64_t{W} * 4;
        uint8_t* d = dst + dstRow * stride + int64_t{dstCol} * 4;
        for (int r = 0; r < rows; ++r, d += stride, src += int64_t{w} * 4) {
            if (mode == kDrawCopy) {
                std::memcpy(d, src, static_cast<size_t>(cols) * 4);
            } else {
                BlendRowBGRA(d, src, cols, avx2);
            }
        }
    } else {
        const int64_t stride = dstStride > 0 ? dstStride : int64_t{W} * 2;
        const int firstPixel = dstCol & ~1;
        cols = std::min(cols, (W & ~1) - firstPixel);  // an odd last pixel has no macropixel
        if (cols <= 0) return;
        uint8_t* d = dst + dstRow * stride + int64_t{firstPixel} * 2;
        for (int r = 0; r < rows; ++r, d += stride, src += int64_t{w} * 4) {
            if (mode == kDrawCopy) {
                CopyRowUYVY(d, src, cols);
            } else {
                BlendRowUYVY(d, src, cols, avx2);
            }
        }
    }
}

void ImageBuffer::ApplyTextAlpha(int alpha) {
    uint8_t* p = pixels_.get();
    const int64_t count = int64_t{width} * height;
    if (!p || byteSize < count * 4) return;
    if (alpha > 0 && alpha < 128) {
        MakeSolid();
        return;
    }
    for (int64_t i = 0; i < count; ++i, p += 4) {
        const bool background = (p[0] | p[1] | p[2] | p[3]) == 0;
        p[3] = background ? static_cast<uint8_t>(alpha) : 255;
    }
}

bool ImageBuffer::RenderText(std::string_view utf8, int alpha, ITextRasteriser& rasteriser) {
    if (!pixels_ || width <= 0 || height <= 0 || byteSize < int64_t{width} * height * 4) {
        return false;
    }
    if (!rasteriser.RasteriseLine(utf8, width, height, height * 7 / 10, pixels_.get())) {
        return false;
    }
    pixelKind = kPixelBGRA;
    ApplyTextAlpha(alpha);
    return true;
}

}  // namespace velmor
