// The waveform monitor's trace (WaveformTraceFor, declared in preview_render.h): the plain
// reference that plots sample by sample, and the counted versions that count a strip of columns
// in a table kept in the first-level cache and raise each point of the bitmap once.
#include <algorithm>
#include <cstring>

#include "video/preview_render.h"
#include "video/simd.h"

namespace velmor {

namespace {

// The waveform row of a luma: 264 - L, except that 254 and 255 share row 10.
inline int WaveRow(int luma) {
    return (255 - luma) * 255 / 256 + 10;
}

// One hit on a point: green rises by 63 until it reaches 190 (0 gives 63, 126, 189, 252; the
// graticule's 96 gives 159, 222).
inline void Raise(uint8_t& g) {
    if (g < 190) g = static_cast<uint8_t>(g + 63);
}

// The luma of a four-byte pixel, in double precision, rounded to single and truncated.
inline int FourByteLuma(const uint8_t* p) {
    const double l = p[1] * 0.6142 + p[2] * 0.1826 + p[0] * 0.062 + 16;
    return static_cast<int>(static_cast<float>(l)) & 0xFF;
}

// Whether sampled row r of a waveform with m sampled rows is used.
inline bool SampledRow(bool yuv, int m, int r) {
    return yuv || m <= 360 || !(r & 1);
}

void TraceReference(const uint8_t* data, int width, int height, int64_t stride, bool yuv,
                    int firstRow, int endRow, uint8_t* bitmap) {
    const int n = width / 2, m = height / 2;
    const size_t rowBytes = static_cast<size_t>(n) * 3;
    for (int r = std::max(firstRow, 0); r < std::min(endRow, m); ++r) {
        if (!SampledRow(yuv, m, r)) continue;
        const uint8_t* src = data + r * stride * 2;
        for (int x = 0; x < n; ++x) {
            const int luma = yuv ? src[x * 4 + 1] : FourByteLuma(src + x * 8);
            Raise(bitmap[WaveRow(luma) * rowBytes + x * 3 + 1]);
        }
    }
}

// The luma of a four-byte pixel in integers: G * 0.6142 + R * 0.1826 + B * 0.062 is
// N / 10000 with N = 6142 G + 1826 R + 620 B, so it is never closer to a whole number than
// 1 / 10000 unless it is one; the double arithmetic's error (under 1e-12) and the rounding to
// single precision (under 2e-5 below 256) never cross a whole number, and the truncated result
// is N / 10000 + 16 (checked for every pixel when this was written).
inline int FourByteLumaExact(const uint8_t* p) {
    return (6142 * p[1] + 1826 * p[2] + 620 * p[0]) / 10000 + 16;
}

// The counted trace goes through the bitmap in strips of this many columns, one 64-byte line of
// each sampled UYVY line. A strip's samples are counted by column and luma (one byte each, 4 KiB,
// in the first-level cache; by column, so that each sample's count is its column's table at its
// luma), then turned by luma and column for raising the bitmap's rows. Counts are cut to 4 (no
// point takes more hits) every kWaveFold rows, before a byte could overflow. Wider strips were
// slower (a third at 64 columns), and so were counts by luma and column (a sixth).
constexpr int kWaveStrip = 16;
constexpr int kWaveFold = 250;
constexpr int kWavePrefetch = 4;  // sampled rows
using ColumnCounts = uint8_t[kWaveStrip][256];
using WaveCounts = uint8_t[256][kWaveStrip];

void FoldCounts(ColumnCounts& counts) {
    for (auto& column : counts) {
        for (uint8_t& c : column)
            c = std::min<uint8_t>(c, 4);
    }
}

// counts[luma][x] = columns[x][luma].
void CountsByLuma(const ColumnCounts& columns, WaveCounts& counts) {
#if VELMOR_X86
    // 16 x 16 byte blocks: four rounds of pairing register i with i + 8 and interleaving their
    // bytes transpose one.
    for (int l0 = 0; l0 < 256; l0 += 16) {
        __m128i a[16];
        for (int x = 0; x < 16; ++x)
            a[x] = _mm_load_si128(reinterpret_cast<const __m128i*>(&columns[x][l0]));
        for (int round = 0; round < 4; ++round) {
            __m128i b[16];
            for (int i = 0; i < 8; ++i) {
                b[2 * i] = _mm_unpacklo_epi8(a[i], a[i + 8]);
                b[2 * i + 1] = _mm_unpackhi_epi8(a[i], a[i + 8]);
            }
            std::copy(b, b + 16, a);
        }
        for (int l = 0; l < 16; ++l)
            _mm_store_si128(reinterpret_cast<__m128i*>(counts[l0 + l]), a[l]);
    }
#else
    for (int x = 0; x < kWaveStrip; ++x) {
        for (int l = 0; l < 256; ++l)
            counts[l][x] = columns[x][l];
    }
#endif
}

#if VELMOR_X86
// FourByteLumaExact of samples [0, w) of a four-byte row (sample x is pixel 2x of `p`), eight at
// a time: N from 16-bit multiply-adds, N / 10000 as N times the single-precision number just
// above 1 / 10000, truncated (exact for every N up to 255 * 8588, checked). Returns how many it
// wrote; each step reads sixteen pixels, the last of them inside the row too.
VELMOR_AVX2 int FourByteLumasAvx2(const uint8_t* p, int w, uint8_t* lumas) {
    const __m256i weights = _mm256_setr_epi16(620, 6142, 1826, 0, 620, 6142, 1826, 0, 620, 6142,
                                              1826, 0, 620, 6142, 1826, 0);
    const __m256i zero = _mm256_setzero_si256();
    const __m256 scale = _mm256_set1_ps(0x1.a36e3p-14f);  // the float just above 1e-4
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        // N of sixteen pixels; per 128-bit half, pixels 0 to 3 of that half.
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x * 8));
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x * 8 + 32));
        const __m256 a = _mm256_castsi256_ps(
            _mm256_hadd_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi8(u, zero), weights),
                              _mm256_madd_epi16(_mm256_unpackhi_epi8(u, zero), weights)));
        const __m256 b = _mm256_castsi256_ps(
            _mm256_hadd_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi8(v, zero), weights),
                              _mm256_madd_epi16(_mm256_unpackhi_epi8(v, zero), weights)));
        // The even pixels in sample order.
        const __m256i n = _mm256_permute4x64_epi64(
            _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
            _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i l =
            _mm256_add_epi32(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n), scale)),
                             _mm256_set1_epi32(16));
        const __m256i words = _mm256_packs_epi32(l, zero);  // per half: four lumas, four zeros
        const __m128i bytes =
            _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        // bytes: lumas 0..3, four zeros, lumas 4..7, four zeros.
        const uint32_t lo = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
        const uint32_t hi = static_cast<uint32_t>(_mm_extract_epi32(bytes, 2));
        std::memcpy(lumas + x, &lo, 4);
        std::memcpy(lumas + x + 4, &hi, 4);
    }
    return x;
}

// A whole strip of 16 columns: each point's green raised min(count, 4) times. A point takes as
// many raises as it is steps of 63 below 190: (g < 190) + (g < 127) + (g < 64) + (g < 1). The
// greens are gathered from and put back into every third byte with byte shuffles; rows without
// a hit are skipped.
VELMOR_AVX2 void RaiseStripAvx2(uint8_t* strip, size_t rowBytes, const WaveCounts& counts) {
    const __m128i take0 =
        _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i take1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
    const __m128i take2 =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
    const __m128i put0 = _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
    const __m128i put1 = _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
    const __m128i put2 =
        _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
    const __m128i none = _mm_set1_epi8(-1);
    const __m128i green0 = _mm_cmpgt_epi8(put0, none), green1 = _mm_cmpgt_epi8(put1, none),
                  green2 = _mm_cmpgt_epi8(put2, none);
    const __m128i times63 =
        _mm_setr_epi8(0, 63, 126, -67, -4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);  // 189, 252
    auto under = [](__m128i g, int limit) {  // g < limit, as 0 or -1
        const __m128i top = _mm_set1_epi8(static_cast<char>(limit - 1));
        return _mm_cmpeq_epi8(_mm_min_epu8(g, top), g);
    };
    for (int R = 10; R <= 264; ++R) {
        __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(counts[264 - R]));
        if (R == 10) {  // lumas 254 and 255
            c = _mm_add_epi8(c, _mm_load_si128(reinterpret_cast<const __m128i*>(counts[255])));
        }
        if (_mm_testz_si128(c, c)) continue;
        uint8_t* p = strip + R * rowBytes;
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        __m128i g =
            _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, take0), _mm_shuffle_epi8(v1, take1)),
                         _mm_shuffle_epi8(v2, take2));
        // Minus the number of raises left (each comparison gives -1 where true).
        const __m128i left = _mm_add_epi8(_mm_add_epi8(under(g, 190), under(g, 127)),
                                          _mm_add_epi8(under(g, 64), under(g, 1)));
        const __m128i raises = _mm_min_epu8(c, _mm_sub_epi8(_mm_setzero_si128(), left));
        g = _mm_add_epi8(g, _mm_shuffle_epi8(times63, raises));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm_blendv_epi8(v0, _mm_shuffle_epi8(g, put0), green0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16),
                         _mm_blendv_epi8(v1, _mm_shuffle_epi8(g, put1), green1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32),
                         _mm_blendv_epi8(v2, _mm_shuffle_epi8(g, put2), green2));
    }
}
#endif

template <KernelLevel L>
void TraceCounted(const uint8_t* data, int width, int height, int64_t stride, bool yuv,
                  int firstRow, int endRow, uint8_t* bitmap) {
    const int n = width / 2, m = height / 2;
    const size_t rowBytes = static_cast<size_t>(n) * 3;
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, m);
    if (firstRow >= endRow) return;
    alignas(64) ColumnCounts columns;
    alignas(64) WaveCounts counts;
    alignas(64) uint8_t lumas[kWaveStrip];
    for (int x0 = 0; x0 < n; x0 += kWaveStrip) {
        const int w = std::min(kWaveStrip, n - x0);
        std::memset(columns, 0, sizeof columns);
        int sinceFold = 0;
        for (int r = firstRow; r < endRow; ++r) {
            if (!SampledRow(yuv, m, r)) continue;
            const uint8_t* src = data + r * stride * 2;
#if VELMOR_X86
            // The strip's part of a row some rows ahead (64 or 128 bytes, on two or three cache
            // lines): the rows are too far apart for the processor to see the pattern itself.
            if (r + kWavePrefetch < endRow) {
                const int bytes = kWaveStrip * (yuv ? 4 : 8);
                const uint8_t* ahead = src + kWavePrefetch * stride * 2 + x0 * (yuv ? 4 : 8);
                for (int k = 0; k < bytes; k += 64)
                    _mm_prefetch(reinterpret_cast<const char*>(ahead + k), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(ahead + bytes - 1), _MM_HINT_T0);
            }
#endif
            if (yuv) {
                const uint8_t* y0 = src + x0 * 4 + 1;
                if (w == kWaveStrip) {  // a fixed count the compiler unrolls
                    for (int x = 0; x < kWaveStrip; ++x)
                        ++columns[x][y0[x * 4]];
                } else {
                    for (int x = 0; x < w; ++x)
                        ++columns[x][y0[x * 4]];
                }
            } else {
                const uint8_t* p = src + x0 * 8;
                int x = 0;
#if VELMOR_X86
                if constexpr (L == KernelLevel::Avx2) x = FourByteLumasAvx2(p, w, lumas);
#endif
                for (; x < w; ++x)
                    lumas[x] = static_cast<uint8_t>(FourByteLumaExact(p + x * 8));
                for (x = 0; x < w; ++x)
                    ++columns[x][lumas[x]];
            }
            if (++sinceFold == kWaveFold) {
                FoldCounts(columns);
                sinceFold = 0;
            }
        }
        FoldCounts(columns);
        CountsByLuma(columns, counts);
        uint8_t* strip = bitmap + static_cast<size_t>(x0) * 3;
#if VELMOR_X86
        if constexpr (L == KernelLevel::Avx2) {
            if (w == kWaveStrip) {
                RaiseStripAvx2(strip, rowBytes, counts);
                continue;
            }
        }
#endif
        for (int R = 10; R <= 264; ++R) {
            for (int x = 0; x < w; ++x) {
                // Lumas 254 and 255 share row 10.
                const int hits = counts[264 - R][x] + (R == 10 ? counts[255][x] : 0);
                for (int k = 0; k < std::min(hits, 4); ++k)
                    Raise(strip[R * rowBytes + x * 3 + 1]);
            }
        }
    }
}

}  // namespace

WaveformTraceFn WaveformTraceFor(KernelLevel level) {
    return ByLevel<WaveformTraceFn>(level, TraceReference, TraceCounted<KernelLevel::Sse2>,
                                    TraceCounted<KernelLevel::Avx2>);
}

}  // namespace velmor
