#include "audio/ppm_meter.h"

#include <algorithm>

#include "audio/meter_measure.h"
#include "audio/meter_settings.h"

namespace velmor {

PpmMeter::PpmMeter(ITextRasteriser* rasteriser)
    : kernels_(AudioKernelsFor(BestKernelLevel())), pictures_(rasteriser) {}

void PpmMeter::MeterBlock(MeterLink& link, const MeterSettings& settings, int ebuMode, float* left,
                          float* right, int samples, double previewGain) {
    const bool ebu = ebuMode != 0;
    const float scale = ebu ? kMeterScaleEbu : kMeterScaleSmpte;
    link.meterScale.store(scale, std::memory_order_relaxed);
    smpteScale_.store(ebu ? 0 : 1, std::memory_order_relaxed);

    const BlockPeaks peaks = MeasureBlock(kernels_, left, right, samples, previewGain);
    link.leftPeakPositive.store(peaks.leftPositive, std::memory_order_relaxed);

    // The mode is read from the stored choice itself; its bit only says it changed.
    std::atomic<uint8_t>& flags = link.meterChangeFlags;
    if (flags.load() & kMeterChangeMode)
        flags.fetch_and(static_cast<uint8_t>(~(kMeterChangeMode | kMeterChangeBit7)));
    MeterBallistics::Scale s;
    s.smpte = !ebu;
    s.vmix = LoadMeterSetting(settings.meterMode) != 0;
    s.overlayBars = overlayEnabled();
    ballistics_.SetLevels(MeterLevel(peaks.left, scale), MeterLevel(peaks.right, scale), peaks.left,
                          peaks.right, s);

    // A new layout: the pictures are made again from the stored layout at the next tick, and the
    // video path places the meter again.
    if (flags.load() & kMeterChangeLayout) {
        flags.fetch_and(static_cast<uint8_t>(~(kMeterChangeLayout | kMeterChangeBit7)));
        flags.fetch_or(kMeterChangePicture);
        link.meterRefreshFrames.store(1, std::memory_order_relaxed);
    } else if (link.meterRefreshFrames.load(std::memory_order_relaxed) != 0) {
        flags.fetch_or(kMeterChangePicture);
        link.meterRefreshFrames.fetch_sub(1, std::memory_order_relaxed);
    }
}

bool PpmMeter::MeterTick(MeterTimer timer, const MeterSettings& settings, int frameWidth,
                         int frameHeight) {
    const bool overlay = overlayEnabled();
    if (timer == MeterTimer::ScreenBars) return ballistics_.TickScreen(overlay);
    const bool repaint = ballistics_.TickOverlay(overlay);
    if (overlay) {
        const int layout = LoadMeterSetting(settings.meterLayout);
        MeterBars bars;
        bars.left = ballistics_.overlayShown(0);
        bars.right = ballistics_.overlayShown(1);
        bars.waveform = std::max(ballistics_.overlayTarget(0), ballistics_.overlayTarget(1));
        // The marks count the bar pictures that show them; the waveform has none.
        if (layout != 2) {
            bars.overloadLeft = ballistics_.TakeOverlayOverload(0);
            bars.overloadRight = ballistics_.TakeOverlayOverload(1);
        }
        pictures_.Build(layout, frameWidth, frameHeight, smpteScale() != 0, bars);
    }
    return repaint;
}

}  // namespace velmor
