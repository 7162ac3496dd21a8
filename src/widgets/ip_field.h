// IpField: an IPv4 address box (the main window's "Extra IP"): four octet edits that look and
// type like one edit box. Digits only, each octet 0..255 (a larger number becomes 255); "." or a
// third digit moves on to the next octet, Backspace at the start of an octet moves back, the
// arrows cross from one octet to the next, Home and End go to the ends of the whole address, and
// a pasted dotted address fills all four. Tab enters at the first octet and leaves the whole
// field: the field is one stop of the window's tab order.
#pragma once

#include <QString>
#include <QWidget>
#include <array>

class QLineEdit;
class QSpacerItem;

namespace velmor {

class IpField : public QWidget {
    Q_OBJECT
public:
    explicit IpField(QWidget* parent = nullptr);

    // The accessible name of the field ("Extra IP"); the octets are "<name> octet 1".."4".
    void setFieldName(const QString& name);

    // All four octets empty.
    bool isBlank() const;
    // The four numbers; an empty octet reads 0.
    std::array<int, 4> fields() const;
    // "%d.%d.%d.%d" of fields().
    QString dottedText() const;
    // Fills the octets from a dotted IPv4 text ("192.0.2.10"); anything else leaves the field
    // blank. Emits nothing.
    void setAddress(const QString& dotted);
    void clear();

    QLineEdit* octet(int i) const { return octets_[i]; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The focus left the whole field (not when it moves between its octets, nor when the window
    // is merely deactivated). Emitted once per leaving.
    void editingFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int IndexOf(QObject* object) const;
    bool HandleKey(int i, QKeyEvent* key);
    void MoveTo(int i, bool selectAll, int cursor);
    bool OwnsFocus() const;

    std::array<QLineEdit*, 4> octets_{};
    std::array<QSpacerItem*, 3> dots_{};
};

// The four numbers of a dotted IPv4 text of exactly four decimal parts 0..255; false otherwise.
bool ParseDottedIpv4(const QString& text, std::array<int, 4>& out);

}  // namespace velmor
