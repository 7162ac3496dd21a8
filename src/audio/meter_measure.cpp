#include "audio/meter_measure.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace velmor {

BlockPeaks MeasureBlock(const AudioKernels& k, float* left, float* right, int samples,
                        double previewGain) {
    samples = std::max(samples, 0);
    BlockPeaks peaks;
    for (float* plane : {left, right}) {
        if (!plane) continue;
        if (previewGain > 1.0) k.scale(plane, plane, samples, previewGain);
        const PlanePeak p = k.peak(plane, samples);
        if (plane == left) {
            peaks.leftPositive = p.positive;
            peaks.left = p.peak;
        }
        if (plane == right) peaks.right = p.peak;
    }
    return peaks;
}

int MeterLevel(float peak, float scale) {
    const float x = peak * 32768.0f * scale;
    if (!(x > 0.0f)) return 0;
    if (x >= 2147483520.0f) return INT_MAX;  // loud or infinite samples: no overflow
    return static_cast<int>(x);
}

int LevelToDb(int level) {
    const unsigned d = level > 0 ? static_cast<unsigned>(level) - 1 : 0;
    const int n = d == 0 ? 0 : 32 - __builtin_clz(d);
    int f = 0;
    if (d >= 2) {
        // The two bits below the leading one; for d = 2 or 3 the missing lower bit reads as 0.
        f = n >= 3 ? static_cast<int>((d >> (n - 3)) & 3) : static_cast<int>((d << 1) & 3);
    }
    static constexpr int kFraction[4] = {0, 2, 4, 5};
    return 6 * n + kFraction[f];
}

int DbToPosition(int dB, int full) {
    const int pos = dB < 54 ? full * dB / 1296 : full / 4 + full * (dB - 54) / 48;
    return std::clamp(pos, 0, full);  // levels beyond full scale (dB > 90) stay at the top
}

float SegmentLevel(float peak, float offset) {
    if (peak == 0.0f || !(peak > 0.0f)) return 0.0f;
    const float L = 20.0f * std::log10(peak) + offset;
    const float u = std::max(L + 4.0f, -60.0f);
    if (u < -12.0f) return (u + 60.0f) / 48.0f;
    if (u <= 12.0f) return 1.0f + (u + 12.0f) / 4.0f;
    return 7.0f + std::min((u - 12.0f) / 8.0f, 1.0f);
}

}  // namespace velmor
