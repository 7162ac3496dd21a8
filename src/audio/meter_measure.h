// The measuring half of the meter: what one block of audio says about its two channels, and the
// pure conversions from a peak to the integer level, the scale position and the overlay segment.
// Audio thread (MeasureBlock); the conversions are pure.
#pragma once

#include "audio/audio_kernels.h"

namespace velmor {

inline constexpr float kMeterScaleEbu = 0.15848932f;  // 10^(-16/20)
inline constexpr float kMeterScaleSmpte = 0.1f;
// Levels above these light the overload marks (SMPTE, EBU).
inline constexpr int kSmpteOverloadLevel = 29184;
inline constexpr int kEbuOverloadLevel = 23040;

struct BlockPeaks {
    float leftPositive = 0.0f;  // the largest left sample above 0
    float left = 0.0f;          // the largest magnitudes
    float right = 0.0f;
};

// The peaks of the two planes (a null plane measures 0). While the Audio Map window previews a
// gain above 1.0, `previewGain` scales each sample first, in place, as the monitor then hears it.
BlockPeaks MeasureBlock(const AudioKernels& kernels, float* left, float* right, int samples,
                        double previewGain);

// int(peak x 32768 x scale), 0 for anything not above 0, the largest int for loud or infinite
// samples.
int MeterLevel(float peak, float scale);
// An integer approximation of 20 log10(level): 6 per bit of level - 1 and a step for the two bits
// below its leading one.
int LevelToDb(int level);
// The on-screen position 0..fullScale of an approximate dB value.
int DbToPosition(int dB, int fullScale);
// The overlay bar's position in segments 0..8 of a peak, L = 20 log10(peak) + offset.
float SegmentLevel(float peak, float offset);

}  // namespace velmor
