// The group settings window; see group_settings_dialog.h.
#include "dialogs/group_settings_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmor {

namespace {

struct Row {
    QCheckBox* publicCheck;
    QCheckBox* appsCheck;
    QLineEdit* extra;
};

// One row: its caption as a group box, the two check boxes and the "additional Groups" box.
Row AddRow(const QString& caption, QGridLayout* grid, int line, QWidget* parent) {
    auto* box = new QGroupBox(caption, parent);
    auto* layout = new QHBoxLayout(box);
    Row row;
    row.publicCheck = new QCheckBox(QStringLiteral("Public"), box);
    row.appsCheck = new QCheckBox(QStringLiteral("Korvo NDI apps"), box);
    auto* label = new QLabel(QStringLiteral("additional Groups"), box);
    row.extra = new QLineEdit(box);
    row.extra->setMaxLength(static_cast<int>(GroupSetup::kEditLimit));
    row.extra->setMinimumWidth(row.extra->fontMetrics().averageCharWidth() * 28);
    label->setBuddy(row.extra);
    for (QWidget* w :
         {static_cast<QWidget*>(row.publicCheck), static_cast<QWidget*>(row.appsCheck)})
        w->setAccessibleName(static_cast<QCheckBox*>(w)->text());
    row.extra->setAccessibleName(QStringLiteral("additional Groups"));
    row.extra->setAccessibleDescription(caption);
    layout->addWidget(row.publicCheck);
    layout->addWidget(row.appsCheck);
    layout->addSpacing(12);
    layout->addWidget(label);
    layout->addWidget(row.extra, 1);
    grid->addWidget(box, line, 0);
    return row;
}

}  // namespace

GroupSettingsDialog::GroupSettingsDialog(GroupSetup& setup, QWidget* parent)
    : QDialog(parent), setup_(setup) {
    setWindowTitle(QStringLiteral("NDI Group settings for Velmor I/O"));
    auto* grid = new QGridLayout;
    const Row detect = AddRow(QStringLiteral("Source detection"), grid, 0, this);
    const Row output = AddRow(QStringLiteral("Velmor output"), grid, 1, this);
    detectPublic_ = detect.publicCheck;
    detectApps_ = detect.appsCheck;
    detectExtra_ = detect.extra;
    outputPublic_ = output.publicCheck;
    outputApps_ = output.appsCheck;
    outputExtra_ = output.extra;

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    for (QPushButton* b : {ok, cancel}) {
        b->setAccessibleName(b->text());
        b->setAutoDefault(false);
    }
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    // Set-up: the stored choices into the controls, and both texts built from them.
    setup_.LoadGroupControls();
    detectPublic_->setChecked(setup_.detectPublicCheck != 0);
    detectApps_->setChecked(setup_.detectAppsCheck != 0);
    detectExtra_->setText(QString::fromStdString(setup_.detectExtraText));
    outputPublic_->setChecked(setup_.outputPublicCheck != 0);
    outputApps_->setChecked(setup_.outputAppsCheck != 0);
    outputExtra_->setText(QString::fromStdString(setup_.outputExtraText));
    setup_.BuildReceiveGroups();
    setup_.BuildSendGroups();

    for (QCheckBox* c : {detectPublic_, detectApps_})
        connect(c, &QCheckBox::clicked, this, &GroupSettingsDialog::TakeDetection);
    for (QCheckBox* c : {outputPublic_, outputApps_})
        connect(c, &QCheckBox::clicked, this, &GroupSettingsDialog::TakeOutput);
    connect(detectExtra_, &QLineEdit::editingFinished, this, &GroupSettingsDialog::TakeDetection);
    connect(outputExtra_, &QLineEdit::editingFinished, this, &GroupSettingsDialog::TakeOutput);
}

GroupSettingsDialog::~GroupSettingsDialog() {
    // The boxes report losing the focus while Qt destroys them, after this object's own part.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
}

void GroupSettingsDialog::done(int result) {
    TakeDetection();
    TakeOutput();
    QDialog::done(result);
}

void GroupSettingsDialog::TakeDetection() {
    setup_.detectPublicCheck = detectPublic_->isChecked() ? 1 : 0;
    setup_.detectAppsCheck = detectApps_->isChecked() ? 1 : 0;
    setup_.detectExtraText = detectExtra_->text().toStdString();
    setup_.BuildReceiveGroups();
}

void GroupSettingsDialog::TakeOutput() {
    setup_.outputPublicCheck = outputPublic_->isChecked() ? 1 : 0;
    setup_.outputAppsCheck = outputApps_->isChecked() ? 1 : 0;
    setup_.outputExtraText = outputExtra_->text().toStdString();
    setup_.BuildSendGroups();
}

void GroupSettingsDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Take the values over and move on: Enter never closes this window.
        TakeDetection();
        TakeOutput();
        focusNextChild();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace velmor
