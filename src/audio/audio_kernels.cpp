#include "audio/audio_kernels.h"

#include "video/simd.h"

namespace velmor {
namespace {

// The largest and smallest samples so far, both starting at 0: a sample that is not above the
// largest can only lower the smallest; a NaN does neither.
struct Extremes {
    float largest = 0.0f;
    float smallest = 0.0f;
};

Extremes ScanExtremes(const float* p, int n, Extremes e) {
    for (int j = 0; j < n; ++j) {
        const float s = p[j];
        if (s > e.largest) {
            e.largest = s;
        } else if (s < e.smallest) {
            e.smallest = s;
        }
    }
    return e;
}

PlanePeak PeakOf(Extremes e) {
    return {e.largest, std::max(e.largest, -e.smallest)};
}

// --- Reference versions: the arithmetic of audio_kernels.h, one sample at a time ---

void ScaleReference(const float* in, float* out, int n, double gain) {
    for (int j = 0; j < n; ++j)
        out[j] = Narrowed(static_cast<double>(in[j]) * gain);
}

void HalfReference(const float* in, float* out, int n) {
    for (int j = 0; j < n; ++j)
        out[j] = in[j] * 0.5f;
}

void MixReference(const float* a, const float* b, float* out, int n) {
    for (int j = 0; j < n; ++j)
        out[j] = (a[j] + b[j]) * 0.5f;
}

void MixScaledReference(const float* a, const float* b, float* out, int n, double gain) {
    for (int j = 0; j < n; ++j) {
        const float sum = a[j] + b[j];
        out[j] = Narrowed(static_cast<double>(sum) * gain * 0.5);
    }
}

PlanePeak PeakReference(const float* p, int n) {
    return PeakOf(ScanExtremes(p, n, {}));
}

constexpr AudioKernels kReference = {ScaleReference, HalfReference, MixReference,
                                     MixScaledReference, PeakReference};

#if VELMOR_X86

// In the vector versions, (sum x gain) x 0.5 is computed as sum x (gain x 0.5): the same double,
// since halving is exact and a float times a gain of the menu's range never leaves the double
// range. max(s, m) and min(s, m) give m when s is a NaN, so NaNs are passed over as in the
// reference; the extremes of the lanes and of the tail combine in any order.

// --- SSE2: four samples a step ---

// Four doubles narrowed as Narrowed does: NaN to 0, clamped, rounded to float.
inline __m128 NarrowedSse2(__m128d lo, __m128d hi) {
    const __m128d max = _mm_set1_pd(static_cast<double>(FLT_MAX));
    const __m128d min = _mm_set1_pd(-static_cast<double>(FLT_MAX));
    const __m128d nanLo = _mm_cmpunord_pd(lo, lo), nanHi = _mm_cmpunord_pd(hi, hi);
    lo = _mm_andnot_pd(nanLo, _mm_min_pd(_mm_max_pd(lo, min), max));
    hi = _mm_andnot_pd(nanHi, _mm_min_pd(_mm_max_pd(hi, min), max));
    return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

inline __m128 ScaledSse2(__m128 v, __m128d gain) {
    const __m128d lo = _mm_mul_pd(_mm_cvtps_pd(v), gain);
    const __m128d hi = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), gain);
    return NarrowedSse2(lo, hi);
}

void ScaleSse2(const float* in, float* out, int n, double gain) {
    const __m128d g = _mm_set1_pd(gain);
    int j = 0;
    for (; j + 4 <= n; j += 4)
        _mm_storeu_ps(out + j, ScaledSse2(_mm_loadu_ps(in + j), g));
    ScaleReference(in + j, out + j, n - j, gain);
}

void HalfSse2(const float* in, float* out, int n) {
    const __m128 h = _mm_set1_ps(0.5f);
    int j = 0;
    for (; j + 4 <= n; j += 4)
        _mm_storeu_ps(out + j, _mm_mul_ps(_mm_loadu_ps(in + j), h));
    HalfReference(in + j, out + j, n - j);
}

void MixSse2(const float* a, const float* b, float* out, int n) {
    const __m128 h = _mm_set1_ps(0.5f);
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 sum = _mm_add_ps(_mm_loadu_ps(a + j), _mm_loadu_ps(b + j));
        _mm_storeu_ps(out + j, _mm_mul_ps(sum, h));
    }
    MixReference(a + j, b + j, out + j, n - j);
}

void MixScaledSse2(const float* a, const float* b, float* out, int n, double gain) {
    const __m128d g = _mm_set1_pd(gain * 0.5);
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 sum = _mm_add_ps(_mm_loadu_ps(a + j), _mm_loadu_ps(b + j));
        _mm_storeu_ps(out + j, ScaledSse2(sum, g));
    }
    MixScaledReference(a + j, b + j, out + j, n - j, gain);
}

Extremes LanesOf(__m128 largest, __m128 smallest) {
    alignas(16) float l[4], s[4];
    _mm_store_ps(l, largest);
    _mm_store_ps(s, smallest);
    Extremes e;
    for (int k = 0; k < 4; ++k) {
        e.largest = std::max(e.largest, l[k]);
        e.smallest = std::min(e.smallest, s[k]);
    }
    return e;
}

PlanePeak PeakSse2(const float* p, int n) {
    __m128 largest = _mm_setzero_ps(), smallest = _mm_setzero_ps();
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 s = _mm_loadu_ps(p + j);
        largest = _mm_max_ps(s, largest);
        smallest = _mm_min_ps(s, smallest);
    }
    return PeakOf(ScanExtremes(p + j, n - j, LanesOf(largest, smallest)));
}

constexpr AudioKernels kSse2 = {ScaleSse2, HalfSse2, MixSse2, MixScaledSse2, PeakSse2};

// --- AVX2: eight samples a step ---

VELMOR_AVX2 inline __m128 NarrowedAvx2(__m256d v) {
    const __m256d max = _mm256_set1_pd(static_cast<double>(FLT_MAX));
    const __m256d min = _mm256_set1_pd(-static_cast<double>(FLT_MAX));
    const __m256d nan = _mm256_cmp_pd(v, v, _CMP_UNORD_Q);
    v = _mm256_andnot_pd(nan, _mm256_min_pd(_mm256_max_pd(v, min), max));
    return _mm256_cvtpd_ps(v);
}

VELMOR_AVX2 inline __m256 ScaledAvx2(__m256 v, __m256d gain) {
    const __m256d lo = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(v)), gain);
    const __m256d hi = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), gain);
    return _mm256_set_m128(NarrowedAvx2(hi), NarrowedAvx2(lo));
}

VELMOR_AVX2 void ScaleAvx2(const float* in, float* out, int n, double gain) {
    const __m256d g = _mm256_set1_pd(gain);
    int j = 0;
    for (; j + 8 <= n; j += 8)
        _mm256_storeu_ps(out + j, ScaledAvx2(_mm256_loadu_ps(in + j), g));
    ScaleReference(in + j, out + j, n - j, gain);
}

VELMOR_AVX2 void HalfAvx2(const float* in, float* out, int n) {
    const __m256 h = _mm256_set1_ps(0.5f);
    int j = 0;
    for (; j + 8 <= n; j += 8)
        _mm256_storeu_ps(out + j, _mm256_mul_ps(_mm256_loadu_ps(in + j), h));
    HalfReference(in + j, out + j, n - j);
}

VELMOR_AVX2 void MixAvx2(const float* a, const float* b, float* out, int n) {
    const __m256 h = _mm256_set1_ps(0.5f);
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m256 sum = _mm256_add_ps(_mm256_loadu_ps(a + j), _mm256_loadu_ps(b + j));
        _mm256_storeu_ps(out + j, _mm256_mul_ps(sum, h));
    }
    MixReference(a + j, b + j, out + j, n - j);
}

VELMOR_AVX2 void MixScaledAvx2(const float* a, const float* b, float* out, int n, double gain) {
    const __m256d g = _mm256_set1_pd(gain * 0.5);
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m256 sum = _mm256_add_ps(_mm256_loadu_ps(a + j), _mm256_loadu_ps(b + j));
        _mm256_storeu_ps(out + j, ScaledAvx2(sum, g));
    }
    MixScaledReference(a + j, b + j, out + j, n - j, gain);
}

VELMOR_AVX2 PlanePeak PeakAvx2(const float* p, int n) {
    __m256 largest = _mm256_setzero_ps(), smallest = _mm256_setzero_ps();
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m256 s = _mm256_loadu_ps(p + j);
        largest = _mm256_max_ps(s, largest);
        smallest = _mm256_min_ps(s, smallest);
    }
    const __m128 l = _mm_max_ps(_mm256_castps256_ps128(largest), _mm256_extractf128_ps(largest, 1));
    const __m128 s =
        _mm_min_ps(_mm256_castps256_ps128(smallest), _mm256_extractf128_ps(smallest, 1));
    return PeakOf(ScanExtremes(p + j, n - j, LanesOf(l, s)));
}

constexpr AudioKernels kAvx2 = {ScaleAvx2, HalfAvx2, MixAvx2, MixScaledAvx2, PeakAvx2};

#endif

}  // namespace

const AudioKernels& AudioKernelsFor(KernelLevel level) {
#if VELMOR_X86
    return *ByLevel(level, &kReference, &kSse2, &kAvx2);
#else
    (void)level;
    return kReference;
#endif
}

}  // namespace velmor
