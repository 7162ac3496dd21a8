#include "video/preview_render.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ndi/ndi_types.h"
#include "video/simd.h"

namespace velmor {

namespace {

constexpr float kRatio16by9 = 16.0f / 9.0f;
constexpr float kRatio9by16 = 9.0f / 16.0f;
constexpr int kWaveRows = 270;
constexpr int kMaxSide = 8192;

inline uint8_t Clamp255(double v) {
    return static_cast<uint8_t>(v < 0.0 ? 0 : v > 255.0 ? 255 : static_cast<int>(v));
}

// The conversion, exactly as defined in double precision, made cheap: B and R depend on two bytes
// each and come from 64K tables built with the double formula. G depends on three bytes; it is
// computed in integers (thousandths) and only results that land exactly on a whole number, where
// the double's rounding decides, are computed in double.
struct YuvTables {
    uint8_t b[2][65536];  // [sampling][U << 8 | Y]; 0 halved, 1 full
    uint8_t r[65536];     // [V << 8 | Y]
    int32_t gy[256], gu[256], gv[2][256];
    YuvTables() {
        static constexpr double kB[2] = {2.115, 2.112};
        for (int c = 0; c < 256; ++c) {
            for (int y = 0; y < 256; ++y) {
                const double yy = (y - 16) * 1.164;
                for (int k = 0; k < 2; ++k)
                    b[k][c << 8 | y] = Clamp255((c - 128) * kB[k] + yy);
                r[c << 8 | y] = Clamp255((c - 128) * 1.793 + yy);
            }
            gy[c] = 1164 * (c - 16);
            gu[c] = 213 * (c - 128);
            gv[0][c] = 534 * (c - 128);
            gv[1][c] = 533 * (c - 128);
        }
    }
};

const YuvTables& Tables() {
    static const YuvTables* tables = new YuvTables();  // built once, kept for the process
    return *tables;
}

inline uint8_t Green(const YuvTables& t, int k, uint8_t u, uint8_t y, uint8_t v) {
    const int32_t n = t.gy[y] - t.gv[k][v] - t.gu[u];
    if (n < 1000) return 0;
    if (n >= 256000) return 255;
    const int32_t q = n / 1000;
    if (q * 1000 != n) return static_cast<uint8_t>(q);
    static constexpr double kG[2] = {0.534, 0.533};
    return Clamp255((y - 16) * 1.164 - (v - 128) * kG[k] - (u - 128) * 0.213);
}

inline void ToBGR(const YuvTables& t, int k, uint8_t u, uint8_t y, uint8_t v, uint8_t* out) {
    out[0] = t.b[k][u << 8 | y];
    out[1] = Green(t, k, u, y, v);
    out[2] = t.r[v << 8 | y];
}

#if VELMOR_X86
// Four conversions at once in float lanes. Every product and sum is a whole number below 2^24,
// so the thousandths N are exact; N * 0.001 truncated is the exact quotient except where N is a
// whole multiple of 1000, which the returned lane mask reports for the exact scalar path.
struct Quads {
    alignas(16) uint8_t bgr[16];  // B0..B3, G0..G3, R0..R3
};

inline int Convert4(__m128i U, __m128i Y, __m128i V, float bCoef, float gCoef, Quads& out) {
    const __m128 u = _mm_cvtepi32_ps(_mm_sub_epi32(U, _mm_set1_epi32(128)));
    const __m128 v = _mm_cvtepi32_ps(_mm_sub_epi32(V, _mm_set1_epi32(128)));
    const __m128 y =
        _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(Y, _mm_set1_epi32(16))), _mm_set1_ps(1164.0f));
    const __m128 nb = _mm_add_ps(_mm_mul_ps(u, _mm_set1_ps(bCoef)), y);
    const __m128 ng = _mm_sub_ps(_mm_sub_ps(y, _mm_mul_ps(v, _mm_set1_ps(gCoef))),
                                 _mm_mul_ps(u, _mm_set1_ps(213.0f)));
    const __m128 nr = _mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(1793.0f)), y);
    const __m128 milli = _mm_set1_ps(0.001f);
    const __m128 lo = _mm_set1_ps(1000.0f), hi = _mm_set1_ps(256000.0f);
    int hit = 0;
    __m128i q[3];
    const __m128 ns[3] = {nb, ng, nr};
    for (int c = 0; c < 3; ++c) {
        const __m128 scaled = _mm_mul_ps(ns[c], milli);
        q[c] = _mm_cvttps_epi32(scaled);
        const __m128 whole = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvtps_epi32(scaled)), lo);
        const __m128 tie = _mm_and_ps(_mm_cmpeq_ps(whole, ns[c]),
                                      _mm_and_ps(_mm_cmpge_ps(ns[c], lo), _mm_cmplt_ps(ns[c], hi)));
        hit |= _mm_movemask_ps(tie);
    }
    const __m128i bg = _mm_packs_epi32(q[0], q[1]);
    const __m128i r = _mm_packs_epi32(q[2], _mm_setzero_si128());
    _mm_store_si128(reinterpret_cast<__m128i*>(out.bgr), _mm_packus_epi16(bg, r));
    return hit;
}
#endif

#if VELMOR_X86
// The double formula itself (halved sampling), for the AVX2 kernel's rare whole-number quotients.
// Kept out of line, compiled for the baseline processor: built for FMA the compiler may fuse its
// multiplies and adds, which changes the rounding (101.99999 becomes 102).
__attribute__((noinline)) void ToBGRExact(int u, int y, int v, uint8_t* out) {
    const double yy = (y - 16) * 1.164;
    out[0] = Clamp255((u - 128) * 2.115 + yy);
    out[1] = Clamp255((y - 16) * 1.164 - (v - 128) * 0.534 - (u - 128) * 0.213);
    out[2] = Clamp255((v - 128) * 1.793 + yy);
}

// Two 16-bit multipliers in one 32-bit lane, the low one for the low half.
constexpr int CoefPair(int low, int high) {
    return static_cast<int>(static_cast<uint32_t>(high) << 16 |
                            (static_cast<uint32_t>(low) & 0xFFFF));
}

// The halved UYVY conversion eight pixels at a time, for processors with AVX2 (chosen at run
// time), in integers only. Per pixel, two multiply-adds of 16-bit pairs give the thousandths N of
// each channel exactly. N / 1000 = (N >> 3) / 125, and N >> 3 fits 16 bits: the quotient is
// ((N >> 3) * 33555) >> 22 (exact for every value up to 32767; checked exhaustively when the
// constant was chosen), below 1 taken as 1 so that negative N give 0 and no false whole
// numbers; saturating packs clamp to 0..255. A whole-number N / 1000, where the double
// formula's rounding decides, takes the exact scalar path. Returns how many pixels of the row it
// converted; it stops two pixels short of the row's end because each store runs four bytes past
// the pixels it fills (the next store or the row's tail overwrites them).
VELMOR_AVX2 int HalvedRowAvx2(const uint8_t* src, int n, uint8_t* out) {
    // [U, Y0, V, Y1] -> 16-bit pairs (U, Y0) and (V, Y0) per pixel.
    const __m256i pickUY =
        _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1, 0, -1, 1, -1, 4,
                         -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
    const __m256i pickVY = _mm256_add_epi8(pickUY, _mm256_set1_epi32(2));  // -1 + 0 stays -1
    const __m256i kB = _mm256_set1_epi32(CoefPair(2115, 1164));
    const __m256i kR = _mm256_set1_epi32(CoefPair(1793, 1164));
    const __m256i kGvy = _mm256_set1_epi32(CoefPair(-534, 1164));
    const __m256i kGu = _mm256_set1_epi32(CoefPair(-213, 0));
    // The offsets: 1164 (Y - 16) + 2115 (U - 128) and so on.
    const __m256i cB = _mm256_set1_epi32(-1164 * 16 - 2115 * 128);
    const __m256i cG = _mm256_set1_epi32(-1164 * 16 + 534 * 128 + 213 * 128);
    const __m256i cR = _mm256_set1_epi32(-1164 * 16 - 1793 * 128);
    const __m256i seven = _mm256_set1_epi32(7);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i magic = _mm256_set1_epi16(static_cast<short>(33555));
    const __m256i k125 = _mm256_set1_epi16(125);
    // Per 128-bit half: [B0..B3 G0..G3 R0..R3 0 0 0 0] -> B, G, R per pixel, then 4 spare bytes.
    const __m256i interleave =
        _mm256_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1, 0, 4, 8, 1, 5, 9, 2,
                         6, 10, 3, 7, 11, -1, -1, -1, -1);
    int hitGroups[kMaxSide / 16], hitMasks[kMaxSide / 16];  // a halved row has at most 4096 pixels
    int hits = 0;
    int x = 0;
    for (; x + 10 <= n; x += 8) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x * 4));
        const __m256i uy = _mm256_shuffle_epi8(w, pickUY);
        const __m256i vy = _mm256_shuffle_epi8(w, pickVY);
        const __m256i nB = _mm256_add_epi32(_mm256_madd_epi16(uy, kB), cB);
        const __m256i nG = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(vy, kGvy), _mm256_madd_epi16(uy, kGu)), cG);
        const __m256i nR = _mm256_add_epi32(_mm256_madd_epi16(vy, kR), cR);
        // 16-bit lanes per half: [B0..B3 G0..G3] and [R0..R3 0 0 0 0].
        const __m256i eighthsBG =
            _mm256_packs_epi32(_mm256_srai_epi32(nB, 3), _mm256_srai_epi32(nG, 3));
        const __m256i eighthsR = _mm256_packs_epi32(_mm256_srai_epi32(nR, 3), zero);
        const __m256i wholeBG =
            _mm256_packs_epi32(_mm256_cmpeq_epi32(_mm256_and_si256(nB, seven), zero),
                               _mm256_cmpeq_epi32(_mm256_and_si256(nG, seven), zero));
        const __m256i wholeR =
            _mm256_packs_epi32(_mm256_cmpeq_epi32(_mm256_and_si256(nR, seven), zero), zero);
        __m256i q[2], tie[2];
        const __m256i eighths[2] = {eighthsBG, eighthsR};
        for (int c = 0; c < 2; ++c) {
            const __m256i e = _mm256_max_epi16(eighths[c], one);
            q[c] = _mm256_srli_epi16(_mm256_mulhi_epu16(e, magic), 6);
            tie[c] = _mm256_cmpeq_epi16(_mm256_mullo_epi16(q[c], k125), e);
        }
        const int hit = _mm256_movemask_epi8(
            _mm256_or_si256(_mm256_and_si256(tie[0], wholeBG), _mm256_and_si256(tie[1], wholeR)));
        const __m256i bgr = _mm256_shuffle_epi8(_mm256_packus_epi16(q[0], q[1]), interleave);
        uint8_t* o = out + x * 3;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(bgr));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm256_extracti128_si256(bgr, 1));
        // Recorded, not handled here: a call inside this loop costs far more than its rare use.
        hitGroups[hits] = x;
        hitMasks[hits] = hit;
        hits += hit != 0;
    }
    // The exact path is plain SSE2 code: leave the AVX state clean before calling it (with the
    // upper halves dirty each call cost about 0.3 us here, half a row of the vector loop).
    _mm256_zeroupper();
    for (int h = 0; h < hits; ++h) {
        // Pixel k (half k / 4, j = k % 4) owns 16-bit lanes j (B or R) and j + 4 (G).
        for (int k = 0; k < 8; ++k) {
            const int bit = (k >> 2) * 16 + (k & 3) * 2;
            if ((hitMasks[h] >> bit & 1) || (hitMasks[h] >> (bit + 8) & 1)) {
                const uint8_t* p = src + (hitGroups[h] + k) * 4;
                ToBGRExact(p[0], p[1], p[2], out + (hitGroups[h] + k) * 3);
            }
        }
    }
    return x;
}

#endif

// One bitmap row from one UYVY row: `n` output pixels from the macropixels of `src`, halved (every
// macropixel gives one pixel) or full (two). Each level runs its widest loop first.
template <KernelLevel L>
void HalvedRow(const uint8_t* src, int n, uint8_t* out) {
    const YuvTables& tables = Tables();
    int x = 0;
#if VELMOR_X86
    if constexpr (L == KernelLevel::Avx2) x = HalvedRowAvx2(src, n, out);
    if constexpr (L != KernelLevel::Reference) {
        const __m128i byte = _mm_set1_epi32(0xFF);
        for (; x + 4 <= n; x += 4) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4));
            Quads q;
            const int hit =
                Convert4(_mm_and_si128(w, byte), _mm_and_si128(_mm_srli_epi32(w, 8), byte),
                         _mm_and_si128(_mm_srli_epi32(w, 16), byte), 2115.0f, 534.0f, q);
            uint8_t* o = out + x * 3;
            for (int k = 0; k < 4; ++k) {
                o[k * 3 + 0] = q.bgr[k];
                o[k * 3 + 1] = q.bgr[4 + k];
                o[k * 3 + 2] = q.bgr[8 + k];
            }
            for (int k = 0; hit && k < 4; ++k) {
                const uint8_t* p = src + (x + k) * 4;
                if (hit >> k & 1) ToBGR(tables, 0, p[0], p[1], p[2], o + k * 3);
            }
        }
    }
#endif
    for (; x < n; ++x) {
        const uint8_t* p = src + x * 4;
        ToBGR(tables, 0, p[0], p[1], p[2], out + x * 3);
    }
}

template <KernelLevel L>
void FullRow(const uint8_t* src, int n, uint8_t* out) {
    const YuvTables& tables = Tables();
    int x = 0;
#if VELMOR_X86
    if constexpr (L != KernelLevel::Reference) {
        const __m128i byte = _mm_set1_epi32(0xFF);
        for (; x + 4 <= n / 2; x += 4) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4));
            const __m128i U = _mm_and_si128(w, byte);
            const __m128i V = _mm_and_si128(_mm_srli_epi32(w, 16), byte);
            Quads q0, q1;
            const int hit0 =
                Convert4(U, _mm_and_si128(_mm_srli_epi32(w, 8), byte), V, 2112.0f, 533.0f, q0);
            const int hit1 = Convert4(U, _mm_srli_epi32(w, 24), V, 2112.0f, 533.0f, q1);
            uint8_t* o = out + x * 6;
            for (int k = 0; k < 4; ++k) {
                o[k * 6 + 0] = q0.bgr[k];
                o[k * 6 + 1] = q0.bgr[4 + k];
                o[k * 6 + 2] = q0.bgr[8 + k];
                o[k * 6 + 3] = q1.bgr[k];
                o[k * 6 + 4] = q1.bgr[4 + k];
                o[k * 6 + 5] = q1.bgr[8 + k];
            }
            for (int k = 0; (hit0 | hit1) && k < 4; ++k) {
                const uint8_t* p = src + (x + k) * 4;
                if (hit0 >> k & 1) ToBGR(tables, 1, p[0], p[1], p[2], o + k * 6);
                if (hit1 >> k & 1) ToBGR(tables, 1, p[0], p[3], p[2], o + k * 6 + 3);
            }
        }
    }
#endif
    for (; x < n / 2; ++x) {
        const uint8_t* p = src + x * 4;
        ToBGR(tables, 1, p[0], p[1], p[2], out + x * 6);
        ToBGR(tables, 1, p[0], p[3], p[2], out + x * 6 + 3);
    }
}

template <KernelLevel L>
constexpr PreviewRows kPreviewRows = {HalvedRow<L>, FullRow<L>};

bool EnsureCapacity(PreviewBitmap& b, size_t bytes) {
    if (b.capacity >= bytes) return true;
    b.pixels.reset(new (std::nothrow) uint8_t[bytes]);
    b.capacity = b.pixels ? bytes : 0;
    return b.pixels != nullptr;
}

bool IsFourByte(uint32_t f) {
    return f == NDIlib_FourCC_video_type_BGRA || f == NDIlib_FourCC_video_type_BGRX ||
           f == NDIlib_FourCC_video_type_RGBA || f == NDIlib_FourCC_video_type_RGBX;
}

inline void OpaqueLoop(const uint8_t* __restrict src, int bitsPerPixel, uint32_t* __restrict dst,
                       size_t pixels) {
    if (bitsPerPixel == 24) {
        for (size_t i = 0; i < pixels; ++i) {
            dst[i] = 0xff000000u | uint32_t{src[3 * i + 2]} << 16 | uint32_t{src[3 * i + 1]} << 8 |
                     src[3 * i];
        }
    } else {
        for (size_t i = 0; i < pixels; ++i) {
            dst[i] = 0xff000000u | uint32_t{src[4 * i + 2]} << 16 | uint32_t{src[4 * i + 1]} << 8 |
                     src[4 * i];
        }
    }
}

void OpaqueReference(const uint8_t* __restrict src, int bitsPerPixel, uint32_t* __restrict dst,
                     size_t pixels) {
    OpaqueLoop(src, bitsPerPixel, dst, pixels);
}

#if VELMOR_X86
VELMOR_AVX2 void OpaqueAvx2(const uint8_t* __restrict src, int bitsPerPixel,
                            uint32_t* __restrict dst, size_t pixels) {
    OpaqueLoop(src, bitsPerPixel, dst, pixels);
}
#endif

}  // namespace

OpaqueRgb32Fn OpaqueRgb32For(KernelLevel level) {
#if VELMOR_X86
    if (level >= KernelLevel::Avx2) return OpaqueAvx2;
#endif
    (void)level;
    return OpaqueReference;
}

const PreviewRows& PreviewRowsFor(KernelLevel level) {
    return *ByLevel(level, &kPreviewRows<KernelLevel::Reference>, &kPreviewRows<KernelLevel::Sse2>,
                    &kPreviewRows<KernelLevel::Avx2>);
}

int PreviewRenderer::Render(const uint8_t* data, int width, int height, int stride, uint32_t fourCC,
                            float aspect) {
    const bool yuv =
        fourCC == NDIlib_FourCC_video_type_UYVY || fourCC == NDIlib_FourCC_video_type_UYVA;
    if (!data || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return 0;
    if (!yuv && !IsFourByte(fourCC)) return 0;
    const int64_t rowBytes = int64_t{width} * (yuv ? 2 : 4);
    const int64_t srcStride = stride > 0 ? stride : rowBytes;
    if (srcStride < rowBytes) return 0;

    if (!(aspect > 0.0f)) aspect = static_cast<float>(width) / static_cast<float>(height);
    if (aspect == kRatio9by16) {
        if (aspectClass_ != 2) backgroundDirty.store(1);
        aspectClass_ = 2;
    } else if (aspect == kRatio16by9) {
        aspectClass_ = 0;
    } else {
        if (aspectClass_ != 1 || aspect != lastAspect_) backgroundDirty.store(1);
        aspectClass_ = 1;
        lastAspect_ = aspect;
    }

    PreviewBitmap& b = bitmaps_.Back();
    b.fourCC = fourCC;
    b.aspectClass = aspectClass_;
    b.lastAspect = lastAspect_;
    const bool wave = waveformOn.load(std::memory_order_relaxed) != 0;
    if (wave) {
        RenderWaveform(b, data, width, height, srcStride, yuv);
    } else {
        RenderPicture(b, data, width, height, srcStride, yuv, width > 640);
    }
    if (b.bitsPerPixel == 0) return 0;
    bitmaps_.Publish();
    return wave ? 24 : b.bitsPerPixel;
}

void PreviewRenderer::RenderPicture(PreviewBitmap& b, const uint8_t* data, int width, int height,
                                    int64_t stride, bool yuv, bool halved) {
    const int n = halved ? width / 2 : width;
    const int m = halved ? height / 2 : height;
    const int bpp = yuv ? 3 : 4;
    b.bitsPerPixel = 0;
    b.waveform = false;
    if (!EnsureCapacity(b, static_cast<size_t>(n) * m * bpp)) return;
    b.width = b.renderedWidth = n;
    b.height = b.renderedHeight = m;
    b.bitsPerPixel = bpp * 8;
    uint8_t* out = b.pixels.get();
    const int64_t step = halved ? stride * 2 : stride;
    for (int r = 0; r < m; ++r, out += static_cast<size_t>(n) * bpp) {
        const uint8_t* src = data + r * step;
        if (yuv) {
            (halved ? rows_.halved : rows_.full)(src, n, out);
        } else if (halved) {
            for (int x = 0; x < n; ++x)
                std::memcpy(out + x * 4, src + x * 8, 4);
        } else {
            std::memcpy(out, src, static_cast<size_t>(n) * 4);
        }
    }
}

void PreviewRenderer::RenderWaveform(PreviewBitmap& b, const uint8_t* data, int width, int height,
                                     int64_t stride, bool yuv) {
    const int n = width / 2;
    const int m = height / 2;
    b.bitsPerPixel = 0;
    if (!EnsureCapacity(b, static_cast<size_t>(n) * kWaveRows * 3)) return;
    b.width = b.renderedWidth = n;
    b.renderedHeight = m;
    b.height = kWaveRows;
    b.bitsPerPixel = 24;
    b.waveform = true;
    const int type = graticuleType.load(std::memory_order_relaxed);
    b.graticuleType = type;
    uint8_t* out = b.pixels.get();
    const size_t rowBytes = static_cast<size_t>(n) * 3;
    std::memset(out, 0, rowBytes * kWaveRows);

    const int lines = type == 1 ? 10 : 7;
    for (int k = 0; k <= lines; ++k) {
        uint8_t* row = out + (30 + 219 * k / lines) * rowBytes;
        for (int x = 0; x < n; ++x) {
            row[x * 3 + 0] = 0x60;
            row[x * 3 + 1] = 0x60;
            row[x * 3 + 2] = 0x40;
        }
    }

    trace_(data, width, height, stride, yuv, 0, m, out);
}

PaintRect PreviewDestRect(int aspectClass, float lastAspect, int W, int H) {
    if (aspectClass == 2) {
        const int w = (W * 81) >> 8;
        return {(W - w) >> 1, 0, w, H};
    }
    if (aspectClass == 0) return {0, 0, W, H};
    const float r = lastAspect;
    if (r < kRatio16by9) {
        const int w = static_cast<int>(r * static_cast<float>(W) / kRatio16by9);
        return {(W - w) >> 1, 0, w, H};
    }
    const int h = static_cast<int>(kRatio16by9 * static_cast<float>(H) / r);
    return {0, (H - h) >> 1, W, h};
}

PaintRect TimeTextPosition(int W, int H) {
    return {(W - 56) / 2, H * 4 / 5, 0, 0};
}

int TallyPenWidth(int H) {
    return std::max(H / 64, 2);
}

std::vector<ScaleLabel> WaveformScaleLabels(int graticuleType, int renderedWidth,
                                            int renderedHeight) {
    std::vector<ScaleLabel> labels;
    char text[64];
    if (graticuleType == 0) {
        std::snprintf(text, sizeof text, "%dx%d      ", renderedWidth, renderedHeight);
        labels.push_back({std::string(text).substr(0, 9), 5, 10});
        labels.push_back({"1.0", 5, 29});
        for (int k = 1; k <= 7; ++k) {
            std::snprintf(text, sizeof text, " .%d", 10 - k);
            labels.push_back({text, 5, 876 * k / 21 + 29});
        }
    } else {
        labels.push_back({"100", 5, 29});
        for (int k = 1; k <= 9; ++k) {
            std::snprintf(text, sizeof text, " %d", 100 - 10 * k);
            labels.push_back({text, 5, 876 * k / 30 + 29});
        }
        labels.push_back({"  0", 5, 321});
    }
    return labels;
}

}  // namespace velmor
