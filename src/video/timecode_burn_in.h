// Burning the running timecode HH:MM:SS:FF into the output frame from 22 glyph pictures.
#pragma once

#include <array>
#include <cstdint>

#include "video/frame_view.h"
#include "video/image_buffer.h"

namespace velmor {

inline constexpr int kDigitImageCount = 22;  // 0-9 and colon in BGRA, then the same in UYVA
inline constexpr int kColonGlyph = 10;

// Window thread, once: entries 0..10 hold the decoded digit (56 x 72) and colon (24 x 72)
// pictures in BGRA; they are made solid and copied to 11..21, which become UYVA.
// False when a copy cannot be allocated.
bool PrepareDigitImages(ImageBuffer (&digitImages)[kDigitImageCount]);

// The 11 glyph numbers (0..10) drawn for a timecode in 100 ns units at `rate` frames per second,
// `frameDuration` being 10,000,000 / output rate in 100 ns units. A rate below 1 shows frames
// "11". Negative timecodes count as 0.
std::array<int, 11> TimecodeGlyphs(int64_t timecode, float rate, int64_t frameDuration);

// Video thread, per frame: blends the glyphs onto a BGRA (or BGRX) frame with entries 0..10 or a
// UYVY frame with entries 11..21, centred, bottom at 7/8 of the height. Other FourCCs are left
// alone. The glyph pictures must not change while this runs.
void BurnInTimecode(const FrameView& frame, int64_t timecode, float rate, int64_t frameDuration,
                    const ImageBuffer (&digitImages)[kDigitImageCount]);

// The glyphs for frames of one FourCC, chosen once: the first of the 11 glyphs in digitImages and
// the DrawOnto kind of the frame; first -1 (kind None) for FourCCs that get no timecode.
struct TimecodeGlyphSet {
    int first = -1;
    PixelKind kind = PixelKind::None;
};
TimecodeGlyphSet TimecodeGlyphSetFor(uint32_t fourCC);
// BurnInTimecode with the set and the blend kernels chosen, on the frame's rows within `rows`.
void BurnInTimecode(const FrameView& frame, TimecodeGlyphSet set, int64_t timecode, float rate,
                    int64_t frameDuration, const ImageBuffer (&digitImages)[kDigitImageCount],
                    const BlendRowKernels& blend, RowSpan rows = {});

}  // namespace velmor
