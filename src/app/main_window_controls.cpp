// The main window's controls, built a group at a time: the source row, the preview and meter,
// the status texts, the video, audio and output groups, and the bottom row; and its menu.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/main_window.h"
#include "widgets/app_icon.h"
#include "widgets/colour_button.h"
#include "widgets/ip_field.h"
#include "widgets/level_picture.h"
#include "widgets/meter_button.h"
#include "widgets/preview_box.h"
#include "widgets/source_combo.h"
#include "widgets/status_lamp.h"

namespace velmor {

namespace {

constexpr int kPreviewWidth = 384;
constexpr int kPreviewHeight = 216;
constexpr int kMeterWidth = 30;

QPushButton* PushButton(const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    return b;
}

// A status text: its accessible name is the text it shows (a screen reader reads the status);
// what the text is about goes into the description.
QLabel* StatusText(const QString& text, const QString& about, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAccessibleDescription(about);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

void MainWindow::BuildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    outer->addWidget(sourceCaption_ = StatusText("NDI Source", "connection status", central));
    sourceCaption_->setMinimumWidth(300);
    outer->addLayout(BuildSourceRow(central));

    // Picture row: preview and meter, then the controls.
    auto* body = new QHBoxLayout;
    preview_ = new VidBox(central);
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setRenderer(&controller_->mainPreview());
    preview_->ShowIdlePicture();
    body->addWidget(preview_, 0, Qt::AlignTop);
    meter_ = new PMeterButton(central);
    meter_->setFixedSize(kMeterWidth, kPreviewHeight);
    body->addWidget(meter_, 0, Qt::AlignTop);

    for (int i = 0; i < kWindowButtonCount; ++i) {
        const auto b = static_cast<WindowButton>(i);
        auto* button = new CColButton(central);
        button->setCaption(InitialCaption(b));
        button->setAutoDefault(false);
        if (b == WindowButton::Output) button->setFillColours(CColButton::OutputColours());
        buttons_[static_cast<size_t>(i)] = button;
    }
    // Made here so that the keyboard reaches them right after the coloured buttons.
    grabButton_ = PushButton("FrameGrab F12", central);
    ebuButton_ = PushButton("EBU o/p", central);
    disconnectButton_ = PushButton("Disconnect", central);
    auto* controls = new QVBoxLayout;
    controls->addLayout(BuildStatusTexts(central));
    controls->addWidget(BuildVideoGroup(central));
    controls->addWidget(BuildAudioGroup(central));
    controls->addWidget(BuildOutputGroup(central));
    controls->addStretch(1);
    body->addLayout(controls, 1);
    outer->addLayout(body);
    outer->addLayout(BuildBottomRow(central));
    setWindowIcon(AppIcon());
}

// The picker with the discovery filters beside it.
QLayout* MainWindow::BuildSourceRow(QWidget* central) {
    auto* sourceRow = new QHBoxLayout;
    picker_ = new NDIcombobox(central);
    picker_->setMinimumWidth(320);
    sourceRow->addWidget(picker_, 1);
    excludeLocal_ = new QCheckBox("Exclude local", central);
    excludeLocal_->setAccessibleName("Exclude local");
    sourceRow->addWidget(excludeLocal_);
    auto* ipLabel = new QLabel("Extra IP", central);
    extraIp_ = new IpField(central);
    ipLabel->setBuddy(extraIp_);
    sourceRow->addWidget(ipLabel);
    sourceRow->addWidget(extraIp_);
    statsButton_ = PushButton("Stats", central);
    groupsButton_ = PushButton("Groups", central);
    sourceRow->addWidget(statsButton_);
    sourceRow->addWidget(groupsButton_);
    return sourceRow;
}

// The signal lamp beside the video and audio signal types.
QLayout* MainWindow::BuildStatusTexts(QWidget* central) {
    auto* statusRow = new QGridLayout;
    videoCaption_ = StatusText("Video signal type", "video signal type", central);
    audioCaption_ = StatusText("Audio signal type", "audio signal type", central);
    signalLamp_ = new StatusLamp("Signal lamp", central);
    statusRow->addWidget(signalLamp_, 0, 0, 2, 1, Qt::AlignVCenter);
    statusRow->addWidget(videoCaption_, 0, 1);
    statusRow->addWidget(audioCaption_, 1, 1);
    statusRow->setColumnStretch(1, 1);
    return statusRow;
}

// Freeze and grab, the processing steps and their windows.
QWidget* MainWindow::BuildVideoGroup(QWidget* central) {
    auto* video = new QGroupBox("Video", central);
    auto* videoGrid = new QGridLayout(video);
    freezeLamp_ = new StatusLamp("Freeze lamp", video);
    auto* freezeCell = new QHBoxLayout;
    freezeCell->addWidget(button(WindowButton::Freeze), 1);
    freezeCell->addWidget(freezeLamp_);
    videoGrid->addLayout(freezeCell, 0, 0);
    videoGrid->addWidget(grabButton_, 0, 1);
    videoGrid->addWidget(button(WindowButton::Rotate), 0, 2);
    videoGrid->addWidget(button(WindowButton::Deinterlace), 0, 3);
    videoGrid->addWidget(button(WindowButton::ProcAmp), 1, 0);
    videoGrid->addWidget(button(WindowButton::Overlay), 1, 1);
    videoGrid->addWidget(button(WindowButton::PpmOverlay), 1, 2);
    deintCheck_ = new QCheckBox("De-int", video);
    deintCheck_->setAccessibleName("De-int");
    deintCheck_->setEnabled(false);
    deintCheck_->hide();  // the legacy switch: kept, never shown
    return video;
}

// The audio map, the delay and the monitor level.
QWidget* MainWindow::BuildAudioGroup(QWidget* central) {
    auto* audio = new QGroupBox("Audio", central);
    auto* audioRow = new QHBoxLayout(audio);
    audioRow->addWidget(button(WindowButton::AudioMap));
    audioRow->addWidget(button(WindowButton::AudioDelay));
    minusButton_ = PushButton("-", audio);
    plusButton_ = PushButton("+", audio);
    for (QPushButton* b : {minusButton_, plusButton_})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance("+") * 4 + 8);
    delayCounter_ = StatusText("0", "audio delay in frames", audio);
    delayCounter_->setAlignment(Qt::AlignCenter);
    delayCounter_->setMinimumWidth(delayCounter_->fontMetrics().horizontalAdvance("00") + 8);
    audioRow->addWidget(minusButton_);
    audioRow->addWidget(delayCounter_);
    audioRow->addWidget(plusButton_);
    audioRow->addStretch(1);
    level_ = new LevelPicture(audio);
    levelCaption_ = StatusText("Full", "monitor level", audio);
    levelCaption_->setMinimumWidth(levelCaption_->fontMetrics().horizontalAdvance("Mute") + 4);
    audioRow->addWidget(level_);
    audioRow->addWidget(levelCaption_);
    return audio;
}

// NDI or AirSend, the reference standard, the key+fill label and Disconnect.
QWidget* MainWindow::BuildOutputGroup(QWidget* central) {
    auto* output = new QGroupBox("Output", central);
    auto* outputRow = new QHBoxLayout(output);
    outputRow->addWidget(button(WindowButton::Output));
    outputRow->addWidget(ebuButton_);
    keyFillLabel_ = StatusText("Split Key+Fill o/p", "key and fill outputs", output);
    keyFillLabel_->hide();
    outputRow->addWidget(keyFillLabel_);
    outputRow->addStretch(1);
    outputRow->addWidget(disconnectButton_);
    return output;
}

// The NDI vendor's page and Exit (the default button).
QLayout* MainWindow::BuildBottomRow(QWidget* central) {
    auto* bottom = new QHBoxLayout;
    ndiLink_ = new QPushButton("ndi.video", central);
    ndiLink_->setAccessibleName("ndi.video");
    ndiLink_->setFlat(true);
    ndiLink_->setCursor(Qt::PointingHandCursor);
    QFont underlined = ndiLink_->font();
    underlined.setUnderline(true);
    ndiLink_->setFont(underlined);
    ndiLink_->setAutoDefault(false);
    bottom->addWidget(ndiLink_);
    bottom->addStretch(1);
    exitButton_ = PushButton("Exit", central);
    exitButton_->setDefault(true);
    bottom->addWidget(exitButton_);
    return bottom;
}

void MainWindow::BuildMenu() {
    QMenu* menu = menuBar()->addMenu("&Velmor");
    auto add = [&](const char* text, int id, bool checkable) {
        QAction* action = menu->addAction(text);
        action->setCheckable(checkable);
        connect(action, &QAction::triggered, this, [this, id] { commands_->MenuCommand(id); });
        return action;
    };
    add("Open NDI Source Stats", kMenuSourceStats, false);
    keyFillAction_ = add("Split Key+Fill", kMenuSplitKeyFill, true);
    add("Frame Grab Settings", kMenuGrabSettings, false);
    onTopAction_ = add("Always on top", kMenuAlwaysOnTop, true);
    loadAction_ = add("Load settings on startup", kMenuLoadOnStartup, true);
    saveAction_ = add("Save settings on exit", kMenuSaveOnExit, true);
    menu->addSeparator();
    // The preview's two click areas, for the keyboard and accessibility tools.
    QAction* preview = menu->addAction("Preview on/off");
    connect(preview, &QAction::triggered, this, [this] { commands_->TogglePreview(); });
    QAction* burnIn = menu->addAction("Timecode burn-in on/off");
    connect(burnIn, &QAction::triggered, this, [this] { commands_->ToggleTimecodeBurnIn(); });
    menu->addSeparator();
    if (remote_) {
        // The control page (--http): its address, and its link with the token for a browser.
        remoteAddressAction_ = menu->addAction("Control page: starting");
        remoteAddressAction_->setEnabled(false);
        remoteCopyAction_ = menu->addAction("Copy control page link");
        remoteCopyAction_->setEnabled(false);
        connect(remoteCopyAction_, &QAction::triggered, this, [this] {
            if (remote_ && remote_->running())
                QGuiApplication::clipboard()->setText(QString::fromStdString(remote_->PageLink()));
        });
        menu->addSeparator();
    }
    QAction* help = add("Open online help (ReadMe file)", kMenuHelp, false);
    help->setShortcut(QKeySequence(Qt::Key_F1));
    help->setShortcutContext(Qt::WidgetShortcut);  // F1 itself goes through the key filter
    add("&About NDI Velmor...", kMenuAbout, false);

    // Comms return (64) has no menu entry, only its key.
    auto* comms = new QAction("Comms return", this);
    comms->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    connect(comms, &QAction::triggered, this, [this] { commands_->MenuCommand(kMenuCommsReturn); });
    addAction(comms);
}

}  // namespace velmor
