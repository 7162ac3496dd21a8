// The two-channel peak programme meter, made of its three parts: measuring each block
// (meter_measure.h), the bar ballistics (meter_ballistics.h) and the overlay pictures
// (meter_pictures.h); the on-screen bars' geometry is meter_screen.h. This class joins them as the
// threads use them: the audio thread's MeterBlock, the window's MeterTick, the video thread's
// pictures.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/audio_kernels.h"
#include "audio/meter_ballistics.h"
#include "audio/meter_pictures.h"
#include "audio/meter_screen.h"

namespace velmor {

class ITextRasteriser;
struct MeterSettings;

// The meter's run-time state beside the stored MeterSettings, one copy each, owned by the relay
// record: the change bits that the window (configuration window, PPM overlay button), the audio
// thread (MeterBlock) and the video thread (connection set-up, frame size, placement) set and
// clear, and what the measuring step reports. Every field may be touched by all three threads.
struct MeterLink {
    std::atomic<uint8_t> meterChangeFlags{0};  // bits of meter_settings.h (kMeterChange...)
    std::atomic<int32_t> meterRefreshFrames{0};
    std::atomic<float> leftPeakPositive{0.0f};
    std::atomic<float> meterScale{0.1f};  // 10^(-16/20) for EBU, 0.1 for SMPTE
};

// The meter's two 18 ms timers: one moves the on-screen bars, the other the overlay bars (and
// builds the overlay picture).
enum class MeterTimer { ScreenBars, OverlayBars };

// Threads: MeterBlock and AudioEnded on the audio thread; MeterTick, SetOverlayEnabled and the
// on-screen accessors on the window thread; pictures().Acquire on the video thread.
class PpmMeter {
public:
    explicit PpmMeter(ITextRasteriser* rasteriser = nullptr);

    // Audio thread: measures one block (planes may be null: that channel meters 0) and sets the
    // levels. While the Audio Map window previews a gain above 1.0, pass it as `previewGain`: each
    // sample is first multiplied by it and written back, as the monitor hears it. `settings`
    // gives the mode (vMix or Normal); its change bits are taken up here; `ebuMode` the output
    // standard of this block.
    void MeterBlock(MeterLink& link, const MeterSettings& settings, int ebuMode, float* left,
                    float* right, int samples, double previewGain = 1.0);
    // Audio thread, as it ends: the bars fall away instead of standing at the last level.
    void AudioEnded() { ballistics_.AudioEnded(); }

    // Window thread, every 18 ms for each timer. Returns true when the control should be
    // repainted. The overlay bars' tick also builds the next overlay picture, of the stored layout
    // for frames of frameWidth x frameHeight, while the overlay is in use.
    bool MeterTick(MeterTimer timer, const MeterSettings& settings, int frameWidth,
                   int frameHeight);

    // Window thread: the overlay bars and pictures are in use (the PPM overlay button, or the
    // separate meter output).
    void SetOverlayEnabled(bool on) { overlayEnabled_.store(on, std::memory_order_relaxed); }
    bool overlayEnabled() const { return overlayEnabled_.load(std::memory_order_relaxed); }

    // The on-screen bars (window thread).
    static constexpr int kFullScale = MeterBallistics::kFullScale;
    int shownLeft() const { return ballistics_.shownLeft(); }
    int shownRight() const { return ballistics_.shownRight(); }
    bool TakeScreenOverload(int channel) { return ballistics_.TakeScreenOverload(channel); }

    MeterBallistics& ballistics() { return ballistics_; }
    MeterPictures& pictures() { return pictures_; }
    // The standard of the block measured last: 1 SMPTE, 0 EBU.
    int smpteScale() const { return smpteScale_.load(std::memory_order_relaxed); }

private:
    const AudioKernels& kernels_;
    MeterBallistics ballistics_;
    MeterPictures pictures_;
    std::atomic<int> smpteScale_{0};
    std::atomic<bool> overlayEnabled_{false};
};

}  // namespace velmor
