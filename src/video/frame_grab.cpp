#include "video/frame_grab.h"

#include <cstring>

namespace velmor {

namespace {

inline uint8_t Clamp255(double v) {
    const int t = static_cast<int>(v);  // towards zero first, then limited
    return static_cast<uint8_t>(t < 0 ? 0 : t > 255 ? 255 : t);
}

// One macropixel U, Y0, V, Y1 to two BGRA pixels (BT.709, studio range).
void ConvertMacropixel(const uint8_t* src, uint8_t* dst) {
    const double u = src[0], v = src[2];
    const double ys[2] = {static_cast<double>(src[1]), static_cast<double>(src[3])};
    for (int k = 0; k < 2; ++k) {
        const double y = ys[k];
        uint8_t* p = dst + k * 4;
        p[0] = Clamp255(u * 2.1124017857 + y * 1.1643835616 - 288.017566);
        p[1] = Clamp255(y * 1.1643835616 - u * 0.2132486143 - v * 0.5329093286 + 76.87808);
        p[2] = Clamp255(v * 1.7927410714 + y * 1.1643835616 - 248.100994);
        p[3] = 255;
    }
}

}  // namespace

bool FrameToImage(const ImageBuffer& grab, ImageBuffer& out) {
    const int w = grab.width, h = grab.height;
    const bool bgra = grab.pixelKind == kPixelBGRA;
    const int64_t need = int64_t{w} * h * (bgra ? 4 : 2);
    if (grab.empty() || w <= 0 || h <= 0 || grab.byteSize < need) {
        out.Clear();
        return false;
    }
    if (!out.Reshape(w, h, kPixelBGRA)) return false;
    const uint8_t* src = grab.pixels();
    uint8_t* dst = out.pixels();
    if (bgra) {
        std::memcpy(dst, src, static_cast<size_t>(need));
        for (int64_t i = 0; i < int64_t{w} * h; ++i)
            dst[i * 4 + 3] = 255;
        return true;
    }
    // Row by row: a row of an odd width ends in half a macropixel (its U and Y, no V), and that
    // last pixel repeats the one before it (a one-pixel-wide picture takes V = 128).
    for (int y = 0; y < h; ++y) {
        const uint8_t* in = src + int64_t{y} * w * 2;
        uint8_t* row = dst + int64_t{y} * w * 4;
        for (int m = 0; m < w / 2; ++m)
            ConvertMacropixel(in + 4 * m, row + 8 * m);
        if (w % 2 != 0) {
            uint8_t* last = row + int64_t{w - 1} * 4;
            if (w > 1) {
                std::memcpy(last, last - 4, 4);
            } else {
                const uint8_t lone[4] = {in[0], in[1], 128, in[1]};
                uint8_t pair[8];
                ConvertMacropixel(lone, pair);
                std::memcpy(last, pair, 4);
            }
        }
    }
    return true;
}

std::string GrabFilePath(const GrabNaming& n, int instanceIndex, const std::tm& date,
                         const std::tm& time) {
    std::string name = n.useBaseName ? n.baseName : std::string("VelmorGrab");
    name += '-';
    name += std::to_string(instanceIndex + 1);
    char part[32];
    if (n.addDate && std::strftime(part, sizeof part, "-%Y%m%d", &date) > 0) name += part;
    if (n.addTime && std::strftime(part, sizeof part, "-%H%M%S", &time) > 0) name += part;
    const int format = n.formatIndex >= 0 && n.formatIndex <= 3 ? n.formatIndex : 3;
    name += kGrabExtensions[format];
    if (n.grabFolder.empty()) return name;
    std::string path = n.grabFolder;
    if (path.back() != '/') path += '/';
    path += name;
    return path;
}

}  // namespace velmor
