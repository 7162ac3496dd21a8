#include "video/timecode_burn_in.h"

#include <cmath>

namespace velmor {

bool PrepareDigitImages(ImageBuffer (&g)[kDigitImageCount]) {
    bool ok = true;
    for (int i = 0; i <= kColonGlyph; ++i) {
        g[i].MakeSolid();
        ImageBuffer& uyva = g[i + kColonGlyph + 1];
        if (!uyva.CopyRGBAdataFrom(g[i])) ok = false;
        uyva.ConvertToUYVA();
    }
    return ok;
}

std::array<int, 11> TimecodeGlyphs(int64_t timecode, float rate, int64_t frameDuration) {
    if (timecode < 0) timecode = 0;
    const int64_t s = timecode / 10'000'000;
    const int hours = static_cast<int>((s / 3600) % 24);
    const int minutes = static_cast<int>((s / 60) % 60);
    const int seconds = static_cast<int>(s % 60);
    int frameTens = 1, frameUnits = 1;
    if (std::fabs(rate) >= 1.0f) {  // the rate's whole part is not 0 (false for NaN)
        const int64_t f = frameDuration > 0 ? (timecode - s * 10'000'000) / frameDuration : 0;
        frameTens = static_cast<int>((f / 10) % 10);
        frameUnits = static_cast<int>(f % 10);
    }
    return {hours / 10,   hours % 10,   kColonGlyph, minutes / 10, minutes % 10, kColonGlyph,
            seconds / 10, seconds % 10, kColonGlyph, frameTens,    frameUnits};
}

TimecodeGlyphSet TimecodeGlyphSetFor(uint32_t fourCC) {
    if (fourCC == NDIlib_FourCC_video_type_BGRA || fourCC == NDIlib_FourCC_video_type_BGRX)
        return {0, kPixelBGRA};
    if (fourCC == NDIlib_FourCC_video_type_UYVY) return {kColonGlyph + 1, kPixelUYVY};
    return {};
}

void BurnInTimecode(const FrameView& frame, int64_t timecode, float rate, int64_t frameDuration,
                    const ImageBuffer (&digitImages)[kDigitImageCount]) {
    BurnInTimecode(frame, TimecodeGlyphSetFor(frame.fourCC), timecode, rate, frameDuration,
                   digitImages, BestBlendRows());
}

void BurnInTimecode(const FrameView& frame, TimecodeGlyphSet set, int64_t timecode, float rate,
                    int64_t frameDuration, const ImageBuffer (&digitImages)[kDigitImageCount],
                    const BlendRowKernels& blend, RowSpan rows) {
    if (set.first < 0) return;
    static constexpr int kOffsets[11] = {0, 56, 112, 136, 192, 248, 272, 328, 384, 408, 464};
    const int W = frame.width, H = frame.height;
    const int x0 = (W - 520) / 2;
    const int y0 = H - H / 8 - 72;
    const std::array<int, 11> glyphs = TimecodeGlyphs(timecode, rate, frameDuration);
    for (int i = 0; i < 11; ++i) {
        digitImages[set.first + glyphs[i]].DrawOnto(x0 + kOffsets[i], y0, kAnchorTopLeft,
                                                    kDrawBlend, frame.data, set.kind, W, H,
                                                    frame.stride, blend, rows);
    }
}

}  // namespace velmor
