// Qt text rasteriser; see qt_text_rasteriser.h.
#include "platform/qt_text_rasteriser.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstring>

namespace velmor {

QFont QtTextRasteriser::TextFont(int pixelHeight) {
    QFont font;
    QStringList families;
    if (QFontDatabase::hasFamily(QStringLiteral("Franklin Gothic Medium")))
        families << QStringLiteral("Franklin Gothic Medium");
    families << QStringLiteral("Arial");
    families << QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
    font.setWeight(QFont::Normal);
    font.setPixelSize(pixelHeight > 0 ? pixelHeight : 1);
    return font;
}

bool QtTextRasteriser::RasteriseLine(std::string_view utf8, int width, int height, int fontHeight,
                                     uint8_t* bgra) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return false;
    if (bgra == nullptr || width <= 0 || height <= 0) return false;
    QImage canvas(width, height, QImage::Format_RGB32);
    if (canvas.isNull()) return false;
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(TextFont(fontHeight));
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, width, height), Qt::AlignCenter | Qt::TextSingleLine,
                         QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    }
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        uint8_t* out = bgra + row * static_cast<size_t>(y);
        std::memcpy(out, canvas.constScanLine(y), row);
        for (size_t x = 3; x < row; x += 4)
            out[x] = 0;  // the alpha rule is applied afterwards
    }
    return true;
}

}  // namespace velmor
