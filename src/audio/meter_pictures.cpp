#include "audio/meter_pictures.h"

#include <algorithm>
#include <cstring>

#include "video/text_rasteriser.h"

namespace velmor {
namespace {

constexpr uint32_t kOpaqueBlack = 0xFF000000;
constexpr int kHorizontal = 0, kVertical = 1, kWaveform = 2;
constexpr const char* kBoundaryLabels[6] = {"-12", " - 8 ", " - 4 ", " +4 ", " +8 ", " +12 "};
constexpr int kBoundaries[6] = {1, 2, 3, 5, 6, 7};  // the zero label stands at 4

void FillRect(ImageBuffer& pic, int x0, int y0, int x1, int y1, uint32_t colour) {
    if (pic.empty()) return;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, pic.width);
    y1 = std::min(y1, pic.height);
    if (x0 >= x1 || y0 >= y1) return;
    uint8_t bytes[4];
    std::memcpy(bytes, &colour, 4);  // little-endian ARGB: B, G, R, A in memory
    for (int y = y0; y < y1; ++y) {
        uint8_t* p = pic.pixels() + (int64_t{y} * pic.width + x0) * 4;
        for (int x = x0; x < x1; ++x, p += 4)
            std::memcpy(p, bytes, 4);
    }
}

// A label picture of w x h with `text` rendered in it, or an empty one.
void MakeLabel(ImageBuffer& label, int w, int h, const char* text, int alpha,
               ITextRasteriser& rasteriser) {
    if (!label.FillColour(w, h, 0, 0, 0, 0) || !label.RenderText(text, alpha, rasteriser))
        label.Clear();
}

}  // namespace

void MeterPictures::Size(int layout, int W, int H) {
    ++geometry_;
    layout_ = layout;
    frameWidth_ = W;
    frameHeight_ = H;
    const bool portrait = H > W;
    int labelW = 0, labelH = 0;
    if (layout == kHorizontal) {
        barWidth_ = W * 8 / 10;
        barHeight_ = portrait ? H / 20 : H / 10;
        labelW = barWidth_ / 16;
        labelH = barHeight_ * 3 / 5;
    } else if (layout == kVertical) {
        barWidth_ = portrait ? W / 7 : W / 16;
        barHeight_ = portrait ? H / 2 : H * 4 / 5;
        labelW = barWidth_ * 3 / 5;
        labelH = barHeight_ / 16;
    } else {
        barWidth_ = W * 5 / 16;
        barHeight_ = portrait ? H / 16 : H / 8;
    }
    for (ImageBuffer& l : scaleLabels_)
        l.Clear();
    for (ImageBuffer& l : zeroLabels_)
        l.Clear();
    if (layout != kWaveform && rasteriser_ && labelW > 0 && labelH > 0) {
        for (int k = 0; k < 6; ++k)
            MakeLabel(scaleLabels_[k], labelW, labelH, kBoundaryLabels[k], 8, *rasteriser_);
        // White on an opaque box across the horizontal bar; clear around it on the vertical one.
        const int zeroAlpha = layout == kHorizontal ? 8 : 0;
        MakeLabel(zeroLabels_[0], labelW, labelH, "0dBu", zeroAlpha, *rasteriser_);
        MakeLabel(zeroLabels_[1], labelW, labelH, "0VU", zeroAlpha, *rasteriser_);
    }
    if (layout == kHorizontal) {
        zeroMarkPos_ = 2 + 4 * ((barWidth_ - 4) / 8) - labelW / 2;
    } else if (layout == kVertical) {
        zeroMarkPos_ = barHeight_ - 2 - 4 * ((barHeight_ - 4) / 8) - labelH / 2;
    } else {
        zeroMarkPos_ = 0;
    }
}

void MeterPictures::Build(int layout, int frameWidth, int frameHeight, bool smpte,
                          const MeterBars& bars) {
    if (layout < kHorizontal || layout > kWaveform) layout = kHorizontal;
    frameWidth = std::max(frameWidth, 0);
    frameHeight = std::max(frameHeight, 0);
    if (layout != layout_ || frameWidth != frameWidth_ || frameHeight != frameHeight_)
        Size(layout, frameWidth, frameHeight);

    MeterPicture& slot = pictures_.Back();
    if (slot.geometry != geometry_ || slot.layout != layout_) PrepareSlot(slot);
    const int scale = smpte ? 1 : 0;
    if (layout_ != kWaveform && slot.drawnScale != scale) DrawZeroLabel(slot, scale);
    if (layout_ == kWaveform) {
        DrawWaveform(slot, bars);
    } else {
        DrawBars(slot, bars);
    }
    slot.uyvaReady = false;
    if (uyvaWanted_.load(std::memory_order_relaxed) && slot.uyva.CopyRGBAdataFrom(slot.picture)) {
        slot.uyva.ConvertToUYVA();
        slot.uyvaReady = true;
    }
    pictures_.Publish();
}

void MeterPictures::PrepareSlot(MeterPicture& slot) {
    slot.layout = layout_;
    slot.geometry = geometry_;
    slot.frameWidth = frameWidth_;
    slot.frameHeight = frameHeight_;
    slot.drawnScale = -1;
    ImageBuffer& pic = slot.picture;
    if (!pic.FillColour(barWidth_, barHeight_, 0, 0, 0, 255)) return;
    if (layout_ == kWaveform) return;
    for (int k = 0; k < 6; ++k) {
        const ImageBuffer& label = scaleLabels_[k];
        if (layout_ == kHorizontal) {
            const int x = 2 + kBoundaries[k] * ((barWidth_ - 4) / 8) - label.width / 2;
            label.DrawOnto(x, 0, kAnchorCentreDown, kDrawCopy, pic.pixels(), kPixelBGRA, pic.width,
                           pic.height);
        } else {
            const int y =
                barHeight_ - 2 - kBoundaries[k] * ((barHeight_ - 4) / 8) - label.height / 2;
            label.DrawOnto(0, y, kAnchorCentreAcross, kDrawCopy, pic.pixels(), kPixelBGRA,
                           pic.width, pic.height);
        }
    }
}

// The zero label of the scale now shown: copied over the horizontal bar at once; on the vertical
// bar its box is cleared and the label blended in with the bars.
void MeterPictures::DrawZeroLabel(MeterPicture& slot, int smpte) {
    ImageBuffer& pic = slot.picture;
    if (layout_ == kHorizontal) {
        zeroLabels_[smpte].DrawOnto(zeroMarkPos_, 0, kAnchorCentreDown, kDrawCopy, pic.pixels(),
                                    kPixelBGRA, pic.width, pic.height);
    } else {
        FillRect(pic, pic.width / 4, pic.height * 7 / 16, pic.width * 3 / 4,
                 pic.height * 7 / 16 + pic.height / 8, kOpaqueBlack);
    }
    slot.drawnScale = smpte;
}

void MeterPictures::DrawBars(MeterPicture& slot, const MeterBars& bars) {
    ImageBuffer& pic = slot.picture;
    if (pic.empty()) return;
    const int W = pic.width, H = pic.height;
    const int positions[2] = {bars.left, bars.right};
    const bool overloads[2] = {bars.overloadLeft, bars.overloadRight};
    constexpr int kUnits = 48;  // positions per segment
    for (int c = 0; c < 2; ++c) {
        const int pos = std::clamp(positions[c], 0, 8 * kUnits);
        if (layout_ == kVertical) {
            const int bw = W * 2 / 7;
            const int x0 = c == 0 ? 1 : W - 1 - bw;
            const int x1 = x0 + bw;
            const int s = (H - 4) / 8;
            int filledTop = H - 2;  // rows below this are coloured
            for (int i = 0; i < 8; ++i) {
                const int segBottom = H - 2 - i * s;
                const bool full = pos >= kUnits * (i + 1);
                const int part = full ? s : pos > kUnits * i ? (pos - kUnits * i) * s / kUnits : 0;
                FillRect(pic, x0, segBottom - part, x1, segBottom, kColours[i]);
                filledTop = segBottom - part;
                if (!full) break;
            }
            FillRect(pic, x0, 2, x1, filledTop, kOpaqueBlack);
            if (overloads[c]) FillRect(pic, x0, 2, x1, 2 + s / 4, kColours[8]);
        } else {
            const int rows = H / 3;
            const int y0 = c == 0 ? 1 : H * 2 / 3;
            const int y1 = y0 + rows;
            const int s = (W - 4) / 8;
            int filledRight = 2;
            for (int i = 0; i < 8; ++i) {
                const int segLeft = 2 + i * s;
                const bool full = pos >= kUnits * (i + 1);
                const int part = full ? s : pos > kUnits * i ? (pos - kUnits * i) * s / kUnits : 0;
                FillRect(pic, segLeft, y0, segLeft + part, y1, kColours[i]);
                filledRight = segLeft + part;
                if (!full) break;
            }
            FillRect(pic, filledRight, y0, W - 2, y1, kOpaqueBlack);
            if (overloads[c]) FillRect(pic, W - 2 - s / 4, y0, W - 2, y1, kColours[8]);
        }
    }
    if (layout_ == kVertical) {
        zeroLabels_[slot.drawnScale == 1 ? 1 : 0].DrawOnto(
            0, zeroMarkPos_, kAnchorCentreAcross, kDrawBlend, pic.pixels(), kPixelBGRA, W, H);
    }
}

// The middle 7/8 of the rows scroll left by one step of (width - 4) / 32 pixels, and the newest
// line stands at the right edge, as high as the louder overlay target.
void MeterPictures::DrawWaveform(MeterPicture& slot, const MeterBars& bars) {
    ImageBuffer& pic = slot.picture;
    if (pic.empty()) return;
    const int W = pic.width, H = pic.height;
    const int step = std::max((W - 4) / 32, 1);
    const int y0 = H / 16, y1 = y0 + H * 7 / 8;
    const MeterPicture& prev = pictures_.LastPublished();
    const bool scroll = &prev != &slot && prev.geometry == slot.geometry &&
                        prev.layout == slot.layout && !prev.picture.empty() &&
                        prev.picture.width == W && prev.picture.height == H;
    if (scroll && W > step) {
        for (int y = y0; y < y1; ++y) {
            const int64_t row = int64_t{y} * W * 4;
            std::memcpy(pic.pixels() + row, prev.picture.pixels() + row + int64_t{step} * 4,
                        static_cast<size_t>(W - step) * 4);
        }
        FillRect(pic, W - step, y0, W, y1, kOpaqueBlack);
    } else {
        FillRect(pic, 0, y0, W, y1, kOpaqueBlack);
    }
    const int target = std::clamp(bars.waveform, 0, 8 * 48);
    const int lineH = (H * 7 / 8) * target / (8 * 48);
    const int top = H / 2 - lineH / 2;
    FillRect(pic, W - step, top, W - step + std::max(step / 2, 1), top + lineH, kColours[3]);
}

}  // namespace velmor
