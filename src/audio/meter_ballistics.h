// The meter's bar ballistics: the levels of each block become held positions with overload marks
// (audio thread), and the shown positions follow them, rising at once and falling ever faster
// (window thread, every 18 ms). Two sets of bars: the on-screen twin bars (positions 0..384 of the
// integer level) and the overlay bars (in 48ths of a segment of the overlay's scale).
//
// Threads: SetLevels and AudioEnded on the audio thread, the ticks and the Take... calls on the
// window thread. What crosses between them is atomic; the shown positions are the window's.
#pragma once

#include <atomic>

namespace velmor {

class MeterBallistics {
public:
    static constexpr int kFullScale = 384;    // on-screen positions
    static constexpr int kSegmentUnits = 48;  // overlay positions per segment
    static constexpr int kOverlayFull = 384;  // eight segments

    // What a block is measured against.
    struct Scale {
        bool smpte = false;        // SMPTE output (else EBU)
        bool vmix = false;         // vMix mode: NDI levels 20 dB low
        bool overlayBars = false;  // the overlay bars are in use (the PPM overlay or meter source)
    };

    // Audio thread: the integer levels of one block (MeterLevel) and its peaks. The holds rise to
    // the new positions (or take them after a tick asked for it); levels above the overload
    // threshold light the marks; with overlay bars, their segment levels follow the peaks.
    void SetLevels(int left, int right, float peakLeft, float peakRight, const Scale& scale);
    // Audio thread, as it ends: holds, peaks and segment levels to 0, so the bars fall away.
    void AudioEnded();

    // Window thread, every 18 ms. The on-screen bars fall towards the holds; the overlay bars'
    // targets follow the segment levels and their bars fall towards them. The tick of the bars in
    // use takes the holds afresh from the next block and returns true (repaint).
    bool TickScreen(bool overlayBars);
    bool TickOverlay(bool overlayBars);

    // Window thread: the positions shown, and whether an overload mark shows this time (each mark
    // shows for a count of repaints or overlay pictures).
    int shownLeft() const { return shown_[0]; }
    int shownRight() const { return shown_[1]; }
    int overlayShown(int channel) const { return segShown_[channel & 1]; }
    int overlayTarget(int channel) const { return segTarget_[channel & 1]; }
    bool TakeScreenOverload(int channel);
    bool TakeOverlayOverload(int channel);

    // Any thread (tests, the window's description): what the audio thread last set.
    int hold(int channel) const { return hold_[channel & 1].load(std::memory_order_relaxed); }
    float peak(int channel) const { return peak_[channel & 1].load(std::memory_order_relaxed); }
    float segmentLevel(int channel) const {
        return segLevel_[channel & 1].load(std::memory_order_relaxed);
    }
    float dbOffset() const { return dbOffset_.load(std::memory_order_relaxed); }

    // One tick of the accelerating fall of a shown position towards its target: it moves 0, 0, 0,
    // 1, 1, 1, 2, 2, 2, then 3 units a tick; a rise is immediate.
    static void FallStep(int& shown, int target, int& counter);

private:
    static bool TakeCount(std::atomic<int>& count);

    std::atomic<int> hold_[2] = {0, 0};
    std::atomic<int> resetHold_{0};
    std::atomic<int> overloadScreen_[2] = {0, 0};
    std::atomic<int> overloadOverlay_[2] = {0, 0};
    std::atomic<float> peak_[2] = {0.0f, 0.0f};
    std::atomic<float> segLevel_[2] = {0.0f, 0.0f};
    std::atomic<float> dbOffset_{0.0f};

    // Window thread only.
    int shown_[2] = {0, 0}, fallShown_[2] = {0, 0};
    int segTarget_[2] = {0, 0}, segShown_[2] = {0, 0}, fallSeg_[2] = {0, 0};
};

}  // namespace velmor
