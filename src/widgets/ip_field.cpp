// The IPv4 address box; see ip_field.h.
#include "widgets/ip_field.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>

namespace velmor {

namespace {

// Digits only, at most three; a number above 255 becomes 255.
class OctetValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        if (input.size() > 3) return Invalid;
        for (QChar c : input) {
            if (c < u'0' || c > u'9') return Invalid;
        }
        if (!input.isEmpty() && input.toInt() > 255) {
            input = QStringLiteral("255");
            pos = std::min(pos, 3);
        }
        return Acceptable;
    }
};

// An octet is as wide as three digits, not as a whole line of text.
class OctetEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    QSize sizeHint() const override {
        QStyleOptionFrame option;
        initStyleOption(&option);
        const QSize text(fontMetrics().horizontalAdvance(QStringLiteral("000")) + 6,
                         QLineEdit::sizeHint().height());
        return style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, this);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

}  // namespace

bool ParseDottedIpv4(const QString& text, std::array<int, 4>& out) {
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() != 4) return false;
    std::array<int, 4> values{};
    for (int i = 0; i < 4; ++i) {
        const QString& part = parts[i];
        if (part.isEmpty() || part.size() > 3) return false;
        for (QChar c : part) {
            if (c < u'0' || c > u'9') return false;
        }
        values[i] = part.toInt();
        if (values[i] > 255) return false;
    }
    out = values;
    return true;
}

IpField::IpField(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    layout->setContentsMargins(frame, frame, frame, frame);
    layout->setSpacing(0);
    const int dotWidth = fontMetrics().horizontalAdvance(u'.') + 4;
    for (int i = 0; i < 4; ++i) {
        auto* edit = new OctetEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setMaxLength(3);
        edit->setValidator(new OctetValidator(edit));
        edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        // One stop in the tab order: only the first octet takes Tab focus.
        edit->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (i < 3 && text.size() == 3 && octets_[i]->cursorPosition() == 3) {
                MoveTo(i + 1, true, 0);
            }
        });
        octets_[i] = edit;
        layout->addWidget(edit);
        if (i < 3) {
            dots_[i] = new QSpacerItem(dotWidth, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
            layout->addItem(dots_[i]);
        }
    }
    setFocusProxy(octets_[0]);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFieldName(QStringLiteral("Extra IP"));
}

void IpField::setFieldName(const QString& name) {
    setAccessibleName(name);
    for (int i = 0; i < 4; ++i) {
        octets_[i]->setAccessibleName(QStringLiteral("%1 octet %2").arg(name).arg(i + 1));
    }
}

bool IpField::isBlank() const {
    for (const QLineEdit* edit : octets_) {
        if (!edit->text().isEmpty()) return false;
    }
    return true;
}

std::array<int, 4> IpField::fields() const {
    std::array<int, 4> values{};
    for (int i = 0; i < 4; ++i)
        values[i] = octets_[i]->text().toInt();  // "" reads 0
    return values;
}

QString IpField::dottedText() const {
    const std::array<int, 4> f = fields();
    return QStringLiteral("%1.%2.%3.%4").arg(f[0]).arg(f[1]).arg(f[2]).arg(f[3]);
}

void IpField::setAddress(const QString& dotted) {
    std::array<int, 4> values{};
    if (!ParseDottedIpv4(dotted, values)) {
        clear();
        return;
    }
    for (int i = 0; i < 4; ++i)
        octets_[i]->setText(QString::number(values[i]));
}

void IpField::clear() {
    for (QLineEdit* edit : octets_)
        edit->clear();
}

QSize IpField::sizeHint() const {
    return layout()->sizeHint();
}

QSize IpField::minimumSizeHint() const {
    return layout()->minimumSize();
}

int IpField::IndexOf(QObject* object) const {
    for (int i = 0; i < 4; ++i) {
        if (octets_[i] == object) return i;
    }
    return -1;
}

bool IpField::OwnsFocus() const {
    return IndexOf(QApplication::focusWidget()) >= 0;
}

void IpField::MoveTo(int i, bool selectAll, int cursor) {
    QLineEdit* edit = octets_[i];
    edit->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        edit->selectAll();
    } else {
        edit->deselect();
        edit->setCursorPosition(cursor);
    }
}

bool IpField::HandleKey(int i, QKeyEvent* key) {
    QLineEdit* edit = octets_[i];
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool atStart = edit->cursorPosition() == 0 && !edit->hasSelectedText();
    const bool atEnd = edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText();
    if (key->matches(QKeySequence::Paste)) {
        std::array<int, 4> values{};
        if (!ParseDottedIpv4(QApplication::clipboard()->text(), values)) return false;
        setAddress(QApplication::clipboard()->text());
        MoveTo(3, false, octets_[3]->text().size());
        return true;
    }
    switch (key->key()) {
        case Qt::Key_Period:
            if (i < 3 && !edit->text().isEmpty()) MoveTo(i + 1, true, 0);
            return true;  // never typed into an octet
        case Qt::Key_Backspace:
            if (!plain || !atStart || i == 0) return false;
            MoveTo(i - 1, false, octets_[i - 1]->text().size());
            return true;
        case Qt::Key_Left:
            if (!plain || !atStart || i == 0) return false;
            MoveTo(i - 1, false, octets_[i - 1]->text().size());
            return true;
        case Qt::Key_Right:
            if (!plain || !atEnd || i == 3) return false;
            MoveTo(i + 1, false, 0);
            return true;
        case Qt::Key_Home:
            if (!plain) return false;
            MoveTo(0, false, 0);
            return true;
        case Qt::Key_End:
            if (!plain) return false;
            MoveTo(3, false, octets_[3]->text().size());
            return true;
        case Qt::Key_Backtab:
            // Octets 1-3 are not in the tab order; leave from where the field was entered.
            if (i == 0) return false;
            octets_[0]->setFocus(Qt::BacktabFocusReason);
            focusNextPrevChild(false);
            return true;
        default:
            return false;
    }
}

bool IpField::eventFilter(QObject* watched, QEvent* event) {
    const int i = IndexOf(watched);
    if (i < 0) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::KeyPress:
            return HandleKey(i, static_cast<QKeyEvent*>(event));
        case QEvent::FocusIn:
            update();
            break;
        case QEvent::FocusOut: {
            update();
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // A deactivated window or an edit's context menu keeps the focus where it was.
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                !OwnsFocus()) {
                emit editingFinished();
            }
            break;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void IpField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = rect();
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, this);
    frame.midLineWidth = 0;
    frame.state |= QStyle::State_Sunken;
    if (OwnsFocus()) frame.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    for (const QSpacerItem* dot : dots_) {
        QRect r = dot->geometry();
        r.setTop(octets_[0]->geometry().top());
        r.setHeight(octets_[0]->height());
        painter.drawText(r, Qt::AlignCenter, QStringLiteral("."));
    }
}

void IpField::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

}  // namespace velmor
