// The block kernels of the audio path: pure loops over one plane of planar 32-bit float samples,
// shared by the relay's audio path (map, mono mix, gain), the meter (peaks) and the monitor's
// preview of the Audio Map window's gain. Like the video kernels (video/kernel_level.h) each has a
// plain reference version and, on x86-64, SSE2 and AVX2 versions that give the same bits; the
// caller picks its table once (AudioKernelsFor), when it is configured, never per block.
//
// Arithmetic, as the reference versions do it:
//   scale      out = Narrowed(double(in) * gain)
//   half       out = in * 0.5f
//   mix        out = (a + b) * 0.5f                           (the sum in float)
//   mixScaled  out = Narrowed(double(a + b) * gain * 0.5)      (the sum in float)
//   peak       the largest sample above 0 and the largest magnitude; NaNs are passed over
// where Narrowed(v) is 0 for a NaN and v narrowed to float within -FLT_MAX..FLT_MAX otherwise, so a
// scaled sample is always finite. `in` may be `out` (in place).
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "video/kernel_level.h"

namespace velmor {

// A scaled sample narrowed to a float that is always finite: a NaN input is silence, and a
// product beyond the float range stays at its largest value.
inline float Narrowed(double v) {
    if (std::isnan(v)) return 0.0f;
    return static_cast<float>(
        std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

// The peaks of one plane: the largest sample (0 when none is above 0) and the largest magnitude.
struct PlanePeak {
    float positive = 0.0f;
    float peak = 0.0f;
};

struct AudioKernels {
    void (*scale)(const float* in, float* out, int samples, double gain);
    void (*half)(const float* in, float* out, int samples);
    void (*mix)(const float* a, const float* b, float* out, int samples);
    void (*mixScaled)(const float* a, const float* b, float* out, int samples, double gain);
    PlanePeak (*peak)(const float* plane, int samples);
};

// The kernels of `level` (a level without versions of its own takes the next lower one).
const AudioKernels& AudioKernelsFor(KernelLevel level);

}  // namespace velmor
