// The meter's overlay pictures: the bars drawn into a BGRA picture sized for the output frame (a
// horizontal bar, a vertical bar or a scrolling waveform line), with the scale's labels, handed to
// the video thread whole.
//
// Threads: Build on the window thread (every 18 ms while the overlay is in use); Acquire and
// WantUyva on the video thread. The pictures go through a triple buffer, so the picture the video
// thread holds is never the one being drawn.
#pragma once

#include <atomic>
#include <cstdint>

#include "video/image_buffer.h"
#include "video/publisher.h"

namespace velmor {

class ITextRasteriser;

// One finished picture as the video thread sees it.
struct MeterPicture {
    ImageBuffer picture;  // BGRA
    // The picture in UYVA, for UYVY frames, made with it while the video path asks for it;
    // uyvaReady says whether this slot's copy is the picture's.
    ImageBuffer uyva;
    bool uyvaReady = false;
    int32_t layout = -1;     // drawn as: 0 horizontal, 1 vertical, 2 waveform
    uint32_t geometry = 0;   // which sizing it was made with (changes with the layout or size)
    int32_t frameWidth = 0;  // the output frame it was sized for
    int32_t frameHeight = 0;
    int32_t drawnScale = -1;  // the zero label drawn: 1 SMPTE ("0VU"), 0 EBU ("0dBu")
};

// What the bars show in one picture.
struct MeterBars {
    int left = 0, right = 0;  // overlay positions 0..384
    int waveform = 0;         // the waveform line's height, 0..384
    bool overloadLeft = false, overloadRight = false;
};

class MeterPictures {
public:
    // Segment colours from the bottom (or left), then the overload mark: ARGB, stored B, G, R, A.
    static constexpr uint32_t kColours[9] = {0xFF298B2E, 0xFF299B2E, 0xFF45B136,
                                             0xFF45C136, 0xFF98C136, 0xFFBAC136,
                                             0xFFD39837, 0xFFF2472F, 0xFFF41111};

    explicit MeterPictures(ITextRasteriser* rasteriser) : rasteriser_(rasteriser) {}

    // Window thread: draws the next picture of `layout` (0..2; another value reads as 0) for
    // frames of frameWidth x frameHeight with the SMPTE or EBU zero label, and publishes it. The
    // sizes and labels are made again when the layout or the frame size changed.
    void Build(int layout, int frameWidth, int frameHeight, bool smpte, const MeterBars& bars);

    // Video thread: the newest finished picture (never null; empty before the first).
    const MeterPicture* Acquire() { return pictures_.Acquire(); }
    // Video thread: whether the pictures are wanted in UYVA too (the meter lies on UYVY frames).
    void WantUyva(bool wanted) { uyvaWanted_.store(wanted, std::memory_order_relaxed); }

    // Window thread: the size of the pictures of the current layout and where the zero label lies
    // along the bar.
    int barWidth() const { return barWidth_; }
    int barHeight() const { return barHeight_; }
    int zeroMarkPos() const { return zeroMarkPos_; }

private:
    void Size(int layout, int frameWidth, int frameHeight);
    void PrepareSlot(MeterPicture& slot);
    void DrawZeroLabel(MeterPicture& slot, int smpte);
    void DrawBars(MeterPicture& slot, const MeterBars& bars);
    void DrawWaveform(MeterPicture& slot, const MeterBars& bars);

    ITextRasteriser* rasteriser_;
    TripleBuffer<MeterPicture> pictures_;
    std::atomic<bool> uyvaWanted_{false};

    // Window thread: the sizing the pictures are made with.
    uint32_t geometry_ = 0;
    int layout_ = -1;
    int frameWidth_ = -1, frameHeight_ = -1;
    int barWidth_ = 0, barHeight_ = 0;
    int zeroMarkPos_ = 0;
    ImageBuffer zeroLabels_[2];  // "0dBu" (EBU), "0VU" (SMPTE)
    ImageBuffer scaleLabels_[6];
};

}  // namespace velmor
