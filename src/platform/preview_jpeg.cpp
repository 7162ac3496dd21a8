#include "platform/preview_jpeg.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace velmor {

namespace {

// The bitmap's B, G, R(, A) pixels averaged over boxes into W x H R, G, B pixels. Done here, on
// the calling thread, rather than by QImage::scaled or a format conversion, which hand large
// pictures to Qt's thread pool.
std::vector<uint8_t> BoxScaleToRgb(const PreviewBitmap& b, int W, int H) {
    const int bytes = b.bitsPerPixel / 8;
    const size_t stride = static_cast<size_t>(b.width) * static_cast<size_t>(bytes);
    std::vector<uint8_t> out(static_cast<size_t>(W) * static_cast<size_t>(H) * 3);
    for (int y = 0; y < H; ++y) {
        const int y0 = static_cast<int>(int64_t{y} * b.height / H);
        const int y1 = std::max(y0 + 1, static_cast<int>(int64_t{y + 1} * b.height / H));
        for (int x = 0; x < W; ++x) {
            const int x0 = static_cast<int>(int64_t{x} * b.width / W);
            const int x1 = std::max(x0 + 1, static_cast<int>(int64_t{x + 1} * b.width / W));
            uint32_t sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const uint8_t* row = b.pixels.get() + static_cast<size_t>(sy) * stride;
                for (int sx = x0; sx < x1; ++sx) {
                    const uint8_t* p = row + static_cast<size_t>(sx) * static_cast<size_t>(bytes);
                    sum[0] += p[2];
                    sum[1] += p[1];
                    sum[2] += p[0];
                }
            }
            const uint32_t n = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
            uint8_t* o = out.data() + (static_cast<size_t>(y) * static_cast<size_t>(W) + x) * 3;
            for (int c = 0; c < 3; ++c)
                o[c] = static_cast<uint8_t>(sum[c] / n);
        }
    }
    return out;
}

}  // namespace

std::string EncodePreviewJpeg(const PreviewBitmap& b, int maxWidth, int quality) {
    if (!b.pixels || b.width <= 0 || b.height <= 0 || maxWidth <= 0) return {};
    if (b.bitsPerPixel != 24 && b.bitsPerPixel != 32) return {};
    const size_t stride = static_cast<size_t>(b.width) * static_cast<size_t>(b.bitsPerPixel / 8);
    if (stride * static_cast<size_t>(b.height) > b.capacity) return {};
    // The bitmap may be halved or anamorphic: the picture's own aspect ratio gives its height.
    float aspect = static_cast<float>(b.width) / static_cast<float>(b.height);
    if (b.aspectClass == 0) aspect = 16.0f / 9.0f;
    if (b.aspectClass == 2) aspect = 9.0f / 16.0f;
    if (b.aspectClass == 1 && b.lastAspect > 0.0f) aspect = b.lastAspect;
    const int width = std::min(maxWidth, std::max(b.width, 1));
    const int height = std::clamp(static_cast<int>(std::lround(width / aspect)), 1, 4 * width);
    const std::vector<uint8_t> rgb = BoxScaleToRgb(b, width, height);
    // RGB888 is what the JPEG writer takes row by row, without a conversion of its own.
    const QImage scaled(rgb.data(), width, height, static_cast<qsizetype>(width) * 3,
                        QImage::Format_RGB888);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    if (!writer.write(scaled)) return {};
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace velmor
