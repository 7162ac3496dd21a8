#include "ndi/builtin/convert.h"

#include <algorithm>
#include <cstring>

namespace velmor::wire {
namespace {

constexpr uint32_t kUYVY = NDIlib_FourCC_video_type_UYVY;
constexpr uint32_t kUYVA = NDIlib_FourCC_video_type_UYVA;
constexpr uint32_t kBGRA = NDIlib_FourCC_video_type_BGRA;
constexpr uint32_t kBGRX = NDIlib_FourCC_video_type_BGRX;
constexpr uint32_t kRGBA = NDIlib_FourCC_video_type_RGBA;
constexpr uint32_t kRGBX = NDIlib_FourCC_video_type_RGBX;

bool IsYuv(uint32_t f) {
    return f == kUYVY || f == kUYVA;
}
bool IsBgrOrder(uint32_t f) {
    return f == kBGRA || f == kBGRX;
}

inline uint8_t Clamp(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// BT.601 studio range, 8-bit fixed point.
inline void YuvToRgb(int y, int u, int v, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int c = 298 * (y - 16);
    const int d = u - 128, e = v - 128;
    r = Clamp((c + 409 * e + 128) >> 8);
    g = Clamp((c - 100 * d - 208 * e + 128) >> 8);
    b = Clamp((c + 516 * d + 128) >> 8);
}

inline uint8_t RgbToY(int r, int g, int b) {
    return Clamp(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
inline uint8_t RgbToU(int r, int g, int b) {
    return Clamp(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
inline uint8_t RgbToV(int r, int g, int b) {
    return Clamp(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

}  // namespace

uint32_t DeliveredFourCC(int32_t colorFormat, uint32_t sent) {
    const bool alpha = HasAlpha(sent);
    switch (colorFormat) {
        case NDIlib_recv_color_format_BGRX_BGRA:
            return alpha ? kBGRA : kBGRX;
        case NDIlib_recv_color_format_UYVY_BGRA:
            return alpha ? kBGRA : kUYVY;
        case NDIlib_recv_color_format_RGBX_RGBA:
            return alpha ? kRGBA : kRGBX;
        case NDIlib_recv_color_format_UYVY_RGBA:
            return alpha ? kRGBA : kUYVY;
        default:
            return sent;  // fastest, best: as the sender sent it
    }
}

bool ConvertPicture(uint32_t from, const uint8_t* src, int xres, int yres, uint32_t to,
                    std::vector<uint8_t>& out) {
    const size_t inBytes = PictureBytes(from, xres, yres);
    if (inBytes == 0 || to == kUYVA) return false;
    const size_t outBytes = PictureBytes(to, xres, yres);
    if (outBytes == 0) return false;
    out.resize(outBytes);
    uint8_t* dst = out.data();
    const size_t pixels = static_cast<size_t>(xres) * yres;

    if (from == to) {
        std::memcpy(dst, src, outBytes);
        return true;
    }
    if (IsYuv(from) && to == kUYVY) {  // UYVA: keep the colour plane, drop the alpha plane
        std::memcpy(dst, src, outBytes);
        return true;
    }
    if (IsYuv(from)) {
        const uint8_t* alpha = from == kUYVA ? src + pixels * 2 : nullptr;
        const bool bgr = IsBgrOrder(to);
        for (size_t i = 0; i < pixels; i += 2) {
            const uint8_t* q = src + i * 2;
            const int u = q[0], y0 = q[1], v = q[2], y1 = q[3];
            for (size_t k = 0; k < 2; ++k) {
                uint8_t r, g, b;
                YuvToRgb(k == 0 ? y0 : y1, u, v, r, g, b);
                uint8_t* o = dst + (i + k) * 4;
                o[0] = bgr ? b : r;
                o[1] = g;
                o[2] = bgr ? r : b;
                o[3] = alpha ? alpha[i + k] : 255;
            }
        }
        return true;
    }
    // RGB family source.
    const int ri = IsBgrOrder(from) ? 2 : 0, bi = IsBgrOrder(from) ? 0 : 2;
    const bool srcAlpha = HasAlpha(from);
    if (to == kUYVY) {
        for (size_t i = 0; i < pixels; i += 2) {
            const uint8_t* p0 = src + i * 4;
            const uint8_t* p1 = p0 + 4;
            const int r0 = p0[ri], g0 = p0[1], b0 = p0[bi];
            const int r1 = p1[ri], g1 = p1[1], b1 = p1[bi];
            uint8_t* o = dst + i * 2;
            o[0] = RgbToU((r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2);
            o[1] = RgbToY(r0, g0, b0);
            o[2] = RgbToV((r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2);
            o[3] = RgbToY(r1, g1, b1);
        }
        return true;
    }
    const bool dstBgr = IsBgrOrder(to);
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = src + i * 4;
        uint8_t* o = dst + i * 4;
        const uint8_t r = p[ri], g = p[1], b = p[bi];
        o[0] = dstBgr ? b : r;
        o[1] = g;
        o[2] = dstBgr ? r : b;
        o[3] = srcAlpha ? p[3] : 255;
    }
    return true;
}

bool LineDouble(uint32_t fourCC, const uint8_t* src, int xres, int yres,
                std::vector<uint8_t>& out) {
    if (PictureBytes(fourCC, xres, yres) == 0) return false;
    const size_t row = BytesPerRow(fourCC, xres);
    const size_t rows = static_cast<size_t>(yres);
    const size_t alphaRow = fourCC == kUYVA ? static_cast<size_t>(xres) : 0;
    out.resize((row + alphaRow) * rows * 2);
    uint8_t* d = out.data();
    for (size_t y = 0; y < rows; ++y) {
        std::memcpy(d + row * (2 * y), src + row * y, row);
        std::memcpy(d + row * (2 * y + 1), src + row * y, row);
    }
    if (alphaRow) {
        const uint8_t* a = src + row * rows;
        uint8_t* da = d + row * rows * 2;
        for (size_t y = 0; y < rows; ++y) {
            std::memcpy(da + alphaRow * (2 * y), a + alphaRow * y, alphaRow);
            std::memcpy(da + alphaRow * (2 * y + 1), a + alphaRow * y, alphaRow);
        }
    }
    return true;
}

}  // namespace velmor::wire
