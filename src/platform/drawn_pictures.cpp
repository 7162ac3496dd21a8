// Drawn pictures; see drawn_pictures.h.
#include "platform/drawn_pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "platform/image_files.h"
#include "platform/qt_text_rasteriser.h"

namespace velmor {

namespace {
QColor LampColour(Lamp lamp) {
    switch (lamp) {
        case Lamp::Red:
            return QColor(220, 30, 30);
        case Lamp::Green:
            return QColor(30, 200, 50);
        case Lamp::Amber:
            return QColor(245, 165, 20);
        case Lamp::Blue:
            return QColor(40, 100, 235);
        case Lamp::Magenta:
            return QColor(215, 40, 200);
        case Lamp::Grey:
            break;
    }
    return QColor(128, 128, 128);
}
}  // namespace

bool DrawTimecodeGlyphs(ImageBuffer* glyphs, int count) {
    if (glyphs == nullptr || count < kTimecodeGlyphs) return false;
    QFont font = QtTextRasteriser::TextFont(60);
    font.setWeight(QFont::Bold);
    for (int i = 0; i <= 10; ++i) {
        const int w = i == 10 ? kGlyphColonWidth : kGlyphDigitWidth;
        QImage glyph(w, kGlyphHeight, QImage::Format_ARGB32);
        glyph.fill(Qt::black);
        {
            QPainter painter(&glyph);
            painter.setRenderHint(QPainter::TextAntialiasing);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(QRect(0, 0, w, kGlyphHeight), Qt::AlignCenter,
                             i == 10 ? QStringLiteral(":") : QString::number(i));
        }
        if (!FromQImage(glyph, glyphs[i])) return false;
        glyphs[i].MakeSolid();
    }
    return true;
}

QImage LampPicture(Lamp lamp, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = LampColour(lamp);
    QRadialGradient glow(size * 0.38, size * 0.35, size * 0.6);
    glow.setColorAt(0.0, base.lighter(160));
    glow.setColorAt(1.0, base.darker(140));
    painter.setBrush(glow);
    painter.setPen(QPen(base.darker(200), 1));
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    return image;
}

const char* LampColourName(Lamp lamp) {
    switch (lamp) {
        case Lamp::Red:
            return "red";
        case Lamp::Green:
            return "green";
        case Lamp::Amber:
            return "amber";
        case Lamp::Blue:
            return "blue";
        case Lamp::Magenta:
            return "magenta";
        case Lamp::Grey:
            break;
    }
    return "grey";
}

QImage SpeakerPicture(int level) {
    QImage image(32, 24, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.moveTo(3, 9);
    body.lineTo(8, 9);
    body.lineTo(14, 3);
    body.lineTo(14, 21);
    body.lineTo(8, 15);
    body.lineTo(3, 15);
    body.closeSubpath();
    painter.fillPath(body, QColor(60, 60, 60));
    painter.setPen(QPen(QColor(30, 140, 40), 2));
    painter.setBrush(Qt::NoBrush);
    if (level >= 1) painter.drawArc(QRectF(12, 8, 8, 8), -60 * 16, 120 * 16);
    if (level >= 2) {
        painter.drawArc(QRectF(11, 4, 14, 16), -60 * 16, 120 * 16);
        painter.drawArc(QRectF(10, 0, 20, 24), -60 * 16, 120 * 16);
    }
    if (level <= 0) {
        painter.setPen(QPen(QColor(200, 30, 30), 2));
        painter.drawLine(18, 7, 28, 17);
        painter.drawLine(28, 7, 18, 17);
    }
    return image;
}

QImage IdlePicture() {
    QImage image(480, 270, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient background(0, 0, 0, 270);
    background.setColorAt(0.0, QColor(28, 34, 46));
    background.setColorAt(1.0, QColor(8, 10, 16));
    painter.fillRect(image.rect(), background);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(70, 90, 120), 2));
    painter.drawRoundedRect(QRectF(20, 20, 440, 230), 12, 12);
    painter.setPen(QColor(210, 220, 235));
    painter.setFont(QtTextRasteriser::TextFont(44));
    painter.drawText(QRect(0, 70, 480, 70), Qt::AlignCenter, QStringLiteral("Velmor"));
    painter.setPen(QColor(140, 155, 175));
    painter.setFont(QtTextRasteriser::TextFont(18));
    painter.drawText(QRect(0, 150, 480, 40), Qt::AlignCenter, QStringLiteral("No NDI source"));
    return image;
}

}  // namespace velmor
