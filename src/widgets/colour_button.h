// CColButton: the owner-drawn coloured button of the main, proc amp and overlay windows. A flat
// push button whose fill shows a colour state 0..5, with the press, right-click and
// click-position notifications those windows need.
#pragma once

#include <QColor>
#include <QPoint>
#include <QPushButton>
#include <QString>
#include <array>

namespace velmor {

class CColButton : public QPushButton {
    Q_OBJECT
public:
    static constexpr int kStates = 6;
    using FillColours = std::array<QColor, kStates>;
    using StateNames = std::array<QString, kStates>;

    explicit CColButton(QWidget* parent = nullptr);
    explicit CColButton(const QString& caption, QWidget* parent = nullptr);

    // Drawn flat: a one-line frame, the fill of the state, the caption centred (one pixel right
    // and down while pressed, greyed when disabled), and the style's focus rectangle while it has
    // the focus after keyboard navigation, like every other control.

    // Colour state: 0 none (the palette's button face), 1 on, 2 ready, 3 off, 4 intermediate,
    // 5 stored. A value outside 0..5 is taken as 0. Repaints on a change.
    void setState(int state);
    int state() const { return state_; }

    // E1E1E1, FCB8B8, B8FCB8, FCECEC, F0F0B8, F0FCEC.
    static const FillColours& StandardColours();
    // The output button's set: 1 FCB8B8, 2 B8B8FC (AirSend), 3 ECECFC (NDI); 0, 4 and 5 as the
    // standard set.
    static const FillColours& OutputColours();
    // Also chooses the state names read to screen readers: those of the output set for
    // OutputColours(), the standard ones for any other table (setStateNames overrides).
    void setFillColours(const FillColours& colours);
    const FillColours& fillColours() const { return fill_; }
    // Per state, 0 keeps the default text colour and 1..4 pick textColours[index - 1].
    void setTextColours(const std::array<int, kStates>& index,
                        const std::array<QColor, 4>& colours);

    // The accessible description of each state, since the colour alone says nothing to a screen
    // reader: "", "on", "ready", "off", "intermediate", "stored".
    static const StateNames& StandardStateNames();
    // "", "on", "AirSend", "NDI", "intermediate", "stored".
    static const StateNames& OutputStateNames();
    void setStateNames(const StateNames& names);

    // Copies the fill and text colour tables, the text colour indices and the state names that
    // go with them; nothing else (state, caption and notifications stay).
    void CopyColourTable(const CColButton& from);

    // Text and accessible name together.
    void setCaption(const QString& caption);

    // When non-zero, a press (left button down, or Space) first sets the state to it.
    void setPressState(int state) { pressState_ = state; }
    int pressState() const { return pressState_; }
    // When on, a press emits pressNotified(wParam, lParam) (the proc amp's momentary Temp Bypass,
    // which also listens to released()).
    void setNotifyOnPress(bool on, int wParam = 0, int lParam = 0);

    // Where a click without a mouse lands: Space, Enter and the accessible press action report
    // this point to clickedAt, in the right part of the button (x > 30), so that the stepping
    // buttons (Rotate, De-Int) step forward from the keyboard.
    QPoint keyboardClickPoint() const;

signals:
    void pressNotified(int wParam, int lParam);
    // A completed left click, with the release position in the button's own pixels (or
    // keyboardClickPoint()). Emitted right after clicked().
    void clickedAt(QPoint pos);
    // The right button released over the button, or the context-menu key while it has focus.
    void rightClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnPressed();
    void OnClicked();
    QColor TextColour(const QColor& fill) const;

    int state_ = 0;
    int pressState_ = 0;
    bool notifyOnPress_ = false;
    int notifyParams_[2] = {0, 0};
    FillColours fill_;
    std::array<int, kStates> textColourIndex_{};
    std::array<QColor, 4> textColour_;
    StateNames stateNames_;
    bool mouseClick_ = false;  // the click in progress comes from the mouse, at mousePos_
    QPoint mousePos_;
};

}  // namespace velmor
