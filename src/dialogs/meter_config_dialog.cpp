// The meter configuration window; see meter_config_dialog.h.
#include "dialogs/meter_config_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace velmor {

namespace {

const char* const kModes[2] = {"Normal Mode\nNDI levels using dBu or VU scale",
                               "vMix Mode\nWhen NDI levels are 20dB low"};
const char* const kLayouts[3] = {"Horizontal", "Vertical", "Audio waveform (WIP)"};
constexpr int kSliderLength = 120;

QSlider* PositionSlider(Qt::Orientation orientation, const QString& name, QWidget* parent) {
    auto* slider = new QSlider(orientation, parent);
    slider->setRange(0, MeterConfig::kPositionMax);
    slider->setTickInterval(10);
    slider->setTickPosition(orientation == Qt::Vertical ? QSlider::TicksRight
                                                        : QSlider::TicksBelow);
    slider->setAccessibleName(name);
    if (orientation == Qt::Vertical) {
        // 0 at the top: pushing the slider up moves the meter up.
        slider->setInvertedAppearance(true);
        slider->setInvertedControls(true);
        slider->setFixedHeight(kSliderLength);
    } else {
        slider->setFixedWidth(kSliderLength);
    }
    return slider;
}

QRadioButton* Radio(const char* caption, QButtonGroup* group, int id, QWidget* parent) {
    auto* radio = new QRadioButton(QString::fromUtf8(caption), parent);
    radio->setAccessibleName(radio->text());
    group->addButton(radio, id);
    return radio;
}

}  // namespace

MeterConfigDialog::MeterConfigDialog(MeterSettings& settings, MeterLink& link, QWidget* parent)
    : QDialog(parent), config_(settings, link) {
    setWindowTitle(QStringLiteral("PPM Config"));

    auto* place = new QGroupBox(QStringLiteral("H/V position"), this);
    auto* placeGrid = new QGridLayout(place);
    vertical_ = PositionSlider(Qt::Vertical, QStringLiteral("Vertical position"), place);
    horizontal_ = PositionSlider(Qt::Horizontal, QStringLiteral("Horizontal position"), place);
    position_ = new QLabel(place);
    position_->setAlignment(Qt::AlignCenter);
    placeGrid->addWidget(vertical_, 0, 0, 2, 1, Qt::AlignHCenter);
    placeGrid->addWidget(position_, 0, 1, Qt::AlignCenter);
    placeGrid->addWidget(horizontal_, 1, 1, Qt::AlignBottom);

    auto* modeBox = new QGroupBox(QStringLiteral("Meter Mode"), this);
    auto* modeLayout = new QVBoxLayout(modeBox);
    mode_ = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i)
        modeLayout->addWidget(Radio(kModes[i], mode_, i, modeBox));
    auto* reference =
        new QLabel(QStringLiteral("SMPTE -20dBFS = 0VU\nEBU -18dBFS = 0dBu"), modeBox);
    modeLayout->addWidget(reference);

    auto* layoutBox = new QGroupBox(this);
    auto* layoutLayout = new QVBoxLayout(layoutBox);
    layout_ = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i)
        layoutLayout->addWidget(Radio(kLayouts[i], layout_, i, layoutBox));

    separate_ = new QCheckBox(QStringLiteral("Separate NDI o/p with alpha"), this);
    onMain_ = new QCheckBox(QStringLiteral("Meter overlay on main Velmor o/p"), this);
    for (QCheckBox* c : {separate_, onMain_})
        c->setAccessibleName(c->text());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setAccessibleName(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(place);
    left->addWidget(layoutBox);
    auto* right = new QVBoxLayout;
    right->addWidget(modeBox);
    right->addWidget(separate_);
    right->addWidget(onMain_);
    right->addStretch(1);
    right->addWidget(ok, 0, Qt::AlignRight);
    columns->addLayout(left);
    columns->addLayout(right, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(columns);

    // Set-up: the controls show the settings.
    const MeterSettings& s = config_.settings();
    if (QAbstractButton* b = mode_->button(s.meterMode)) b->setChecked(true);
    if (QAbstractButton* b = layout_->button(s.meterLayout)) b->setChecked(true);
    vertical_->setValue(s.meterPosV);
    horizontal_->setValue(s.meterPosH);
    separate_->setChecked(s.meterSeparateOutput != 0);
    onMain_->setChecked(s.meterOnMainOutput != 0);
    const QString text = QString::fromStdString(config_.PositionText());
    position_->setText(text);
    position_->setAccessibleName(text);

    connect(vertical_, &QSlider::valueChanged, this, &MeterConfigDialog::TakePositions);
    connect(horizontal_, &QSlider::valueChanged, this, &MeterConfigDialog::TakePositions);
    connect(mode_, &QButtonGroup::idClicked, this, [this](int id) { config_.ChooseMode(id); });
    connect(layout_, &QButtonGroup::idClicked, this, [this](int id) { config_.ChooseLayout(id); });
    connect(separate_, &QCheckBox::clicked, this,
            [this](bool on) { config_.SetSeparateOutput(on); });
    connect(onMain_, &QCheckBox::clicked, this, [this](bool on) { config_.SetOnMainOutput(on); });
}

MeterConfigDialog::~MeterConfigDialog() {
    // No control reports to a window that is half destroyed.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
}

void MeterConfigDialog::TakePositions() {
    config_.SetPositions(vertical_->value(), horizontal_->value());
    const QString text = QString::fromStdString(config_.PositionText());
    position_->setText(text);
    position_->setAccessibleName(text);
}

}  // namespace velmor
