#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>

#include "app/options.h"
#include "app/quit_signals.h"
#include "dialogs/about_dialog.h"
#include "dialogs/audio_map_dialog.h"
#include "dialogs/grab_settings_dialog.h"
#include "dialogs/group_settings_dialog.h"
#include "dialogs/meter_config_dialog.h"
#include "dialogs/overlay_setup_dialog.h"
#include "dialogs/proc_amp_dialog.h"
#include "dialogs/sources_found_dialog.h"
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

const char* const kNdiVendorUrl = "https://ndi.video/";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

MainWindow::MainWindow(const RelayOptions& options) {
    controller_ = std::make_unique<RelayController>(options, *this);
    commands_ = std::make_unique<MainCommands>(*controller_);
    BuildControls();
    BuildMenu();
    Connect();
    ShowModel();
    controller_->model().onChange = [this](const ModelChange& change) { OnModelChange(change); };
    controller_->ShowPreviewOn(true);
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    delete sourcesWindow_;  // its workers go to probePark_
    qApp->removeEventFilter(this);
    controller_->model().onChange = nullptr;
    controller_->ShowPreviewOn(false);
}

void MainWindow::Connect() {
    MainCommands* c = commands_.get();
    connect(exitButton_, &QPushButton::clicked, this, [c] { c->Exit(); });
    connect(button(WindowButton::Freeze), &QPushButton::clicked, this, [c] { c->Freeze(); });
    connect(button(WindowButton::Overlay), &QPushButton::clicked, this, [c] { c->Overlay(); });
    connect(button(WindowButton::PpmOverlay), &QPushButton::clicked, this,
            [c] { c->PpmOverlay(); });
    connect(button(WindowButton::PpmOverlay), &CColButton::rightClicked, this,
            [c] { c->PpmOverlayRightClick(); });
    connect(button(WindowButton::AudioDelay), &QPushButton::clicked, this,
            [c] { c->ToggleAudioDelay(); });
    connect(button(WindowButton::AudioMap), &QPushButton::clicked, this, [c] { c->AudioMap(); });
    connect(button(WindowButton::Output), &QPushButton::clicked, this, [c] { c->ToggleOutput(); });
    connect(button(WindowButton::ProcAmp), &QPushButton::clicked, this, [c] { c->ProcAmp(); });
    connect(button(WindowButton::Rotate), &CColButton::clickedAt, this,
            [c](QPoint p) { c->RotateClicked(p.x()); });
    connect(button(WindowButton::Deinterlace), &CColButton::clickedAt, this,
            [c](QPoint p) { c->DeinterlaceClicked(p.x()); });
    connect(grabButton_, &QPushButton::clicked, this, [c] { c->FrameGrab(); });
    connect(ebuButton_, &QPushButton::clicked, this, [c] { c->ToggleEbu(); });
    connect(disconnectButton_, &QPushButton::clicked, this, [c] { c->Disconnect(); });
    connect(plusButton_, &QPushButton::clicked, this, [c] { c->DelayPlus(); });
    connect(minusButton_, &QPushButton::clicked, this, [c] { c->DelayMinus(); });
    connect(statsButton_, &QPushButton::clicked, this, [c] { c->Stats(); });
    connect(groupsButton_, &QPushButton::clicked, this, [c] { c->Groups(); });
    connect(ndiLink_, &QPushButton::clicked, this, [this] { OpenUrl(kNdiVendorUrl); });
    // toggled, not clicked: a screen reader's Toggle action sets the box without a click.
    // ShowFlag sets it with signals blocked, so only the operator's changes get here.
    connect(excludeLocal_, &QCheckBox::toggled, this, [c](bool on) { c->ExcludeLocal(on); });
    connect(deintCheck_, &QCheckBox::clicked, this, [c](bool on) { c->DeintCheck(on); });
    connect(level_, &LevelPicture::clickedAt, this,
            [c](QPoint p) { c->MonitorLevelClicked(p.y()); });
    connect(preview_, &VidBox::clickedAt, this, [c](QPoint p) { c->PreviewClicked(p.y()); });
    connect(preview_, &VidBox::filesDropped, this, [c] { c->FilesDropped(); });
    connect(extraIp_, &IpField::editingFinished, this,
            [this, c] { c->ExtraIpChanged(extraIp_->isBlank(), extraIp_->fields()); });
    connect(picker_, &NDIcombobox::chosen, this, [this, c](int item) {
        c->SourceSelected(item, picker_->itemText(item).toStdString());
    });
    connect(picker_, &NDIcombobox::dropDownOpened, this, [c] { c->PickerDropDown(); });
    connect(picker_, &NDIcombobox::dropDownCancelled, this,
            [c](bool stillOpen) { c->PickerCancel(stillOpen); });
    meter_->setMeter(controller_->record().ppmMeter.get());
}

void MainWindow::ShowModel() {
    for (int i = 0; i < static_cast<int>(Caption::Count); ++i)
        ShowCaption(static_cast<Caption>(i));
    for (int i = 0; i < static_cast<int>(Flag::Count); ++i)
        ShowFlag(static_cast<Flag>(i));
    for (int i = 0; i < kWindowButtonCount; ++i)
        ShowButton(static_cast<WindowButton>(i));
    const MainWindowModel& m = controller_->model();
    signalLamp_->setLamp(m.lamp(LampId::Signal));
    freezeLamp_->setLamp(m.lamp(LampId::Freeze));
    level_->setLevel(m.monitorLevel());
    picker_->SetItems(m.pickerItems(), m.pickerCurrent());
}

void MainWindow::ShowButton(WindowButton b) {
    const ButtonView& v = controller_->model().button(b);
    CColButton* button = buttons_[static_cast<size_t>(b)];
    button->setState(v.colour);
    button->setCaption(Q(v.caption));
    button->setEnabled(v.enabled);
}

void MainWindow::ShowCaption(Caption which) {
    const MainWindowModel& m = controller_->model();
    const QString text = Q(m.caption(which));
    switch (which) {
        case Caption::Title:
            setWindowTitle(text);
            break;
        case Caption::Source:
            sourceCaption_->setText(text);
            break;
        case Caption::Video:
            videoCaption_->setText(text);
            break;
        case Caption::Audio:
            audioCaption_->setText(text);
            break;
        case Caption::DelayCounter:
            delayCounter_->setText(text);
            break;
        case Caption::Ebu:
            ebuButton_->setText(text);
            ebuButton_->setAccessibleName(text);
            break;
        case Caption::Level:
            levelCaption_->setText(text);
            break;
        case Caption::ExtraIp:
            if (extraIp_->dottedText() != text || extraIp_->isBlank() != text.isEmpty()) {
                if (text.isEmpty()) {
                    extraIp_->clear();
                } else {
                    extraIp_->setAddress(text);
                }
            }
            break;
        case Caption::TimeText:
            preview_->setTimeText(text, m.flag(Flag::TimeTextShown));
            break;
        case Caption::Count:
            break;
    }
}

void MainWindow::ShowFlag(Flag which) {
    const MainWindowModel& m = controller_->model();
    const bool on = m.flag(which);
    switch (which) {
        case Flag::KeyFillLabel:
            keyFillLabel_->setVisible(on);
            break;
        case Flag::ExcludeLocal: {
            const QSignalBlocker quiet(excludeLocal_);
            excludeLocal_->setChecked(on);
            break;
        }
        case Flag::DeintCheck:
            deintCheck_->setChecked(on);
            break;
        case Flag::TimeTextShown:
            preview_->setTimeText(Q(m.caption(Caption::TimeText)), on);
            break;
        case Flag::MenuKeyFill:
            keyFillAction_->setChecked(on);
            break;
        case Flag::MenuAlwaysOnTop:
            onTopAction_->setChecked(on);
            if (on != bool(windowFlags() & Qt::WindowStaysOnTopHint)) {
                setWindowFlag(Qt::WindowStaysOnTopHint, on);
                show();  // changing the flags hides the window
            }
            break;
        case Flag::MenuLoadOnStartup:
            loadAction_->setChecked(on);
            break;
        case Flag::MenuSaveOnExit:
            saveAction_->setChecked(on);
            break;
        case Flag::Count:
            break;
    }
}

void MainWindow::OnModelChange(const ModelChange& change) {
    const MainWindowModel& m = controller_->model();
    switch (change.kind) {
        case ModelChange::Kind::Caption:
            ShowCaption(static_cast<Caption>(change.index));
            break;
        case ModelChange::Kind::Flag:
            ShowFlag(static_cast<Flag>(change.index));
            break;
        case ModelChange::Kind::Button:
            ShowButton(static_cast<WindowButton>(change.index));
            break;
        case ModelChange::Kind::Lamp:
            (static_cast<LampId>(change.index) == LampId::Signal ? signalLamp_ : freezeLamp_)
                ->setLamp(m.lamp(static_cast<LampId>(change.index)));
            break;
        case ModelChange::Kind::MonitorLevel:
            level_->setLevel(m.monitorLevel());
            break;
        case ModelChange::Kind::Picker:
            picker_->SetItems(m.pickerItems(), m.pickerCurrent());
            break;
        case ModelChange::Kind::Preview:
            if (static_cast<PreviewTarget>(change.index) == PreviewTarget::Main) {
                preview_->setTallyState(controller_->record().preview.tallyState);
                preview_->FrameArrived();
            } else if (procAmpDialog_ != nullptr) {
                procAmpDialog_->FrameArrived();
            }
            break;
        case ModelChange::Kind::Meter:
            meter_->update();
            break;
    }
}

// --- IWindowSide ---

void MainWindow::Log(const std::string& line) {
    std::printf("velmor: %s\n", line.c_str());
    std::fflush(stdout);
}

MessageAnswer MainWindow::Show(const std::string& text, const std::string& caption,
                               MessageButtons buttons) {
    Log("[" + caption + "] " + text);
    QMessageBox box(QMessageBox::NoIcon, Q(caption), Q(text),
                    buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                        : QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.setAccessibleName(Q(caption));
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

void MainWindow::Tell(const std::string& text, const std::string& caption) {
    Log("[" + caption + "] " + text);
    // Not modal: the window's start-up and its relay go on while the message is open.
    auto* box = new QMessageBox(QMessageBox::NoIcon, Q(caption), Q(text), QMessageBox::Ok,
                                isVisible() ? this : nullptr);
    box->setAccessibleName(Q(caption));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

bool MainWindow::RunGrabSettings() {
    GrabSettingsDialog dialog(controller_->record().grabSetup, this);
    return dialog.exec() == QDialog::Accepted;
}

void MainWindow::RunAbout() {
    const RelayRecord& r = controller_->record();
    AboutDialog dialog(Q(r.versionText), Q(r.buildMonthText),
                       Q(NdiVersionNumber(controller_->ndi().versionText)), this);
    dialog.exec();
}

bool MainWindow::RunAudioMap() {
    NDIAudioMapperDialog dialog(controller_->record().audioMapper, this);
    return dialog.exec() == QDialog::Accepted;
}

void MainWindow::RunOverlaySetup(int outputWidth, int outputHeight) {
    OLSetup dialog(controller_->record().overlaySetup, outputWidth, outputHeight, *this, probePark_,
                   nullptr, this);
    dialog.exec();
}

void MainWindow::ShowSourcesWindow() {
    if (!sourcesWindow_) {
        RelayRecord& r = controller_->record();
        probePark_.Reap();
        sourcesWindow_ = new NDIlistDialog(controller_->ndi().api, *this, probePark_,
                                           r.excludeLocal, r.extraIpText, &sourcesWindow_);
        sourcesWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    sourcesWindow_->show();
    sourcesWindow_->raise();
    sourcesWindow_->activateWindow();
}

void MainWindow::CloseNdiWindows() {
    delete sourcesWindow_;
    // At exit only: each worker is one capture time-out (or one picture's decoding) from its end.
    probePark_.JoinAll();
}

void MainWindow::RunProcAmp() {
    RelayController& c = *controller_;
    ProcAmpDialog dialog(c.record().procAmp, c.procAmpPreview(), *this, this);
    procAmpDialog_ = &dialog;
    c.bridge().SetRenderer(PreviewTarget::ProcAmpWindow, &c.procAmpPreview());
    dialog.exec();
    c.bridge().SetRenderer(PreviewTarget::ProcAmpWindow, nullptr);
    procAmpDialog_ = nullptr;
}

bool MainWindow::RunGroupSettings() {
    GroupSettingsDialog dialog(controller_->record().groupSetup, this);
    return dialog.exec() == QDialog::Accepted;
}

void MainWindow::RunMeterConfig() {
    RelayRecord& r = controller_->record();
    MeterConfigDialog dialog(r.meterSettings, r.meterLink, this);
    dialog.exec();
}

void MainWindow::OpenUrl(const std::string& url) {
    Log("opening " + url);
    QDesktopServices::openUrl(QUrl(Q(url)));
}

// --- Keys and closing ---

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    // Only keys for this window's own controls; message boxes, dialogs and the open picker list
    // handle their keys themselves.
    if (!widget || widget->window() != this || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool press = type == QEvent::KeyPress;
    switch (key->key()) {
        case Qt::Key_F1:
            if (press && !key->isAutoRepeat()) commands_->Help();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter moves the focus instead of pressing the default button.
            if (press) focusNextChild();
            return true;
        case Qt::Key_Escape:
            if (press && !key->isAutoRepeat()) commands_->Exit();
            return true;
        case Qt::Key_F12:
            // One grab per release; a held key's repeats are ignored.
            if (!press && !key->isAutoRepeat()) commands_->FrameGrab();
            return true;
        default:
            return false;
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window closes only through the exit confirmation, which ends the copy itself.
    event->ignore();
    commands_->Exit();
}

int RunWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("velmor");
    QCoreApplication::setApplicationVersion(VELMOR_VERSION_TEXT);
    QGuiApplication::setDesktopFileName("velmor");
    const CommandLine line = ParseCommandLine(app);
    MainWindow window(line.options);
    window.controller().onQuit = [&window](int code) {
        QCoreApplication::exit(code);
        window.hide();
    };
    HandleQuitSignals([&window] {
        window.Log("stopping");
        window.controller().ExitWhenDisconnected([] { QCoreApplication::exit(0); });
    });
    window.show();
    // Start once the window is on screen: a failure there is shown over it, and the window
    // stays open (idle) so the operator sees why.
    QTimer::singleShot(0, &window, [&window] { window.controller().Start(); });
    return app.exec();
}

}  // namespace velmor
