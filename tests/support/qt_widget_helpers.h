// Small helpers of the widget tests: what a screen reader reads, and what the widget draws.
#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdlib>
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

// Controls of `window` that a screen reader would not name by their caption: buttons whose
// accessible name is not their text, and other visible controls that take the focus without a
// name. Empty when every control is named.
inline QStringList NamingFaults(QWidget& window) {
    QStringList faults;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (AccessibleName(b) != b->text().remove('&')) faults << b->text();
        } else if (w->isVisible() && w->focusPolicy() != Qt::NoFocus &&
                   AccessibleName(w).isEmpty()) {
            faults << w->metaObject()->className();
        }
    }
    return faults;
}

// Every visible control of `window` lies inside it, and every button's caption fits the button.
// The failures name the controls; an empty list means the window is drawn without clipping.
// With VELMOR_SCREENSHOTS=<folder>, the window as drawn is also written there as `png`.
inline QStringList ClippedControls(QWidget& window, const QString& png = {}) {
    QStringList clipped;
    const QRect inside(QPoint(0, 0), window.size());
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible() || w->isWindow()) continue;
        const QRect at(w->mapTo(&window, QPoint(0, 0)), w->size());
        const QString name = AccessibleName(w);
        if (!inside.contains(at)) clipped << name + " lies outside the window";
        if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) {
            const int text = b->fontMetrics().horizontalAdvance(b->text().remove('&'));
            // Check boxes and radio buttons give part of their width to the indicator.
            const int room = b->width() - (b->inherits("QPushButton") ? 4 : 20);
            if (b->text().count('\n') == 0 && text > room) clipped << name + " is cut";
        }
    }
    if (const char* folder = std::getenv("VELMOR_SCREENSHOTS"); folder && !png.isEmpty())
        Render(window).save(QString::fromUtf8(folder) + "/" + png);
    return clipped;
}

}  // namespace velmor::testing
