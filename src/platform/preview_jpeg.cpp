#include "platform/preview_jpeg.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <cmath>

namespace velmor {

std::string EncodePreviewJpeg(const PreviewBitmap& b, int maxWidth, int quality) {
    if (!b.pixels || b.width <= 0 || b.height <= 0 || maxWidth <= 0) return {};
    if (b.bitsPerPixel != 24 && b.bitsPerPixel != 32) return {};
    const qsizetype stride = static_cast<qsizetype>(b.width) * (b.bitsPerPixel / 8);
    if (static_cast<size_t>(stride) * static_cast<size_t>(b.height) > b.capacity) return {};
    // B, G, R bytes are Qt's BGR888; B, G, R, A bytes on a little-endian machine are RGB32.
    const QImage view(b.pixels.get(), b.width, b.height, stride,
                      b.bitsPerPixel == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    // The bitmap may be halved or anamorphic: the picture's own aspect ratio gives its height.
    float aspect = static_cast<float>(b.width) / static_cast<float>(b.height);
    if (b.aspectClass == 0) aspect = 16.0f / 9.0f;
    if (b.aspectClass == 2) aspect = 9.0f / 16.0f;
    if (b.aspectClass == 1 && b.lastAspect > 0.0f) aspect = b.lastAspect;
    const int width = std::min(maxWidth, std::max(b.width, 1));
    const int height = std::clamp(static_cast<int>(std::lround(width / aspect)), 1, 4 * width);
    const QImage scaled =
        view.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    if (!writer.write(scaled)) return {};
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace velmor
