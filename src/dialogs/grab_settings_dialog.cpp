// The frame grab settings window; see grab_settings_dialog.h.
#include "dialogs/grab_settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace velmor {

namespace {
// The settings record keeps the base name in 124 UTF-16 units, the terminator included.
constexpr int kBaseNameUnits = 123;
const char* const kFormats[4] = {"BMP", "GIF", "JPG", "PNG"};
}  // namespace

GrabSettingsDialog::GrabSettingsDialog(GrabSetup& setup, QWidget* parent)
    : QDialog(parent), setup_(setup) {
    setWindowTitle(QStringLiteral("Velmor  Frame Grab Settings"));

    auto* name = new QGroupBox(QStringLiteral("File name"), this);
    auto* nameLayout = new QGridLayout(name);
    useBaseName_ = new QCheckBox(QStringLiteral("BaseName"), name);
    addDate_ = new QCheckBox(QStringLiteral("Date"), name);
    addTime_ = new QCheckBox(QStringLiteral("Time"), name);
    auto* baseNameLabel = new QLabel(QStringLiteral("Base Name"), name);
    baseName_ = new QLineEdit(name);
    baseName_->setMaxLength(kBaseNameUnits);
    baseName_->setAccessibleName(QStringLiteral("Base Name"));
    baseNameLabel->setBuddy(baseName_);
    nameLayout->addWidget(useBaseName_, 0, 0);
    nameLayout->addWidget(addDate_, 0, 1);
    nameLayout->addWidget(addTime_, 0, 2);
    nameLayout->addWidget(baseNameLabel, 1, 0);
    nameLayout->addWidget(baseName_, 1, 1, 1, 2);

    auto* formats = new QGroupBox(QStringLiteral("Format"), this);
    auto* formatLayout = new QHBoxLayout(formats);
    format_ = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(kFormats[i]), formats);
        format_->addButton(radio, i);
        formatLayout->addWidget(radio);
    }

    grabOnFreeze_ = new QCheckBox(QStringLiteral("Frame Grab when Freeze"), this);

    auto* folderRow = new QHBoxLayout;
    auto* choose = new QPushButton(QStringLiteral("File path"), this);
    choose->setAutoDefault(false);
    folder_ = new QLabel(this);
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folder_->setMinimumWidth(240);
    folderRow->addWidget(choose);
    folderRow->addWidget(folder_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(choose, &QPushButton::clicked, this, &GrabSettingsDialog::ChooseFolder);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(formats);
    layout->addWidget(grabOnFreeze_);
    layout->addLayout(folderRow);
    layout->addWidget(buttons);

    pickFolder = [this] {
        const QString start = setup_.grabFolder.empty() ? QDir::currentPath()
                                                        : QString::fromStdString(setup_.grabFolder);
        return QFileDialog::getExistingDirectory(
            this, QStringLiteral("Set path for saving frame grabs"), start);
    };

    useBaseName_->setChecked(setup_.useBaseName != 0);
    addDate_->setChecked(setup_.addDate != 0);
    addTime_->setChecked(setup_.addTime != 0);
    grabOnFreeze_->setChecked(setup_.grabOnFreeze != 0);
    // An index from outside 0..3 names PNG files, so PNG is what is shown.
    const int index = setup_.formatIndex >= 0 && setup_.formatIndex <= 3 ? setup_.formatIndex : 3;
    format_->button(index)->setChecked(true);
    baseName_->setText(QString::fromStdString(setup_.baseName));
    ShowFolder();
}

void GrabSettingsDialog::ShowFolder() {
    const QString text = setup_.grabFolder.empty() ? QStringLiteral("App folder")
                                                   : QString::fromStdString(setup_.grabFolder);
    folder_->setText(text);
    folder_->setAccessibleName(text);
}

void GrabSettingsDialog::ChooseFolder() {
    const QString chosen = pickFolder ? pickFolder() : QString();
    if (chosen.isEmpty()) return;
    // Taken at once: the folder stays even when the window is then cancelled.
    setup_.grabFolder = chosen.toStdString();
    ShowFolder();
}

void GrabSettingsDialog::accept() {
    setup_.useBaseName = useBaseName_->isChecked() ? 1 : 0;
    setup_.addDate = addDate_->isChecked() ? 1 : 0;
    setup_.addTime = addTime_->isChecked() ? 1 : 0;
    setup_.grabOnFreeze = grabOnFreeze_->isChecked() ? 1 : 0;
    setup_.formatIndex = format_->checkedId() >= 0 ? format_->checkedId() : 3;
    setup_.baseName = baseName_->text().toStdString();
    QDialog::accept();
}

}  // namespace velmor
