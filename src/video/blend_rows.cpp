#include "video/blend_rows.h"

#include "video/image_buffer.h"
#include "video/simd.h"

namespace velmor {

namespace {

#if VELMOR_X86
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

// x / 255 in every 16-bit lane, exact for any 16-bit x: (x * 0x8081) >> 23.
VELMOR_AVX2 inline __m256i Div255x16(__m256i x) {
    return _mm256_srli_epi16(_mm256_mulhi_epu16(x, _mm256_set1_epi16(static_cast<short>(0x8081))),
                             7);
}

// Eight BGRA pixels at a time; returns how many pixels it blended.
VELMOR_AVX2 int BlendRowBGRAAvx2(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
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
VELMOR_AVX2 int BlendPairsUYVYAvx2(uint8_t* __restrict d, const uint8_t* __restrict s, int pairs) {
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

#if VELMOR_X86
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

#if VELMOR_X86
// Four BGRA pixels at a time from pixel `i` on; returns where it stopped.
int BlendRowBGRASse2(uint8_t* __restrict d, const uint8_t* __restrict s, int n, int i) {
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i * 4));
        const __m128i lo = Blend2(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero));
        const __m128i hi = Blend2(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4), _mm_packus_epi16(lo, hi));
    }
    return i;
}

// Two macropixels (four picture pixels) at a time from macropixel `k` on; returns where it
// stopped.
int BlendPairsUYVYSse2(uint8_t* __restrict d, const uint8_t* __restrict s, int pairs, int k) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c255 = _mm_set1_epi16(255);
    for (; k + 2 <= pairs; k += 2) {
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
    return k;
}
#endif

// The reference formula from pixel `i` on.
void BlendRowBGRATail(uint8_t* __restrict d, const uint8_t* __restrict s, int n, int i) {
    for (i *= 4; i < n * 4; i += 4) {
        const uint32_t a = s[i + 3];
        const uint32_t na = 255 - a;
        d[i + 0] = static_cast<uint8_t>(Div255(s[i + 0] * a + d[i + 0] * na));
        d[i + 1] = static_cast<uint8_t>(Div255(s[i + 1] * a + d[i + 1] * na));
        d[i + 2] = static_cast<uint8_t>(Div255(s[i + 2] * a + d[i + 2] * na));
        d[i + 3] = static_cast<uint8_t>(255 - Div255((255 - d[i + 3]) * na));
    }
}

// The reference formula from macropixel `k` on, and the odd last pixel.
void BlendRowUYVYTail(uint8_t* __restrict d, const uint8_t* __restrict s, int n, int k) {
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

// Each level runs its widest loop first and leaves the rest of the row to the narrower ones.
template <KernelLevel L>
void BlendRowBGRA(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
    int i = 0;
#if VELMOR_X86
    if constexpr (L == KernelLevel::Avx2) i = BlendRowBGRAAvx2(d, s, n);
    if constexpr (L != KernelLevel::Reference) i = BlendRowBGRASse2(d, s, n, i);
#endif
    BlendRowBGRATail(d, s, n, i);
}

template <KernelLevel L>
void BlendRowUYVY(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
    int k = 0;
#if VELMOR_X86
    if constexpr (L == KernelLevel::Avx2) k = BlendPairsUYVYAvx2(d, s, n / 2);
    if constexpr (L != KernelLevel::Reference) k = BlendPairsUYVYSse2(d, s, n / 2, k);
#endif
    BlendRowUYVYTail(d, s, n, k);
}

template <KernelLevel L>
constexpr BlendRowKernels kBlendRows = {BlendRowBGRA<L>, BlendRowUYVY<L>};

}  // namespace

const BlendRowKernels& BlendRowsFor(KernelLevel level) {
    return *ByLevel(level, &kBlendRows<KernelLevel::Reference>, &kBlendRows<KernelLevel::Sse2>,
                    &kBlendRows<KernelLevel::Avx2>);
}

}  // namespace velmor
