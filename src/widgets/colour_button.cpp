// The coloured button; see colour_button.h.
#include "widgets/colour_button.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>

namespace velmor {

CColButton::CColButton(QWidget* parent) : CColButton(QString(), parent) {}

CColButton::CColButton(const QString& caption, QWidget* parent)
    : QPushButton(parent), fill_(StandardColours()), stateNames_(StandardStateNames()) {
    setCaption(caption);
    connect(this, &QAbstractButton::pressed, this, &CColButton::OnPressed);
    connect(this, &QAbstractButton::clicked, this, &CColButton::OnClicked);
}

const CColButton::FillColours& CColButton::StandardColours() {
    static const FillColours colours = {QColor(0xE1, 0xE1, 0xE1), QColor(0xFC, 0xB8, 0xB8),
                                        QColor(0xB8, 0xFC, 0xB8), QColor(0xFC, 0xEC, 0xEC),
                                        QColor(0xF0, 0xF0, 0xB8), QColor(0xF0, 0xFC, 0xEC)};
    return colours;
}

const CColButton::FillColours& CColButton::OutputColours() {
    static const FillColours colours = {QColor(0xE1, 0xE1, 0xE1), QColor(0xFC, 0xB8, 0xB8),
                                        QColor(0xB8, 0xB8, 0xFC), QColor(0xEC, 0xEC, 0xFC),
                                        QColor(0xF0, 0xF0, 0xB8), QColor(0xF0, 0xFC, 0xEC)};
    return colours;
}

const CColButton::StateNames& CColButton::StandardStateNames() {
    static const StateNames names = {QString(),
                                     QStringLiteral("on"),
                                     QStringLiteral("ready"),
                                     QStringLiteral("off"),
                                     QStringLiteral("intermediate"),
                                     QStringLiteral("stored")};
    return names;
}

const CColButton::StateNames& CColButton::OutputStateNames() {
    static const StateNames names = {QString(),
                                     QStringLiteral("on"),
                                     QStringLiteral("AirSend"),
                                     QStringLiteral("NDI"),
                                     QStringLiteral("intermediate"),
                                     QStringLiteral("stored")};
    return names;
}

void CColButton::setState(int state) {
    if (state < 0 || state >= kStates) state = 0;
    if (state == state_) return;
    state_ = state;
    setAccessibleDescription(stateNames_[state_]);
    update();
}

void CColButton::setFillColours(const FillColours& colours) {
    fill_ = colours;
    setStateNames(colours == OutputColours() ? OutputStateNames() : StandardStateNames());
    update();
}

void CColButton::setTextColours(const std::array<int, kStates>& index,
                                const std::array<QColor, 4>& colours) {
    textColourIndex_ = index;
    textColour_ = colours;
    update();
}

void CColButton::setStateNames(const StateNames& names) {
    stateNames_ = names;
    setAccessibleDescription(stateNames_[state_]);
}

void CColButton::CopyColourTable(const CColButton& from) {
    fill_ = from.fill_;
    textColourIndex_ = from.textColourIndex_;
    textColour_ = from.textColour_;
    setStateNames(from.stateNames_);
    update();
}

void CColButton::setCaption(const QString& caption) {
    setText(caption);
    setAccessibleName(caption);
}

void CColButton::setNotifyOnPress(bool on, int wParam, int lParam) {
    notifyOnPress_ = on;
    notifyParams_[0] = wParam;
    notifyParams_[1] = lParam;
}

QPoint CColButton::keyboardClickPoint() const {
    return {std::max(width() * 3 / 4, 31), height() / 2};
}

void CColButton::OnPressed() {
    if (pressState_ != 0) setState(pressState_);
    if (notifyOnPress_) emit pressNotified(notifyParams_[0], notifyParams_[1]);
}

void CColButton::OnClicked() {
    // Cleared before emitting: a handler may run a nested event loop that clicks again.
    const QPoint at = mouseClick_ ? mousePos_ : keyboardClickPoint();
    mouseClick_ = false;
    emit clickedAt(at);
}

void CColButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();  // so that the release comes here too
        return;
    }
    QPushButton::mousePressEvent(event);
}

void CColButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        if (rect().contains(event->position().toPoint())) emit rightClicked();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        mouseClick_ = true;
        mousePos_ = event->position().toPoint();
    }
    QPushButton::mouseReleaseEvent(event);
    mouseClick_ = false;
}

void CColButton::keyPressEvent(QKeyEvent* event) {
    // Enter acts like Space even outside dialogs, where a plain push button ignores it.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat()) click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void CColButton::contextMenuEvent(QContextMenuEvent* event) {
    // The mouse's right click is reported on release; the menu key has no release of its own.
    if (event->reason() != QContextMenuEvent::Mouse) emit rightClicked();
    event->accept();
}

QColor CColButton::TextColour(const QColor& fill) const {
    if (!isEnabled()) return palette().color(QPalette::Disabled, QPalette::ButtonText);
    const int index = textColourIndex_[state_];
    if (index >= 1 && index <= 4) return textColour_[index - 1];
    if (state_ == 0) return palette().color(QPalette::ButtonText);
    // The fills are pale: under a dark theme its light button text would vanish on them.
    return fill.lightness() >= 128 ? QColor(Qt::black) : QColor(Qt::white);
}

void CColButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect();
    const QColor fill = state_ != 0 ? fill_[state_] : palette().color(QPalette::Button);
    painter.fillRect(r.adjusted(1, 1, -1, -1), fill);
    painter.setPen(palette().color(isDown() ? QPalette::Shadow : QPalette::Dark));
    painter.drawRect(r.adjusted(0, 0, -1, -1));

    QRect textRect = r.adjusted(2, 2, -2, -2);
    if (isDown()) textRect.translate(1, 1);
    painter.setPen(TextColour(fill));
    painter.setFont(font());
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic, text());

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = r.adjusted(3, 3, -3, -3);
        focus.backgroundColor = fill;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

}  // namespace velmor
