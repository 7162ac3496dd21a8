// The audio map and gain window; see audio_map_dialog.h.
#include "dialogs/audio_map_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace velmor {

namespace {

constexpr int kButtonWidth = 54;
constexpr int kButtonHeight = 23;
constexpr int kGainButtonWidth = 45;

QRect ToQRect(const MapRect& r) {
    return QRect(r.x1, r.y1, r.width(), r.height());
}

QLabel* Label(const QString& text, const MapRect& at, Qt::Alignment align, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAccessibleName(text);
    label->setAlignment(align);
    label->setGeometry(ToQRect(at));
    return label;
}

QPushButton* Button(const QString& caption, MapPoint at, int width, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    b->setGeometry(at.x, at.y, width, kButtonHeight);
    return b;
}

}  // namespace

NDIAudioMapperDialog::NDIAudioMapperDialog(NDIAudioMapper& mapper, QWidget* parent)
    : QDialog(parent), mapper_(mapper), layout_(LayoutAudioMap(mapper.mapperChannels)) {
    setWindowTitle(QStringLiteral("NDI® Audio Map & Gain"));
    const int n = layout_.channels;
    mapper_.mapperChannels = n;
    setFixedSize(layout_.width, layout_.height);

    // The frames first, so that the buttons lie over them.
    for (int r = 0; r < n; ++r) {
        auto* frame = new QFrame(this);
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        QPalette black = frame->palette();
        black.setColor(QPalette::WindowText, Qt::black);
        frame->setPalette(black);
        frame->setGeometry(ToQRect(layout_.RowFrame(r)));
    }
    for (int r = 0; r < n; ++r) {
        auto* group = new QButtonGroup(this);
        rows_.push_back(group);
        const int selected = mapper_.mapperMap[static_cast<size_t>(r)];
        for (int c = 0; c <= n; ++c) {
            auto* radio = new QRadioButton(this);
            radio->setGeometry(ToQRect(layout_.Radio(r, c)));
            radio->setAccessibleName(c == n
                                         ? QStringLiteral("o/p %1 Mute").arg(r + 1)
                                         : QStringLiteral("o/p %1 input %2").arg(r + 1).arg(c + 1));
            group->addButton(radio, mapper_.RadioCommand(r, c));
            if (c == selected) radio->setChecked(true);
        }
        connect(group, &QButtonGroup::idClicked, this,
                [this](int id) { mapper_.RadioClicked(id); });
        Label(QStringLiteral("o/p %1").arg(r + 1), layout_.RowLabel(r),
              Qt::AlignLeft | Qt::AlignVCenter, this);
    }
    for (bool below : {false, true}) {
        if (below && !layout_.headersBelow) continue;
        for (int c = 0; c <= n; ++c) {
            Label(c == n ? QStringLiteral("Mute") : QString::number(c + 1),
                  layout_.ColumnHeader(c, below), Qt::AlignCenter, this);
        }
    }
    Label(QStringLiteral("Inputs"), layout_.inputsCaption, Qt::AlignLeft | Qt::AlignVCenter, this);

    monoMix_ = new QCheckBox(QStringLiteral("O/p 1/2 Mono mix"), this);
    monoMix_->setAccessibleName(monoMix_->text());
    monoMix_->setGeometry(layout_.monoMix.x, layout_.monoMix.y,
                          layout_.width - layout_.monoMix.x - 4, kButtonHeight);
    connect(monoMix_, &QCheckBox::clicked, this,
            [this](bool on) { mapper_.mapperMonoMix = on ? 1 : 0; });

    gainButton_ = Button(QStringLiteral("Gain"), layout_.gainButton, kGainButtonWidth, this);
    gainMenu_ = new QMenu(QStringLiteral("Gain"), this);
    for (int command = NDIAudioMapper::kFirstGainCommand;
         command <= NDIAudioMapper::kLastGainCommand; ++command) {
        QAction* step =
            gainMenu_->addAction(QString::fromStdString(NDIAudioMapper::GainMenuText(command)));
        step->setData(command);
    }
    gainButton_->setMenu(gainMenu_);
    connect(gainMenu_, &QMenu::triggered, this, [this](QAction* step) {
        if (mapper_.ChooseGain(step->data().toInt())) ShowGain();
    });
    gainText_ = Label(QString(),
                      MapRect{layout_.gainText.x, layout_.gainText.y, layout_.gainText.x + 60,
                              layout_.gainText.y + 16},
                      Qt::AlignLeft | Qt::AlignVCenter, this);

    QPushButton* reset = Button(QStringLiteral("Reset"), layout_.reset, kButtonWidth, this);
    QPushButton* use = Button(QStringLiteral("Use"), layout_.use, kButtonWidth, this);
    QPushButton* cancel = Button(QStringLiteral("Cancel"), layout_.cancel, kButtonWidth, this);
    use->setDefault(true);
    connect(reset, &QPushButton::clicked, this, [this] { Reset(); });
    connect(use, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    mapper_.ApplyGainItem();
    ShowGain();
    monoMix_->setChecked(mapper_.mapperMonoMix != 0);
}

QRadioButton* NDIAudioMapperDialog::radio(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    return qobject_cast<QRadioButton*>(
        rows_[static_cast<size_t>(row)]->button(mapper_.RadioCommand(row, column)));
}

int NDIAudioMapperDialog::commandOf(QRadioButton* button) const {
    for (QButtonGroup* g : rows_) {
        const int id = g->id(button);
        if (id != -1) return id;
    }
    return -1;
}

void NDIAudioMapperDialog::Reset() {
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        if (QRadioButton* own = radio(r, r)) own->setChecked(true);  // the group unchecks the rest
    }
    mapper_.Reset();
    monoMix_->setChecked(false);
}

void NDIAudioMapperDialog::ShowGain() {
    const QString text = QString::fromStdString(mapper_.GainText());
    gainText_->setText(text);
    gainText_->setAccessibleName(text);
}

}  // namespace velmor
