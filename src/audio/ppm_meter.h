// The two-channel peak programme meter: measuring audio blocks, bar ballistics with overload hold,
// the on-screen bar geometry and the overlay pictures that the video path lays over the output.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "video/image_buffer.h"
#include "video/publisher.h"

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

// One finished overlay picture as the video thread sees it: a BGRA picture of the layout it was
// drawn for (0 horizontal and 2 waveform: the "horizontal" picture; 1: the vertical one).
struct MeterPicture {
    ImageBuffer picture;
    // The picture in UYVA, for UYVY frames, made with it while the video path asks for it
    // (uyvaWanted); uyvaReady says whether this slot's copy is the picture's.
    ImageBuffer uyva;
    bool uyvaReady = false;
    int32_t layout = -1;
    uint32_t geometry = 0;    // which sizing the slot was prepared for
    int32_t drawnScale = -1;  // smpteScale the zero label was drawn for
};

// Rectangles of the on-screen meter (control PMeterButton), left/top inclusive, right/bottom
// exclusive, in client coordinates, painted in array order.
struct MeterPaintRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    uint8_t r = 0, g = 0, b = 0;
};
struct MeterScreenLayout {
    MeterPaintRect rects[6];
    int rectCount = 0;
    struct Label {
        const char* text;
        int x, y;
    } labels[3];
    int labelCount = 0;  // 0 when the scale text is off
};

// Threads: MeterBlock and SetLevels run on the audio thread; MeterTick, BuildOverlayPicture and
// the paint on the window thread; AcquireOverlayPicture on the video thread only. Shared members
// are atomics; the overlay pictures are handed over through a triple buffer, so the picture the
// video thread holds is never the one being drawn.
class PpmMeter {
public:
    explicit PpmMeter(ITextRasteriser* rasteriser = nullptr) : rasteriser_(rasteriser) {}

    static constexpr int kSegmentUnits = 48;  // overlay position units per segment
    static constexpr int kOverlayFull = 384;
    static constexpr uint32_t kOverlayColours[9] = {0xFF298B2E, 0xFF299B2E, 0xFF45B136,
                                                    0xFF45C136, 0xFF98C136, 0xFFBAC136,
                                                    0xFFD39837, 0xFFF2472F, 0xFFF41111};

    // Audio thread: measures one block. Planes may be null (that channel meters 0). While the
    // Audio Map dialog previews a gain above 1.0, pass it as `mapGain`: each sample is first
    // multiplied by it and written back, as the monitor hears it. `settings` gives the mode and
    // layout taken up on bits 1 and 2; `ebuMode` the output standard of this block.
    void MeterBlock(MeterLink& link, const MeterSettings& settings, int ebuMode, float* left,
                    float* right, int samples, double mapGain = 1.0);
    // Audio thread: integer levels (0..32767 for full-scale audio) to bar positions and overloads.
    void SetLevels(int a, int b);
    // Window thread, every 18 ms for timers 1 and 2. Returns true when the control should be
    // repainted. Timer 2 also rebuilds the overlay picture while ppmEnabled is set.
    bool MeterTick(int timerId);
    // Window thread: draws the next overlay picture and publishes it.
    void BuildOverlayPicture();
    // Video thread: the newest finished overlay picture (never null; empty before the first).
    const MeterPicture* AcquireOverlayPicture() { return pictures_.Acquire(); }

    // Video or window thread: the output frame size changed, or the layout must be redrawn.
    void SetFrameSize(int w, int h);
    void SetLayout(int newLayout) {
        layout.store(newLayout, std::memory_order_relaxed);
        meterGeometryDirty.store(1, std::memory_order_release);
    }
    // Both the segment style and the overlay building follow the PPM overlay / separate output.
    void SetOverlayEnabled(bool on) {
        segmentStyle.store(on, std::memory_order_relaxed);
        ppmEnabled.store(on, std::memory_order_relaxed);
    }
    // The audio thread ends: holds, peaks and segment levels go to 0, so both the on-screen bars
    // and the overlay bars fall away instead of standing at the last level.
    void AudioEnded();
    // Paint (window thread): whether the overload mark shows this repaint; counts one down.
    bool TakeScreenOverload(int channel);

    int fullScale = 384;
    int scaleText = 1;

    std::atomic<int> holdLeft{0}, holdRight{0};
    std::atomic<int> resetHold{0};
    std::atomic<int> overloadScreenLeft{0}, overloadScreenRight{0};
    std::atomic<int> overloadOverlayLeft{0}, overloadOverlayRight{0};
    std::atomic<float> peakLeft{0.0f}, peakRight{0.0f};
    std::atomic<float> segLevelLeft{0.0f}, segLevelRight{0.0f};
    std::atomic<float> dbOffset{0.0f};
    std::atomic<int> vmixMode{0};
    std::atomic<int> smpteScale{0};
    std::atomic<int> layout{0};
    std::atomic<int> segmentStyle{0}, ppmEnabled{0};
    std::atomic<int> meterGeometryDirty{1};
    // Set by the video thread while it draws the meter onto UYVY frames: each picture then comes
    // with its UYVA copy, made here rather than on every frame.
    std::atomic<bool> uyvaWanted{false};
    std::atomic<int> meterFrameWidth{1920}, meterFrameHeight{1080};

    // Window thread only.
    int shownLeft = 0, shownRight = 0;
    int segTargetLeft = 0, segTargetRight = 0;
    int segShownLeft = 0, segShownRight = 0;
    int fallShownLeft = 0, fallShownRight = 0, fallSegLeft = 0, fallSegRight = 0;
    int barWidth = 0, barHeight = 0;
    int zeroMarkPos = 0;

    // Pure: the position 0..fullScale of an integer level, and the integer dB approximation.
    static int LevelToDb(int level);
    static int DbToPosition(int dB, int fullScale);
    // Pure: the overlay bar position in segments 0..8 of a peak (L = 20 log10(peak) + offset).
    static float SegmentLevel(float peak, float offset);
    // Pure: one tick of the accelerating fall of a shown position towards its target.
    static void FallStep(int& shown, int target, int& counter);

private:
    void PrepareSlot(MeterPicture& slot, int lay);
    void DrawLabels(MeterPicture& slot, int lay);
    void DrawBars(MeterPicture& slot, int lay);
    void DrawWaveform(MeterPicture& slot);

    ITextRasteriser* rasteriser_;
    TripleBuffer<MeterPicture> pictures_;
    uint32_t geometry_ = 0;
    int builtLayout_ = -1;
    ImageBuffer zeroLabels_[2];  // "0dBu" (EBU), "0VU" (SMPTE)
    ImageBuffer scaleLabels_[6];
};

// The on-screen twin bars for a client area of clientW x clientH with `edge` pixels of system
// edge on every side.
MeterScreenLayout MeterScreenGeometry(int clientW, int clientH, int edge, int shownLeft,
                                      int shownRight, int fullScale, bool overloadLeft,
                                      bool overloadRight, bool scaleText);

}  // namespace velmor
