#include "video/preview_render.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ndi/ndi_types.h"

namespace velmor {

namespace {

constexpr float kRatio16by9 = 16.0f / 9.0f;
constexpr float kRatio9by16 = 9.0f / 16.0f;
constexpr int kWaveRows = 270;
constexpr int kMaxSide = 8192;

inline uint8_t Clamp255(double v) {
    return static_cast<uint8_t>(v < 0.0 ? 0 : v > 255.0 ? 255 : static_cast<int>(v));
}

// The conversion, exactly as defined in double precision, made cheap: B and R depend on two bytes
// each and come from 64K tables built with the double formula. G depends on three bytes; it is
// computed in integers (thousandths) and only results that land exactly on a whole number, where
// the double's rounding decides, are computed in double.
struct YuvTables {
    uint8_t b[2][65536];  // [sampling][U << 8 | Y]; 0 halved, 1 full
    uint8_t r[65536];     // [V << 8 | Y]
    int32_t gy[256], gu[256], gv[2][256];
    YuvTables() {
        static constexpr double kB[2] = {2.115, 2.112};
        for (int c = 0; c < 256; ++c) {
            for (int y = 0; y < 256; ++y) {
                const double yy = (y - 16) * 1.164;
                for (int k = 0; k < 2; ++k)
                    b[k][c << 8 | y] = Clamp255((c - 128) * kB[k] + yy);
                r[c << 8 | y] = Clamp255((c - 128) * 1.793 + yy);
            }
            gy[c] = 1164 * (c - 16);
            gu[c] = 213 * (c - 128);
            gv[0][c] = 534 * (c - 128);
            gv[1][c] = 533 * (c - 128);
        }
    }
};

const YuvTables& Tables() {
    static const YuvTables* tables = new YuvTables();  // built once, kept for the process
    return *tables;
}

inline uint8_t Green(const YuvTables& t, int k, uint8_t u, uint8_t y, uint8_t v) {
    const int32_t n = t.gy[y] - t.gv[k][v] - t.gu[u];
    if (n < 1000) return 0;
    if (n >= 256000) return 255;
    const int32_t q = n / 1000;
    if (q * 1000 != n) return static_cast<uint8_t>(q);
    static constexpr double kG[2] = {0.534, 0.533};
    return Clamp255((y - 16) * 1.164 - (v - 128) * kG[k] - (u - 128) * 0.213);
}

inline void ToBGR(const YuvTables& t, int k, uint8_t u, uint8_t y, uint8_t v, uint8_t* out) {
    out[0] = t.b[k][u << 8 | y];
    out[1] = Green(t, k, u, y, v);
    out[2] = t.r[v << 8 | y];
}

bool EnsureCapacity(PreviewBitmap& b, size_t bytes) {
    if (b.capacity >= bytes) return true;
    b.pixels.reset(new (std::nothrow) uint8_t[bytes]);
    b.capacity = b.pixels ? bytes : 0;
    return b.pixels != nullptr;
}

bool IsFourByte(uint32_t f) {
    return f == NDIlib_FourCC_video_type_BGRA || f == NDIlib_FourCC_video_type_BGRX ||
           f == NDIlib_FourCC_video_type_RGBA || f == NDIlib_FourCC_video_type_RGBX;
}

}  // namespace

int PreviewRenderer::Render(const uint8_t* data, int width, int height, int stride, uint32_t fourCC,
                            float aspect) {
    const bool yuv =
        fourCC == NDIlib_FourCC_video_type_UYVY || fourCC == NDIlib_FourCC_video_type_UYVA;
    if (!data || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return 0;
    if (!yuv && !IsFourByte(fourCC)) return 0;
    const int64_t rowBytes = int64_t{width} * (yuv ? 2 : 4);
    const int64_t srcStride = stride > 0 ? stride : rowBytes;
    if (srcStride < rowBytes) return 0;

    if (!(aspect > 0.0f)) aspect = static_cast<float>(width) / static_cast<float>(height);
    if (aspect == kRatio9by16) {
        if (aspectClass_ != 2) backgroundDirty.store(1);
        aspectClass_ = 2;
    } else if (aspect == kRatio16by9) {
        aspectClass_ = 0;
    } else {
        if (aspectClass_ != 1 || aspect != lastAspect_) backgroundDirty.store(1);
        aspectClass_ = 1;
        lastAspect_ = aspect;
    }

    PreviewBitmap& b = bitmaps_.Back();
    b.fourCC = fourCC;
    b.aspectClass = aspectClass_;
    b.lastAspect = lastAspect_;
    const bool wave = waveformOn.load(std::memory_order_relaxed) != 0;
    if (wave) {
        RenderWaveform(b, data, width, height, srcStride, yuv);
    } else {
        RenderPicture(b, data, width, height, srcStride, yuv, width > 640);
    }
    if (b.bitsPerPixel == 0) return 0;
    bitmaps_.Publish();
    return wave ? 24 : b.bitsPerPixel;
}

void PreviewRenderer::RenderPicture(PreviewBitmap& b, const uint8_t* data, int width, int height,
                                    int64_t stride, bool yuv, bool halved) {
    const int n = halved ? width / 2 : width;
    const int m = halved ? height / 2 : height;
    const int bpp = yuv ? 3 : 4;
    b.bitsPerPixel = 0;
    b.waveform = false;
    if (!EnsureCapacity(b, static_cast<size_t>(n) * m * bpp)) return;
    b.width = b.renderedWidth = n;
    b.height = b.renderedHeight = m;
    b.bitsPerPixel = bpp * 8;
    uint8_t* out = b.pixels.get();
    const YuvTables& tables = Tables();
    const int64_t step = halved ? stride * 2 : stride;
    for (int r = 0; r < m; ++r, out += static_cast<size_t>(n) * bpp) {
        const uint8_t* src = data + r * step;
        if (yuv && halved) {
            for (int x = 0; x < n; ++x) {
                const uint8_t* p = src + x * 4;
                ToBGR(tables, 0, p[0], p[1], p[2], out + x * 3);
            }
        } else if (yuv) {
            for (int x = 0; x < n / 2; ++x) {
                const uint8_t* p = src + x * 4;
                ToBGR(tables, 1, p[0], p[1], p[2], out + x * 6);
                ToBGR(tables, 1, p[0], p[3], p[2], out + x * 6 + 3);
            }
        } else if (halved) {
            for (int x = 0; x < n; ++x)
                std::memcpy(out + x * 4, src + x * 8, 4);
        } else {
            std::memcpy(out, src, static_cast<size_t>(n) * 4);
        }
    }
}

void PreviewRenderer::RenderWaveform(PreviewBitmap& b, const uint8_t* data, int width, int height,
                                     int64_t stride, bool yuv) {
    const int n = width / 2;
    const int m = height / 2;
    b.bitsPerPixel = 0;
    if (!EnsureCapacity(b, static_cast<size_t>(n) * kWaveRows * 3)) return;
    b.width = b.renderedWidth = n;
    b.renderedHeight = m;
    b.height = kWaveRows;
    b.bitsPerPixel = 24;
    b.waveform = true;
    const int type = graticuleType.load(std::memory_order_relaxed);
    b.graticuleType = type;
    uint8_t* out = b.pixels.get();
    const size_t rowBytes = static_cast<size_t>(n) * 3;
    std::memset(out, 0, rowBytes * kWaveRows);

    const int lines = type == 1 ? 10 : 7;
    for (int k = 0; k <= lines; ++k) {
        uint8_t* row = out + (30 + 219 * k / lines) * rowBytes;
        for (int x = 0; x < n; ++x) {
            row[x * 3 + 0] = 0x60;
            row[x * 3 + 1] = 0x60;
            row[x * 3 + 2] = 0x40;
        }
    }

    auto plot = [&](int x, int luma) {
        uint8_t& g = out[((255 - luma) * 255 / 256 + 10) * rowBytes + x * 3 + 1];
        if (g < 190) g = static_cast<uint8_t>(g + 63);
    };
    for (int64_t off = 0, r = 0; r < m; ++r, off += stride * 2) {
        if (!yuv && m > 360 && (r & 1)) continue;
        const uint8_t* src = data + off;
        if (yuv) {
            for (int x = 0; x < n; ++x)
                plot(x, src[x * 4 + 1]);
        } else {
            for (int x = 0; x < n; ++x) {
                const uint8_t* p = src + x * 8;
                const double l = p[1] * 0.6142 + p[2] * 0.1826 + p[0] * 0.062 + 16;
                plot(x, static_cast<int>(static_cast<float>(l)) & 0xFF);
            }
        }
    }
}

PaintRect PreviewDestRect(int aspectClass, float lastAspect, int W, int H) {
    if (aspectClass == 2) {
        const int w = (W * 81) >> 8;
        return {(W - w) >> 1, 0, w, H};
    }
    if (aspectClass == 0) return {0, 0, W, H};
    const float r = lastAspect;
    if (r < kRatio16by9) {
        const int w = static_cast<int>(r * static_cast<float>(W) / kRatio16by9);
        return {(W - w) >> 1, 0, w, H};
    }
    const int h = static_cast<int>(kRatio16by9 * static_cast<float>(H) / r);
    return {0, (H - h) >> 1, W, h};
}

PaintRect TimeTextPosition(int W, int H) {
    return {(W - 56) / 2, H * 4 / 5, 0, 0};
}

int TallyPenWidth(int H) {
    return std::max(H / 64, 2);
}

std::vector<ScaleLabel> WaveformScaleLabels(int graticuleType, int renderedWidth,
                                            int renderedHeight) {
    std::vector<ScaleLabel> labels;
    char text[64];
    if (graticuleType == 0) {
        std::snprintf(text, sizeof text, "%dx%d      ", renderedWidth, renderedHeight);
        labels.push_back({std::string(text).substr(0, 9), 5, 10});
        labels.push_back({"1.0", 5, 29});
        for (int k = 1; k <= 7; ++k) {
            std::snprintf(text, sizeof text, " .%d", 10 - k);
            labels.push_back({text, 5, 876 * k / 21 + 29});
        }
    } else {
        labels.push_back({"100", 5, 29});
        for (int k = 1; k <= 9; ++k) {
            std::snprintf(text, sizeof text, " %d", 100 - 10 * k);
            labels.push_back({text, 5, 876 * k / 30 + 29});
        }
        labels.push_back({"  0", 5, 321});
    }
    return labels;
}

}  // namespace velmor
