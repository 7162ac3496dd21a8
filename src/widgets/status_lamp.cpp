// The status lamp; see status_lamp.h.
#include "widgets/status_lamp.h"

#include <QPixmap>

#include "platform/drawn_pictures.h"

namespace velmor {

StatusLamp::StatusLamp(const QString& accessibleName, QWidget* parent) : QLabel(parent) {
    setAccessibleName(accessibleName);
    setFixedSize(kSize, kSize);
    ShowPicture();
}

void StatusLamp::setLamp(Lamp lamp) {
    if (lamp == lamp_) return;
    lamp_ = lamp;
    ShowPicture();
}

void StatusLamp::ShowPicture() {
    // Drawn at the screen's pixel density, so the disc stays round and sharp on HiDPI screens.
    const qreal ratio = devicePixelRatioF();
    QPixmap picture = QPixmap::fromImage(LampPicture(lamp_, qRound(kSize * ratio)));
    picture.setDevicePixelRatio(ratio);
    setPixmap(picture);
    setAccessibleDescription(QString::fromLatin1(LampColourName(lamp_)));
}

}  // namespace velmor
