#include "audio/meter_ballistics.h"

#include <cmath>

#include "audio/meter_measure.h"

namespace velmor {

void MeterBallistics::SetLevels(int a, int b, float peakLeft, float peakRight, const Scale& scale) {
    const int levels[2] = {a, b};
    const float peaks[2] = {peakLeft, peakRight};
    const bool reset = resetHold_.exchange(0, std::memory_order_relaxed) != 0;
    const int threshold = scale.smpte ? kSmpteOverloadLevel : kEbuOverloadLevel;
    for (int c = 0; c < 2; ++c) {
        peak_[c].store(peaks[c], std::memory_order_relaxed);
        const int pos = DbToPosition(LevelToDb(levels[c]), kFullScale);
        if (reset || pos > hold_[c].load(std::memory_order_relaxed))
            hold_[c].store(pos, std::memory_order_relaxed);
        if (levels[c] > threshold) {
            overloadOverlay_[c].store(18, std::memory_order_relaxed);
            overloadScreen_[c].store(12, std::memory_order_relaxed);
        }
    }
    if (!scale.overlayBars) return;
    const float t = scale.vmix ? (scale.smpte ? 16.0f : 14.0f) : (scale.smpte ? -4.0f : 0.0f);
    dbOffset_.store(t, std::memory_order_relaxed);
    for (int c = 0; c < 2; ++c) {
        if (scale.vmix) {
            const float over = scale.smpte ? 14.5f : 12.5f;
            if (peaks[c] > 0.0f && 20.0f * std::log10(peaks[c]) + t > over)
                overloadOverlay_[c].store(18, std::memory_order_relaxed);
        }
        segLevel_[c].store(SegmentLevel(peaks[c], t), std::memory_order_relaxed);
    }
}

void MeterBallistics::AudioEnded() {
    for (int c = 0; c < 2; ++c) {
        hold_[c].store(0, std::memory_order_relaxed);
        peak_[c].store(0.0f, std::memory_order_relaxed);
        segLevel_[c].store(0.0f, std::memory_order_relaxed);
    }
}

void MeterBallistics::FallStep(int& shown, int target, int& counter) {
    if (shown - target > counter / 3) {
        shown -= counter / 3;
        if (counter / 3 < 3) ++counter;
    } else {
        shown = target;
        counter = 0;
    }
}

bool MeterBallistics::TickScreen(bool overlayBars) {
    for (int c = 0; c < 2; ++c)
        FallStep(shown_[c], hold_[c].load(std::memory_order_relaxed), fallShown_[c]);
    if (overlayBars) return false;
    resetHold_.store(1, std::memory_order_relaxed);
    return true;
}

bool MeterBallistics::TickOverlay(bool overlayBars) {
    for (int c = 0; c < 2; ++c) {
        segTarget_[c] =
            static_cast<int>(segLevel_[c].load(std::memory_order_relaxed) * kSegmentUnits);
        FallStep(segShown_[c], segTarget_[c], fallSeg_[c]);
    }
    if (!overlayBars) return false;
    resetHold_.store(1, std::memory_order_relaxed);
    return true;
}

bool MeterBallistics::TakeCount(std::atomic<int>& count) {
    int v = count.load(std::memory_order_relaxed);
    while (v > 0 && !count.compare_exchange_weak(v, v - 1, std::memory_order_relaxed)) {
    }
    return v > 0;
}

bool MeterBallistics::TakeScreenOverload(int channel) {
    return TakeCount(overloadScreen_[channel & 1]);
}

bool MeterBallistics::TakeOverlayOverload(int channel) {
    return TakeCount(overloadOverlay_[channel & 1]);
}

}  // namespace velmor
