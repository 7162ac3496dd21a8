// Picture decoding and encoding with Qt, GIF encoding with giflib; see image_files.h.
#include "platform/image_files.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace velmor {

int DecodedBitDepth(const QImage& image) {
    switch (image.format()) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return 1;
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
        case QImage::Format_Alpha8:
            return 8;
        case QImage::Format_RGB16:
        case QImage::Format_RGB555:
        case QImage::Format_RGB444:
        case QImage::Format_Grayscale16:
            return 16;
        case QImage::Format_RGB32:
        case QImage::Format_RGB888:
        case QImage::Format_BGR888:
        case QImage::Format_RGBX8888:
            return 24;
        case QImage::Format_RGBX64:
            return 48;
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
            return 64;
        default:
            return image.hasAlphaChannel() ? 32 : std::min(image.depth(), 24);
    }
}

bool FromQImage(const QImage& image, ImageBuffer& picture) {
    if (image.isNull()) return false;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);  // B, G, R, A in memory
    if (argb.isNull()) return false;
    if (!picture.Reshape(argb.width(), argb.height(), kPixelBGRA)) return false;
    const size_t row = static_cast<size_t>(argb.width()) * 4;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(picture.pixels() + row * static_cast<size_t>(y), argb.constScanLine(y), row);
    picture.bitsPerPixel = 32;
    return true;
}

namespace {

// Larger than any allowed picture stored uncompressed (8192 x 8192 at 16 bits per channel).
constexpr qint64 kMaxPictureFileBytes = qint64{1} << 30;

uint32_t BigEndian32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

// Whether every chunk of a PNG file fits in the file. libpng sets aside the length a chunk claims
// before it reads it, so a few hundred bytes claiming a gigabyte-long chunk would take a gigabyte.
// Files that are not PNG pass.
bool PngChunksFit(const QByteArray& bytes) {
    static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 8 || std::memcmp(bytes.constData(), kSignature, 8) != 0) return true;
    qint64 at = 8;
    while (bytes.size() - at >= 12) {
        const qint64 length = BigEndian32(bytes.constData() + at);
        if (length > bytes.size() - at - 12) return false;
        if (std::memcmp(bytes.constData() + at + 4, "IEND", 4) == 0) break;
        at += 12 + length;
    }
    return true;
}

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

PictureLoad LoadPictureFile(ImageBuffer& picture, const std::string& path) {
    const size_t slash = path.find_last_of('/');
    picture.name = slash == std::string::npos ? path : path.substr(slash + 1);
    picture.path = path;

    PictureLoad load;
    // Read whole first, so that what the decoders see is bounded by a file of sane size.
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPictureFileBytes) return load;
    QByteArray bytes = file.readAll();
    if (!PngChunksFit(bytes)) return load;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray extension = QByteArray::fromStdString(LowerExtension(path));
    QImageReader reader(&buffer, extension.startsWith('.') ? extension.mid(1) : extension);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    // Refused from the header, before anything is decoded; room for the largest allowed picture.
    reader.setAllocationLimit(320);
    const QSize announced = reader.size();
    auto tooLarge = [&](int w, int h) {
        load.width = w;
        load.height = h;
        if (w <= kMaxOverlayPictureSide && h <= kMaxOverlayPictureSide) return false;
        load.result = PictureLoad::TooLarge;
        return true;
    };
    if (announced.isValid() && tooLarge(announced.width(), announced.height())) return load;
    // The reader's own format says what the file stored (Qt hands GIF frames over as RGB32).
    const QImage::Format stored = reader.imageFormat();
    const bool gif = reader.format() == "gif";
    QImage decoded = reader.read();
    if (decoded.isNull() || tooLarge(decoded.width(), decoded.height())) return load;
    const bool hasAlpha = decoded.hasAlphaChannel();

    // Decode aside so that a picture that cannot be taken leaves the old pixels in place.
    ImageBuffer fresh;
    if (!FromQImage(decoded, fresh)) return load;
    if (!hasAlpha) {
        uint8_t* p = fresh.pixels();
        for (int64_t i = 0; i < int64_t{fresh.width} * fresh.height; ++i)
            p[i * 4 + 3] = 0;
    }
    if (!picture.Reshape(fresh.width, fresh.height, kPixelBGRA)) return load;
    std::memcpy(picture.pixels(), fresh.pixels(), static_cast<size_t>(fresh.byteSize));
    picture.bitsPerPixel = 32;
    picture.decodedWidth = decoded.width();
    picture.decodedHeight = decoded.height();
    picture.decodedBitDepth = stored != QImage::Format_Invalid
                                  ? DecodedBitDepth(QImage(1, 1, stored))
                                  : DecodedBitDepth(decoded);
    // GIF stores palette indices only; its transparency is a palette entry, not an alpha channel.
    if (gif)
        picture.decodedBitDepth = 8;
    else if (hasAlpha && picture.decodedBitDepth < 32 && stored != QImage::Format_Indexed8)
        picture.decodedBitDepth = 32;
    load.result = PictureLoad::Loaded;
    return load;
}

bool LoadFromFile(ImageBuffer& picture, const std::string& path) {
    return LoadPictureFile(picture, path).ok();
}

PictureLoad QtPictureDecoder::Load(ImageBuffer& picture, const std::string& path) {
    return LoadPictureFile(picture, path);
}

bool QtPictureDecoder::MakeThumbnail(const ImageBuffer& picture, int w, int h,
                                     ImageBuffer& thumbnail) {
    const QImage image = velmor::MakeThumbnail(picture, w, h);
    if (image.isNull() || !thumbnail.Reshape(image.width(), image.height(), kPixelBGRA))
        return false;
    const size_t row = static_cast<size_t>(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(thumbnail.pixels() + row * static_cast<size_t>(y), image.constScanLine(y), row);
    thumbnail.bitsPerPixel = 32;
    return true;
}

QImage ThumbnailImage(const ImageBuffer& thumbnail) {
    if (thumbnail.empty() || thumbnail.pixelKind != kPixelBGRA) return {};
    return QImage(thumbnail.pixels(), thumbnail.width, thumbnail.height, thumbnail.width * 4,
                  QImage::Format_ARGB32_Premultiplied)
        .copy();
}

QString QtNameFilters(const FileWindowRequest& request) {
    QStringList filters;
    for (const auto& f : request.filters) {
        // Qt reads the patterns from the last parentheses, separated by spaces.
        QString caption = QString::fromStdString(f.caption);
        const qsizetype open = caption.lastIndexOf('(');
        if (open > 0) caption = caption.left(open).trimmed();
        QString patterns = QString::fromStdString(f.pattern);
        patterns.replace(';', ' ');
        if (patterns == QLatin1String("*.*"))
            patterns = QStringLiteral("*");  // names without a dot too
        filters << caption + QStringLiteral(" (") + patterns + QStringLiteral(")");
    }
    return filters.join(QStringLiteral(";;"));
}

bool LoadWithFileWindow(
    ImageBuffer& picture,
    const std::function<std::optional<std::string>(const FileWindowRequest&)>& choose) {
    if (!choose) return false;
    const std::optional<std::string> chosen = choose(FileWindowRequest{});
    if (!chosen || chosen->empty()) return false;
    return LoadFromFile(picture, *chosen);
}

QImage ToQImage(const ImageBuffer& picture, bool keepAlpha) {
    if (picture.empty() || picture.pixelKind != kPixelBGRA || picture.width <= 0 ||
        picture.height <= 0 || picture.byteSize < int64_t{picture.width} * picture.height * 4)
        return {};
    QImage image(picture.width, picture.height,
                 keepAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return {};
    const size_t row = static_cast<size_t>(picture.width) * 4;
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* out = image.scanLine(y);
        std::memcpy(out, picture.pixels() + row * static_cast<size_t>(y), row);
        if (!keepAlpha)
            for (size_t x = 3; x < row; x += 4)
                out[x] = 0xFF;  // RGB32 wants 0xFF there
    }
    return image;
}

namespace {

int WriteToSaveFile(GifFileType* gif, const GifByteType* data, int length) {
    auto* file = static_cast<QSaveFile*>(gif->UserData);
    return static_cast<int>(file->write(reinterpret_cast<const char*>(data), length));
}

bool WriteGif(QSaveFile& file, const QImage& rgb) {
    const int w = rgb.width();
    const int h = rgb.height();
    std::vector<GifByteType> indices(static_cast<size_t>(w) * static_cast<size_t>(h));
    std::vector<GifColorType> palette;

    // Exact palette when the picture has few colours (graphics, test cards); else median cut.
    std::unordered_map<uint32_t, uint8_t> lookup;
    bool exact = true;
    for (int y = 0; y < h && exact; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const uint32_t c = line[x] & 0xFFFFFFu;
            auto it = lookup.find(c);
            if (it == lookup.end()) {
                if (lookup.size() == 256) {
                    exact = false;
                    break;
                }
                it = lookup.emplace(c, static_cast<uint8_t>(lookup.size())).first;
                palette.push_back({static_cast<GifByteType>(qRed(c)),
                                   static_cast<GifByteType>(qGreen(c)),
                                   static_cast<GifByteType>(qBlue(c))});
            }
            indices[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                it->second;
        }
    }
    if (!exact) {
        const size_t n = indices.size();
        std::vector<GifByteType> r(n), g(n), b(n);
        for (int y = 0; y < h; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                const size_t i =
                    static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
                r[i] = static_cast<GifByteType>(qRed(line[x]));
                g[i] = static_cast<GifByteType>(qGreen(line[x]));
                b[i] = static_cast<GifByteType>(qBlue(line[x]));
            }
        }
        int size = 256;
        palette.assign(256, GifColorType{0, 0, 0});
        if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &size, r.data(),
                              g.data(), b.data(), indices.data(), palette.data()) != GIF_OK)
            return false;
    }
    palette.resize(256, GifColorType{0, 0, 0});  // a colour table holds a power of two entries

    int error = 0;
    GifFileType* gif = EGifOpen(&file, WriteToSaveFile, &error);
    if (gif == nullptr) return false;
    ColorMapObject* map = GifMakeMapObject(256, palette.data());
    bool ok = map != nullptr && EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w),
                         w) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    return ok;
}

}  // namespace

bool EncodeImageFile(const std::string& path, const ImageBuffer& picture) {
    const std::string ext = LowerExtension(path);
    const char* format = nullptr;
    if (ext == ".bmp")
        format = "BMP";
    else if (ext == ".jpg" || ext == ".jpeg")
        format = "JPEG";
    else if (ext == ".png")
        format = "PNG";
    else if (ext != ".gif")
        return false;

    const QImage rgb = ToQImage(picture, false);
    if (rgb.isNull()) return false;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) return false;
    const bool written = format != nullptr ? rgb.save(&file, format) : WriteGif(file, rgb);
    if (!written) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QRect ThumbnailRect(int controlWidth, int controlHeight, int decodedWidth, int decodedHeight) {
    if (controlWidth <= 0 || controlHeight <= 0 || decodedWidth <= 0 || decodedHeight <= 0)
        return {};
    const float r = static_cast<float>(decodedWidth) / static_cast<float>(decodedHeight);
    int w, h;
    if (r >= 16.0f / 9.0f) {
        w = controlWidth;
        h = static_cast<int>(static_cast<float>(w) / r);
    } else {
        h = controlHeight;
        w = static_cast<int>(static_cast<float>(h) * r);
    }
    return QRect((controlWidth - w) >> 1, (controlHeight - h) >> 1, w, h);
}

QImage MakeThumbnail(const ImageBuffer& picture, int controlWidth, int controlHeight) {
    const QImage source = ToQImage(picture, picture.decodedBitDepth >= 32);
    const QRect rect = ThumbnailRect(controlWidth, controlHeight, picture.width, picture.height);
    if (source.isNull() || rect.isEmpty()) return {};
    QImage thumb(controlWidth, controlHeight, QImage::Format_ARGB32_Premultiplied);
    thumb.fill(Qt::transparent);
    QPainter painter(&thumb);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect, source);
    painter.end();
    return thumb;
}

}  // namespace velmor
