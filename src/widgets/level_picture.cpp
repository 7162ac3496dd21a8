// The monitor level picture; see level_picture.h.
#include "widgets/level_picture.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "platform/drawn_pictures.h"

namespace velmor {

namespace {
const QString& LevelName(int level) {
    static const QString names[3] = {QStringLiteral("Mute"), QStringLiteral("Dim"),
                                     QStringLiteral("Full")};
    return names[level];
}
}  // namespace

LevelPicture::LevelPicture(QWidget* parent) : QLabel(parent) {
    setAccessibleName(QStringLiteral("Monitor level"));
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFocusPolicy(Qt::StrongFocus);
    const QImage picture = SpeakerPicture(level_);
    setFixedSize(picture.size());
    setPixmap(QPixmap::fromImage(picture));
    setAccessibleDescription(LevelName(level_));
}

void LevelPicture::setLevel(int level) {
    if (level < 0 || level > 2 || level == level_) return;
    level_ = level;
    setPixmap(QPixmap::fromImage(SpeakerPicture(level_)));
    setAccessibleDescription(LevelName(level_));
}

QPoint LevelPicture::PointForLevel(int level) {
    static constexpr int kRows[3] = {20, 12, 4};  // Mute, Dim, Full
    return {16, kRows[level < 0 ? 0 : level > 2 ? 2 : level]};
}

void LevelPicture::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && rect().contains(at)) {
        emit clickedAt(at);
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void LevelPicture::keyPressEvent(QKeyEvent* event) {
    int next = -1;
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Right:
            next = level_ < 2 ? level_ + 1 : 2;
            break;
        case Qt::Key_Down:
        case Qt::Key_Left:
            next = level_ > 0 ? level_ - 1 : 0;
            break;
        case Qt::Key_Space:
            next = level_ > 0 ? level_ - 1 : 2;
            break;
        default:
            QLabel::keyPressEvent(event);
            return;
    }
    event->accept();
    emit clickedAt(PointForLevel(next));
}

void LevelPicture::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = rect();
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
}

}  // namespace velmor
