// The on-screen PPM meter; see meter_button.h.
#include "widgets/meter_button.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <algorithm>

#include "audio/ppm_meter.h"

namespace velmor {

namespace {

// The meter's description changes up to 55 times a second; it is read on demand rather than
// sent to the accessibility bus at every tick.
class MeterAccessible : public QAccessibleWidget {
public:
    explicit MeterAccessible(PMeterButton* meter)
        : QAccessibleWidget(meter, QAccessible::Indicator) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Description) {
            return static_cast<PMeterButton*>(widget())->LevelDescription();
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* MeterAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("velmor::PMeterButton") && object->isWidgetType()) {
        return new MeterAccessible(static_cast<PMeterButton*>(object));
    }
    return nullptr;
}

}  // namespace

PMeterButton::PMeterButton(QWidget* parent) : QWidget(parent) {
    static const bool installed = (QAccessible::installFactory(MeterAccessibleFactory), true);
    (void)installed;
    setAccessibleName(QStringLiteral("PPM meter"));
}

void PMeterButton::setMeter(PpmMeter* meter) {
    meter_ = meter;
    update();
}

QString PMeterButton::LevelDescription() const {
    if (meter_ == nullptr) return QStringLiteral("no meter");
    auto percent = [](int shown) {
        return std::clamp(shown, 0, PpmMeter::kFullScale) * 100 / PpmMeter::kFullScale;
    };
    return QStringLiteral("left %1 %, right %2 %")
        .arg(percent(meter_->shownLeft()))
        .arg(percent(meter_->shownRight()));
}

void PMeterButton::paintEvent(QPaintEvent*) {
    if (meter_ == nullptr) return;
    const bool overloadLeft = meter_->TakeScreenOverload(0);
    const bool overloadRight = meter_->TakeScreenOverload(1);
    const MeterScreenLayout layout =
        MeterScreenGeometry(width(), height(), kEdge, meter_->shownLeft(), meter_->shownRight(),
                            PpmMeter::kFullScale, overloadLeft, overloadRight, scaleText_);
    // Nothing else is painted: the window's background shows between and above the bars.
    QPainter painter(this);
    for (int i = 0; i < layout.rectCount; ++i) {
        const MeterPaintRect& r = layout.rects[i];
        painter.fillRect(QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)),
                         QColor(r.r, r.g, r.b));
    }
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    for (int i = 0; i < layout.labelCount; ++i) {
        // The positions are those of a label 15 pixels wide: each text is centred where that
        // label's middle would be, so a wider font stays centred on the meter.
        const QString text = QString::fromLatin1(layout.labels[i].text);
        const int x = layout.labels[i].x + 7 - metrics.horizontalAdvance(text) / 2;
        painter.drawText(QRect(x, layout.labels[i].y, width(), metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, text);
    }
}

}  // namespace velmor
