#include "audio/ppm_meter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "audio/meter_settings.h"
#include "video/text_rasteriser.h"

namespace velmor {

namespace {

constexpr float kEbuScale = 0.15848932f;  // 10^(-16/20)
constexpr float kSmpteScale = 0.1f;
constexpr int kEbuOverload = 23040;
constexpr int kSmpteOverload = 29184;

struct Peaks {
    float positive = 0.0f;
    float peak = 0.0f;
};

Peaks ScanPlane(float* plane, int samples, double gain) {
    Peaks r;
    if (!plane) return r;
    float largest = 0.0f, smallest = 0.0f;
    const bool applyGain = gain > 1.0;
    for (int i = 0; i < samples; ++i) {
        float s = plane[i];
        if (applyGain) {
            s = static_cast<float>(static_cast<double>(s) * gain);
            plane[i] = s;
        }
        if (s > largest) {
            largest = s;
        } else if (s < smallest) {
            smallest = s;
        }
    }
    r.positive = largest;
    r.peak = std::max(largest, -smallest);
    return r;
}

int ToLevel(float peak, float scale) {
    const float x = peak * 32768.0f * scale;
    if (!(x > 0.0f)) return 0;
    if (x >= 2147483520.0f) return INT_MAX;  // loud or infinite samples: no overflow
    return static_cast<int>(x);
}

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

constexpr uint32_t kOpaqueBlack = 0xFF000000;

}  // namespace

void PpmMeter::MeterBlock(MeterLink& link, const MeterSettings& settings, int ebuMode, float* left,
                          float* right, int samples, double mapGain) {
    const bool ebu = ebuMode != 0;
    const float scale = ebu ? kEbuScale : kSmpteScale;
    link.meterScale.store(scale, std::memory_order_relaxed);
    smpteScale.store(ebu ? 0 : 1, std::memory_order_relaxed);

    samples = std::max(samples, 0);
    const Peaks l = ScanPlane(left, samples, mapGain);
    const Peaks r = ScanPlane(right, samples, mapGain);
    link.leftPeakPositive.store(l.positive, std::memory_order_relaxed);
    peakLeft.store(l.peak, std::memory_order_relaxed);
    peakRight.store(r.peak, std::memory_order_relaxed);

    if (link.meterChangeFlags.load() & kMeterChangeMode) {
        vmixMode.store(LoadMeterSetting(settings.meterMode), std::memory_order_relaxed);
        link.meterChangeFlags.fetch_and(
            static_cast<uint8_t>(~(kMeterChangeMode | kMeterChangeBit7)));
    }

    const int a = ToLevel(l.peak, scale);
    const int b = ToLevel(r.peak, scale);
    if (link.meterChangeFlags.load() & kMeterChangeLayout) {
        layout.store(LoadMeterSetting(settings.meterLayout), std::memory_order_relaxed);
        meterGeometryDirty.store(1, std::memory_order_release);
        SetLevels(a, b);
        link.meterChangeFlags.fetch_and(
            static_cast<uint8_t>(~(kMeterChangeLayout | kMeterChangeBit7)));
        link.meterChangeFlags.fetch_or(kMeterChangePicture);
        link.meterRefreshFrames.store(1, std::memory_order_relaxed);
    } else {
        SetLevels(a, b);
        if (link.meterRefreshFrames.load(std::memory_order_relaxed) != 0) {
            link.meterChangeFlags.fetch_or(kMeterChangePicture);
            link.meterRefreshFrames.fetch_sub(1, std::memory_order_relaxed);
        }
    }
}

int PpmMeter::LevelToDb(int level) {
    const unsigned d = level > 0 ? static_cast<unsigned>(level) - 1 : 0;
    const int n = d == 0 ? 0 : 32 - __builtin_clz(d);
    int f = 0;
    if (d >= 2) {
        // The two bits below the leading one; for d = 2 or 3 the missing lower bit reads as 0.
        f = n >= 3 ? static_cast<int>((d >> (n - 3)) & 3) : static_cast<int>((d << 1) & 3);
    }
    static constexpr int kFraction[4] = {0, 2, 4, 5};
    return 6 * n + kFraction[f];
}

int PpmMeter::DbToPosition(int dB, int full) {
    const int pos = dB < 54 ? full * dB / 1296 : full / 4 + full * (dB - 54) / 48;
    return std::clamp(pos, 0, full);  // levels beyond full scale (dB > 90) stay at the top
}

float PpmMeter::SegmentLevel(float peak, float offset) {
    if (peak == 0.0f || !(peak > 0.0f)) return 0.0f;
    const float L = 20.0f * std::log10(peak) + offset;
    const float u = std::max(L + 4.0f, -60.0f);
    if (u < -12.0f) return (u + 60.0f) / 48.0f;
    if (u <= 12.0f) return 1.0f + (u + 12.0f) / 4.0f;
    return 7.0f + std::min((u - 12.0f) / 8.0f, 1.0f);
}

void PpmMeter::SetLevels(int a, int b) {
    const int posA = DbToPosition(LevelToDb(a), fullScale);
    const int posB = DbToPosition(LevelToDb(b), fullScale);
    if (resetHold.exchange(0, std::memory_order_relaxed)) {
        holdLeft.store(posA, std::memory_order_relaxed);
        holdRight.store(posB, std::memory_order_relaxed);
    } else {
        if (posA > holdLeft.load(std::memory_order_relaxed)) holdLeft.store(posA);
        if (posB > holdRight.load(std::memory_order_relaxed)) holdRight.store(posB);
    }

    const bool smpte = smpteScale.load(std::memory_order_relaxed) != 0;
    const int threshold = smpte ? kSmpteOverload : kEbuOverload;
    if (a > threshold) {
        overloadOverlayLeft.store(18, std::memory_order_relaxed);
        overloadScreenLeft.store(12, std::memory_order_relaxed);
    }
    if (b > threshold) {
        overloadOverlayRight.store(18, std::memory_order_relaxed);
        overloadScreenRight.store(12, std::memory_order_relaxed);
    }

    if (segmentStyle.load(std::memory_order_relaxed) != 1) return;
    const bool vmix = vmixMode.load(std::memory_order_relaxed) != 0;
    const float t = vmix ? (smpte ? 16.0f : 14.0f) : (smpte ? -4.0f : 0.0f);
    dbOffset.store(t, std::memory_order_relaxed);
    const float pl = peakLeft.load(std::memory_order_relaxed);
    const float pr = peakRight.load(std::memory_order_relaxed);
    if (vmix) {
        const float over = smpte ? 14.5f : 12.5f;
        if (pl > 0.0f && 20.0f * std::log10(pl) + t > over) overloadOverlayLeft.store(18);
        if (pr > 0.0f && 20.0f * std::log10(pr) + t > over) overloadOverlayRight.store(18);
    }
    segLevelLeft.store(SegmentLevel(pl, t), std::memory_order_relaxed);
    segLevelRight.store(SegmentLevel(pr, t), std::memory_order_relaxed);
}

void PpmMeter::FallStep(int& shown, int target, int& counter) {
    if (shown - target > counter / 3) {
        shown -= counter / 3;
        if (counter / 3 < 3) ++counter;
    } else {
        shown = target;
        counter = 0;
    }
}

bool PpmMeter::MeterTick(int timerId) {
    bool repaint = false;
    if (timerId == 1) {
        FallStep(shownLeft, holdLeft.load(std::memory_order_relaxed), fallShownLeft);
        FallStep(shownRight, holdRight.load(std::memory_order_relaxed), fallShownRight);
        if (segmentStyle.load(std::memory_order_relaxed) == 0) {
            resetHold.store(1, std::memory_order_relaxed);
            repaint = true;
        }
    } else if (timerId == 2) {
        segTargetLeft = static_cast<int>(segLevelLeft.load(std::memory_order_relaxed) * 48);
        segTargetRight = static_cast<int>(segLevelRight.load(std::memory_order_relaxed) * 48);
        FallStep(segShownLeft, segTargetLeft, fallSegLeft);
        FallStep(segShownRight, segTargetRight, fallSegRight);
        if (segmentStyle.load(std::memory_order_relaxed) == 1) {
            resetHold.store(1, std::memory_order_relaxed);
            repaint = true;
        }
        if (ppmEnabled.load(std::memory_order_relaxed)) BuildOverlayPicture();
    }
    return repaint;
}

void PpmMeter::AudioEnded() {
    for (std::atomic<int>* hold : {&holdLeft, &holdRight})
        hold->store(0, std::memory_order_relaxed);
    for (std::atomic<float>* level : {&peakLeft, &peakRight, &segLevelLeft, &segLevelRight})
        level->store(0.0f, std::memory_order_relaxed);
}

bool PpmMeter::TakeScreenOverload(int channel) {
    std::atomic<int>& count = channel == 0 ? overloadScreenLeft : overloadScreenRight;
    int v = count.load(std::memory_order_relaxed);
    while (v > 0 && !count.compare_exchange_weak(v, v - 1, std::memory_order_relaxed)) {
    }
    return v > 0;
}

void PpmMeter::SetFrameSize(int w, int h) {
    meterFrameWidth.store(w, std::memory_order_relaxed);
    meterFrameHeight.store(h, std::memory_order_relaxed);
    meterGeometryDirty.store(1, std::memory_order_release);
}

namespace {

constexpr const char* kBoundaryLabels[6] = {"-12", " - 8 ", " - 4 ", " +4 ", " +8 ", " +12 "};
constexpr int kBoundaries[6] = {1, 2, 3, 5, 6, 7};

}  // namespace

void PpmMeter::BuildOverlayPicture() {
    const int smpte = smpteScale.load(std::memory_order_relaxed) != 0 ? 1 : 0;
    if (meterGeometryDirty.exchange(0, std::memory_order_acquire)) {
        ++geometry_;
        int lay = layout.load(std::memory_order_relaxed);
        if (lay < 0 || lay > 2) lay = 0;
        builtLayout_ = lay;
        const int W = std::max(meterFrameWidth.load(std::memory_order_relaxed), 0);
        const int H = std::max(meterFrameHeight.load(std::memory_order_relaxed), 0);
        const bool portrait = H > W;
        int labelW = 0, labelH = 0;
        if (lay == 0) {
            barWidth = W * 8 / 10;
            barHeight = portrait ? H / 20 : H / 10;
            labelW = barWidth / 16;
            labelH = barHeight * 3 / 5;
        } else if (lay == 1) {
            barWidth = portrait ? W / 7 : W / 16;
            barHeight = portrait ? H / 2 : H * 4 / 5;
            labelW = barWidth * 3 / 5;
            labelH = barHeight / 16;
        } else {
            barWidth = W * 5 / 16;
            barHeight = portrait ? H / 16 : H / 8;
        }
        for (ImageBuffer& l : scaleLabels_)
            l.Clear();
        for (ImageBuffer& l : zeroLabels_)
            l.Clear();
        if (lay != 2 && rasteriser_ && labelW > 0 && labelH > 0) {
            for (int k = 0; k < 6; ++k) {
                if (!scaleLabels_[k].FillColour(labelW, labelH, 0, 0, 0, 0) ||
                    !scaleLabels_[k].RenderText(kBoundaryLabels[k], 8, *rasteriser_)) {
                    scaleLabels_[k].Clear();
                }
            }
            const int zeroAlpha = lay == 0 ? 8 : 0;
            const char* zeroTexts[2] = {"0dBu", "0VU"};
            for (int k = 0; k < 2; ++k) {
                if (!zeroLabels_[k].FillColour(labelW, labelH, 0, 0, 0, 0) ||
                    !zeroLabels_[k].RenderText(zeroTexts[k], zeroAlpha, *rasteriser_)) {
                    zeroLabels_[k].Clear();
                }
            }
        }
        if (lay == 0) {
            zeroMarkPos = 2 + 4 * ((barWidth - 4) / 8) - labelW / 2;
        } else if (lay == 1) {
            zeroMarkPos = barHeight - 2 - 4 * ((barHeight - 4) / 8) - labelH / 2;
        } else {
            zeroMarkPos = 0;
        }
    }
    if (builtLayout_ < 0) return;

    MeterPicture& slot = pictures_.Back();
    if (slot.geometry != geometry_ || slot.layout != builtLayout_) PrepareSlot(slot, builtLayout_);
    ImageBuffer& pic = slot.picture;
    if (builtLayout_ != 2 && slot.drawnScale != smpte) {
        if (builtLayout_ == 0) {
            zeroLabels_[smpte].DrawOnto(zeroMarkPos, 0, kAnchorCentreDown, kDrawCopy, pic.pixels(),
                                        kPixelBGRA, pic.width, pic.height);
        } else {
            FillRect(pic, pic.width / 4, pic.height * 7 / 16, pic.width * 3 / 4,
                     pic.height * 7 / 16 + pic.height / 8, kOpaqueBlack);
        }
        slot.drawnScale = smpte;
    }
    if (builtLayout_ == 2) {
        DrawWaveform(slot);
    } else {
        DrawBars(slot, builtLayout_);
    }
    slot.uyvaReady = false;
    if (uyvaWanted.load(std::memory_order_relaxed) && slot.uyva.CopyRGBAdataFrom(pic)) {
        slot.uyva.ConvertToUYVA();
        slot.uyvaReady = true;
    }
    pictures_.Publish();
}

void PpmMeter::PrepareSlot(MeterPicture& slot, int lay) {
    slot.layout = lay;
    slot.geometry = geometry_;
    slot.drawnScale = -1;
    ImageBuffer& pic = slot.picture;
    if (!pic.FillColour(barWidth, barHeight, 0, 0, 0, 255)) return;
    if (lay == 2) return;
    for (int k = 0; k < 6; ++k) {
        const ImageBuffer& label = scaleLabels_[k];
        if (lay == 0) {
            const int x = 2 + kBoundaries[k] * ((barWidth - 4) / 8) - label.width / 2;
            label.DrawOnto(x, 0, kAnchorCentreDown, kDrawCopy, pic.pixels(), kPixelBGRA, pic.width,
                           pic.height);
        } else {
            const int y = barHeight - 2 - kBoundaries[k] * ((barHeight - 4) / 8) - label.height / 2;
            label.DrawOnto(0, y, kAnchorCentreAcross, kDrawCopy, pic.pixels(), kPixelBGRA,
                           pic.width, pic.height);
        }
    }
}

void PpmMeter::DrawBars(MeterPicture& slot, int lay) {
    ImageBuffer& pic = slot.picture;
    if (pic.empty()) return;
    const int W = pic.width, H = pic.height;
    const int positions[2] = {segShownLeft, segShownRight};
    std::atomic<int>* overloads[2] = {&overloadOverlayLeft, &overloadOverlayRight};
    for (int c = 0; c < 2; ++c) {
        const int pos = std::clamp(positions[c], 0, kOverlayFull);
        bool overload = false;
        int v = overloads[c]->load(std::memory_order_relaxed);
        while (v > 0 && !overloads[c]->compare_exchange_weak(v, v - 1)) {
        }
        overload = v > 0;
        if (lay == 1) {
            const int bw = W * 2 / 7;
            const int x0 = c == 0 ? 1 : W - 1 - bw;
            const int x1 = x0 + bw;
            const int s = (H - 4) / 8;
            int filledTop = H - 2;  // rows below this are coloured
            for (int i = 0; i < 8; ++i) {
                const int segBottom = H - 2 - i * s;
                if (pos >= kSegmentUnits * (i + 1)) {
                    FillRect(pic, x0, segBottom - s, x1, segBottom, kOverlayColours[i]);
                    filledTop = segBottom - s;
                    continue;
                }
                const int part = pos > kSegmentUnits * i ? (pos - kSegmentUnits * i) * s / 48 : 0;
                FillRect(pic, x0, segBottom - part, x1, segBottom, kOverlayColours[i]);
                filledTop = segBottom - part;
                break;
            }
            FillRect(pic, x0, 2, x1, filledTop, kOpaqueBlack);
            if (overload) FillRect(pic, x0, 2, x1, 2 + s / 4, kOverlayColours[8]);
        } else {
            const int rows = H / 3;
            const int y0 = c == 0 ? 1 : H * 2 / 3;
            const int y1 = y0 + rows;
            const int s = (W - 4) / 8;
            int filledRight = 2;
            for (int i = 0; i < 8; ++i) {
                const int segLeft = 2 + i * s;
                if (pos >= kSegmentUnits * (i + 1)) {
                    FillRect(pic, segLeft, y0, segLeft + s, y1, kOverlayColours[i]);
                    filledRight = segLeft + s;
                    continue;
                }
                const int part = pos > kSegmentUnits * i ? (pos - kSegmentUnits * i) * s / 48 : 0;
                FillRect(pic, segLeft, y0, segLeft + part, y1, kOverlayColours[i]);
                filledRight = segLeft + part;
                break;
            }
            FillRect(pic, filledRight, y0, W - 2, y1, kOpaqueBlack);
            if (overload) FillRect(pic, W - 2 - s / 4, y0, W - 2, y1, kOverlayColours[8]);
        }
    }
    if (lay == 1) {
        zeroLabels_[slot.drawnScale == 1 ? 1 : 0].DrawOnto(
            0, zeroMarkPos, kAnchorCentreAcross, kDrawBlend, pic.pixels(), kPixelBGRA, W, H);
    }
}

void PpmMeter::DrawWaveform(MeterPicture& slot) {
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
    const int target = std::clamp(std::max(segTargetLeft, segTargetRight), 0, kOverlayFull);
    const int lineH = (H * 7 / 8) * target / kOverlayFull;
    const int top = H / 2 - lineH / 2;
    FillRect(pic, W - step, top, W - step + std::max(step / 2, 1), top + lineH, kOverlayColours[3]);
}

MeterScreenLayout MeterScreenGeometry(int clientW, int clientH, int edge, int shownLeft,
                                      int shownRight, int full, bool overloadLeft,
                                      bool overloadRight, bool scaleText) {
    MeterScreenLayout out;
    const int left = edge, top = edge, right = clientW - edge, bottom = clientH - edge;
    const int H = bottom - top;
    const int span = 9 * H / 10;
    const int line71 = bottom - span * 71 / 100;
    const int threshold = full * 71 / 100;
    if (H <= 0 || right <= left || full <= 0) return out;
    const int xs[2][2] = {{left, right / 2}, {right / 2 + 2, right}};
    const int shown[2] = {shownLeft, shownRight};
    for (int c = 0; c < 2; ++c) {
        const int s = std::clamp(shown[c], 0, full);
        const int barTop = bottom - s * span / full;
        const int x0 = xs[c][0], x1 = xs[c][1];
        if (s < threshold) {
            out.rects[out.rectCount++] = {x0, barTop, x1, bottom, 5, 170, 0};
        } else {
            out.rects[out.rectCount++] = {x0, barTop, x1, line71, 205, 204, 0};
            out.rects[out.rectCount++] = {x0, line71, x1, bottom, 5, 187, 0};
        }
    }
    const bool overloads[2] = {overloadLeft, overloadRight};
    for (int c = 0; c < 2; ++c) {
        if (overloads[c]) {
            out.rects[out.rectCount++] = {xs[c][0], top, xs[c][1], bottom - span - 2, 238, 17, 17};
        }
    }
    if (scaleText) {
        const int x = (right - left - 15) / 2;
        out.labels[0] = {"- 0 -", x, top + 43 * H / 128};
        out.labels[1] = {"+8 -", x, top + 23 * H / 128};
        out.labels[2] = {" -8 -", x, top + 62 * H / 128};
        out.labelCount = 3;
    }
    return out;
}

}  // namespace velmor
