// Small helpers of the widget tests: what a screen reader reads, and what the widget draws.
#pragma once

#include <QAccessible>
#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <ostream>

// GoogleTest prints colours as (r, g, b, a) and texts as text, found by argument-dependent lookup.
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << "(" << c.red() << ", " << c.green() << ", " << c.blue() << ", " << c.alpha() << ")";
}
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace velmor::testing {

inline QString AccessibleText(QObject* object, QAccessible::Text which) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(object);
    return a != nullptr ? a->text(which) : QStringLiteral("<no accessible interface>");
}
inline QString AccessibleName(QObject* object) {
    return AccessibleText(object, QAccessible::Name);
}
inline QString AccessibleDescription(QObject* object) {
    return AccessibleText(object, QAccessible::Description);
}

// The widget as it paints itself, one image pixel per widget pixel.
inline QImage Render(QWidget& widget) {
    QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(1.0);
    return image;
}

}  // namespace velmor::testing
