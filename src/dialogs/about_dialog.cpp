// The About box; see about_dialog.h.
#include "dialogs/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "widgets/app_icon.h"

namespace velmor {

AboutDialog::AboutDialog(const QString& versionText, const QString& buildMonthText,
                         const QString& ndiVersion, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("About NDI® Velmor (Receiver/Transmitter)"));
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(64, 64));
    icon->setAccessibleName(QStringLiteral("Velmor"));
    auto* first = new QLabel(FirstLine(versionText, buildMonthText, ndiVersion), this);
    auto* notice =
        new QLabel(QStringLiteral("NDI® is a registered trademark of Vizrt NDI AB"), this);
    for (QLabel* label : {first, notice})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(first);
    texts->addWidget(notice);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString AboutDialog::FirstLine(const QString& versionText, const QString& buildMonthText,
                               const QString& ndiVersion) {
    return QStringLiteral("NDI® Velmor v%1,  %2,  NDI® v%3, x%4")
        .arg(versionText, buildMonthText, ndiVersion, QString::number(64));
}

QString AboutDialog::RuntimeVersion(const QString& libraryVersionText) {
    return libraryVersionText.mid(libraryVersionText.lastIndexOf(u' ') + 1);
}

}  // namespace velmor
