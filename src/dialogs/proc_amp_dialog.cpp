// The proc amp window; see proc_amp_dialog.h.
#include "dialogs/proc_amp_dialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "persist/preset_file.h"
#include "video/preview_render.h"
#include "widgets/colour_button.h"
#include "widgets/preview_box.h"

namespace velmor {

namespace {

// A slider's look; its range is the parameter's (kProcAmpSliderRanges).
struct SliderLook {
    const char* caption;
    int ticks, step;
};
// In ProcAmpParam order. The first caption follows the alpha mode.
constexpr SliderLook kSliders[ProcAmpDialog::kParams] = {
    {"Black Level", 25, 1}, {"Gain", 10, 1},          {"Contrast", 25, 1},      {"Gamma", 25, 1},
    {"Colour Sat", 10, 1},  {"U Level Shift", 25, 2}, {"V Level Shift", 25, 2},
};
constexpr int kMonitorWidth = 640, kMonitorHeight = 360, kMonitorFrame = 3;
constexpr int kMargin = 8;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A push button that Enter does not press unless it is the default; screen readers name it by
// its caption (Qt's own accessible name of a button), also when the caption changes.
QPushButton* PushButton(const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setAutoDefault(false);
    return b;
}

// The preset buttons' states as a screen reader hears them.
const CColButton::StateNames& PresetStateNames() {
    static const CColButton::StateNames names = {QString(),
                                                 QStringLiteral("on"),
                                                 QStringLiteral("current"),
                                                 QStringLiteral("neutral"),
                                                 QStringLiteral("intermediate"),
                                                 QStringLiteral("stored")};
    return names;
}

}  // namespace

ProcAmpDialog::ProcAmpDialog(ProcAmpState& state, PreviewRenderer& monitor, INotifier& notifier,
                             QWidget* parent)
    : QDialog(parent), state_(state), notifier_(notifier), model_(state, &monitor) {
    setWindowTitle(QStringLiteral("Korvo Velmor NDI® ProcAmp"));
    // The window closes through OK or Cancel only, as its system menu's close is greyed out.
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    BuildControls();
    monitor_->setRenderer(&monitor);
    Connect();

    pickFile = [this] {
        return QFileDialog::getOpenFileName(
            this, QStringLiteral("Load ProcAmp Preset"), QString(),
            QStringLiteral("Velmor Preset Files (*.pap);;All Files (*.*)"));
    };
    model_.onParamChanged = [this](ProcAmpParam p) { ShowParam(p); };
    model_.onRefresh = [this] { ShowAll(); };
    model_.Open();
}

ProcAmpDialog::~ProcAmpDialog() {
    // The name box reports losing the focus while Qt destroys it, after the model is gone.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
}

void ProcAmpDialog::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    outer->setSpacing(6);
    outer->setSizeConstraint(QLayout::SetNoConstraint);

    auto* controls = new QWidget(this);
    controls->setFixedHeight(ProcAmpWindowModel::kHeight - 2 * kMargin);
    auto* controlsLayout = new QVBoxLayout(controls);
    controlsLayout->setContentsMargins(0, 0, 0, 0);
    controlsLayout->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->addLayout(BuildSliders(controls), 1);
    top->addLayout(BuildSwitches(controls));
    controlsLayout->addLayout(top, 1);
    controlsLayout->addLayout(BuildPresetRow(controls));
    controlsLayout->addLayout(BuildNameAndButtons(controls));
    outer->addWidget(controls);

    // The monitor in its frame, shown with "Monitor".
    monitorFrame_ = new QFrame(this);
    monitorFrame_->setFrameShape(QFrame::Box);
    monitorFrame_->setFixedSize(kMonitorWidth + 2 * kMonitorFrame,
                                kMonitorHeight + 2 * kMonitorFrame);
    monitor_ = new VidBox(monitorFrame_);
    monitor_->setAccessibleName(QStringLiteral("ProcAmp monitor"));
    monitor_->setGeometry(kMonitorFrame, kMonitorFrame, kMonitorWidth, kMonitorHeight);
    monitor_->setGraticuleClickEnabled(true);
    outer->addWidget(monitorFrame_, 0, Qt::AlignHCenter);
    outer->addStretch(1);
}

QLayout* ProcAmpDialog::BuildSliders(QWidget* controls) {
    // Caption, slider, value label, one column each.
    auto* sliders = new QGridLayout;
    sliders->setHorizontalSpacing(2);
    sliders->setVerticalSpacing(2);
    for (int i = 0; i < kParams; ++i) {
        const SliderLook& look = kSliders[i];
        const ProcAmpRange range = kProcAmpSliderRanges[static_cast<size_t>(i)];
        const QString caption = QString::fromLatin1(look.caption);
        captions_[i] = new QLabel(caption, controls);
        captions_[i]->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        captions_[i]->setWordWrap(true);
        auto* slider = new QSlider(Qt::Vertical, controls);
        slider->setRange(range.min, range.max);
        slider->setTickInterval(look.ticks);
        slider->setTickPosition(QSlider::TicksRight);
        slider->setSingleStep(look.step);
        // The minimum at the top, and the Up key moving the handle up.
        slider->setInvertedAppearance(true);
        slider->setInvertedControls(true);
        slider->setAccessibleName(caption);
        captions_[i]->setBuddy(slider);
        sliders_[i] = slider;
        auto* value = new QPushButton(controls);
        value->setFlat(true);
        value->setAutoDefault(false);
        value->setAccessibleDescription(QStringLiteral("click to reset %1 to 50").arg(caption));
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("217.2%")) +
                               8);
        values_[i] = value;
        sliders->addWidget(captions_[i], 0, i);
        sliders->addWidget(slider, 1, i, Qt::AlignHCenter);
        sliders->addWidget(value, 2, i);
        sliders->setColumnStretch(i, 1);
    }
    sliders->setRowStretch(1, 1);
    return sliders;
}

QLayout* ProcAmpDialog::BuildSwitches(QWidget* controls) {
    auto* side = new QVBoxLayout;
    auto* linkingBox = new QGroupBox(QStringLiteral("U/V Control Linking"), controls);
    auto* linkingLayout = new QHBoxLayout(linkingBox);
    linking_ = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(kUvLinkingNames[i]), linkingBox);
        radio->setAccessibleName(radio->text());
        linking_->addButton(radio, i);
        linkingLayout->addWidget(radio);
    }
    side->addWidget(linkingBox);

    auto* fxLabel = new QLabel(QStringLiteral("FX Order"), controls);
    fxOrder_ = PushButton(QString::fromLatin1(kFxOrderNames[0]), controls);
    auto* menu = new QMenu(QStringLiteral("FX Order"), fxOrder_);
    for (int i = 0; i < 2; ++i) {
        QAction* item = menu->addAction(QString::fromLatin1(kFxOrderNames[i]));
        connect(item, &QAction::triggered, this, [this, i] {
            model_.SetFxOrder(i);
            ShowSwitches();
        });
    }
    fxOrder_->setMenu(menu);
    fxLabel->setBuddy(fxOrder_);
    side->addWidget(fxLabel);
    side->addWidget(fxOrder_);

    auto* switches = new QGridLayout;
    bypass_ = new CColButton(QStringLiteral("Temp Bypass"), controls);
    apply_ = new CColButton(QStringLiteral("Apply to o/p"), controls);
    monitorButton_ = new CColButton(QStringLiteral("Monitor"), controls);
    wfm_ = new CColButton(QStringLiteral("WFM"), controls);
    for (CColButton* b : {bypass_, apply_, monitorButton_, wfm_})
        b->setAutoDefault(false);
    bypass_->setNotifyOnPress(true);
    switches->addWidget(bypass_, 0, 0);
    switches->addWidget(apply_, 0, 1);
    switches->addWidget(monitorButton_, 1, 0);
    switches->addWidget(wfm_, 1, 1);
    side->addLayout(switches);
    reset_ = PushButton(QStringLiteral("Reset"), controls);
    side->addWidget(reset_);
    side->addStretch(1);
    return side;
}

QLayout* ProcAmpDialog::BuildPresetRow(QWidget* controls) {
    // Each slot's button and the ">" that stores into it.
    auto* presetRow = new QHBoxLayout;
    presetRow->setSpacing(2);
    for (int n = 0; n < ProcAmpWindowModel::kSlots; ++n) {
        auto* preset = new CColButton(QStringLiteral("Preset %1").arg(n + 1), controls);
        preset->setAutoDefault(false);
        preset->setStateNames(PresetStateNames());
        // Six slots share the width: the style's wide minimum for push buttons would not fit.
        preset->setMinimumWidth(preset->fontMetrics().horizontalAdvance(preset->text()) + 12);
        presets_[n] = preset;
        auto* store = PushButton(QStringLiteral(">"), controls);
        store->setAccessibleDescription(QStringLiteral("store into slot %1").arg(n + 1));
        store->setFixedWidth(store->fontMetrics().horizontalAdvance(QStringLiteral(">")) + 16);
        stores_[n] = store;
        presetRow->addWidget(preset, 1);
        presetRow->addWidget(store);
        if (n + 1 < ProcAmpWindowModel::kSlots) presetRow->addSpacing(4);
    }
    return presetRow;
}

QLayout* ProcAmpDialog::BuildNameAndButtons(QWidget* controls) {
    auto* bottom = new QHBoxLayout;
    auto* nameLabel = new QLabel(QStringLiteral("Preset Name"), controls);
    name_ = new QLineEdit(controls);
    name_->setAlignment(Qt::AlignCenter);
    name_->setMaxLength(kPresetNameMaxUnits - 1);
    name_->setAccessibleName(QStringLiteral("Preset Name"));
    nameLabel->setBuddy(name_);
    load_ = PushButton(QStringLiteral("Load"), controls);
    save_ = PushButton(QStringLiteral("Save"), controls);
    auto* ok = PushButton(QStringLiteral("OK"), controls);
    ok->setDefault(true);
    auto* cancel = PushButton(QStringLiteral("Cancel"), controls);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    bottom->addWidget(nameLabel);
    bottom->addWidget(name_, 1);
    bottom->addWidget(load_);
    bottom->addWidget(save_);
    bottom->addSpacing(12);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    return bottom;
}

void ProcAmpDialog::Connect() {
    for (int i = 0; i < kParams; ++i) {
        const auto p = static_cast<ProcAmpParam>(i);
        connect(sliders_[i], &QSlider::valueChanged, this,
                [this, p](int value) { model_.SetParam(p, value); });
        connect(values_[i], &QPushButton::clicked, this, [this, p] { model_.ResetParam(p); });
    }
    connect(linking_, &QButtonGroup::idClicked, this, [this](int id) { model_.SetUvLinking(id); });
    // The switches: the model's operation, then the switches as the model shows them.
    const auto on = [this](auto* b, auto signal, void (ProcAmpWindowModel::*op)()) {
        connect(b, signal, this, [this, op] {
            (model_.*op)();
            ShowSwitches();
        });
    };
    on(bypass_, &CColButton::pressNotified, &ProcAmpWindowModel::PressBypass);
    on(bypass_, &QAbstractButton::released, &ProcAmpWindowModel::ReleaseBypass);
    on(apply_, &QAbstractButton::clicked, &ProcAmpWindowModel::ToggleApply);
    on(monitorButton_, &QAbstractButton::clicked, &ProcAmpWindowModel::ToggleMonitor);
    on(wfm_, &QAbstractButton::clicked, &ProcAmpWindowModel::ToggleWfm);
    connect(reset_, &QPushButton::clicked, this, [this] { model_.Reset(); });
    for (int n = 0; n < ProcAmpWindowModel::kSlots; ++n) {
        connect(presets_[n], &QPushButton::clicked, this, [this, n] { model_.Recall(n); });
        connect(stores_[n], &QPushButton::clicked, this, [this, n] {
            model_.Store(n);
            ShowPresets();
        });
    }
    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.SetPresetName(text.toStdString()); });
    connect(name_, &QLineEdit::editingFinished, this, [this] {
        model_.NameEditingFinished();
        ShowPresets();
    });
    connect(load_, &QPushButton::clicked, this, &ProcAmpDialog::Load);
    connect(save_, &QPushButton::clicked, this, &ProcAmpDialog::Save);
}

void ProcAmpDialog::ShowParam(ProcAmpParam p) {
    const int i = static_cast<int>(p);
    if (i < 0 || i >= kParams) return;
    {
        const QSignalBlocker quiet(sliders_[i]);
        sliders_[i]->setValue(model_.Value(p));
    }
    values_[i]->setText(Q(model_.LabelText(p)));
}

void ProcAmpDialog::ShowAll() {
    const QString first = Q(model_.FirstSliderCaption());
    captions_[0]->setText(first);
    sliders_[0]->setAccessibleName(first);
    values_[0]->setAccessibleDescription(QStringLiteral("click to reset %1 to 50").arg(first));
    for (int i = 0; i < kParams; ++i)
        ShowParam(static_cast<ProcAmpParam>(i));
    if (QAbstractButton* radio = linking_->button(model_.UvLinking())) radio->setChecked(true);
    if (name_->text() != Q(model_.PresetName())) name_->setText(Q(model_.PresetName()));
    ShowSwitches();
    ShowPresets();
}

void ProcAmpDialog::ShowSwitches() {
    const QString order = Q(model_.FxOrderText());
    fxOrder_->setText(order);
    bypass_->setState(model_.BypassColour());
    apply_->setState(model_.ApplyColour());
    monitorButton_->setState(model_.MonitorColour());
    wfm_->setState(model_.WfmColour());
    monitorFrame_->setVisible(model_.MonitorShown());
    setFixedSize(ProcAmpWindowModel::kWidth, model_.WindowHeight());
}

void ProcAmpDialog::ShowPresets() {
    for (int n = 0; n < ProcAmpWindowModel::kSlots; ++n) {
        presets_[n]->setState(model_.PresetColour(n));
        presets_[n]->setCaption(Q(model_.PresetCaption(n)));
    }
}

void ProcAmpDialog::FrameArrived() {
    if (model_.MonitorShown()) monitor_->FrameArrived();
}

void ProcAmpDialog::Load() {
    const QString path = pickFile ? pickFile() : QString();
    if (path.isEmpty()) return;
    if (LoadPresetFile(state_, QFile::encodeName(path).toStdString(), notifier_) ==
        PresetLoadResult::Loaded)
        model_.Loaded();
}

void ProcAmpDialog::Save() {
    SavePresetFile(state_, notifier_, saveFolder);
}

void ProcAmpDialog::accept() {
    model_.Ok();
    QDialog::accept();
}

void ProcAmpDialog::reject() {
    model_.Cancel();
    QDialog::reject();
}

}  // namespace velmor
