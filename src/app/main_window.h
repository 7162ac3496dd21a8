// The main window: the Qt view of one copy. It builds the controls, forwards every click, key and
// menu command to MainCommands, and shows the MainWindowModel; it keeps no state of its own. It is
// also the copy's IWindowSide: message boxes, the setup windows and the browser.
#pragma once

#include <QMainWindow>

#include <array>
#include <memory>

#include "app/main_commands.h"
#include "app/relay_controller.h"
#include "app/window_side.h"
#include "discovery/probe_park.h"

class QAction;
class QCheckBox;
class QLabel;
class QLayout;
class QPushButton;

namespace velmor {

class CColButton;
class IpField;
class LevelPicture;
class NDIcombobox;
class NDIlistDialog;
class PMeterButton;
class ProcAmpDialog;
class StatusLamp;
class VidBox;

class MainWindow : public QMainWindow, public IWindowSide {
public:
    explicit MainWindow(const RelayOptions& options);
    ~MainWindow() override;

    RelayController& controller() { return *controller_; }
    MainCommands& commands() { return *commands_; }

    // IWindowSide
    void Log(const std::string& line) override;
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons buttons) override;
    void Tell(const std::string& text, const std::string& caption) override;
    bool RunGrabSettings() override;
    void RunAbout() override;
    bool RunAudioMap() override;
    void RunOverlaySetup(int outputWidth, int outputHeight) override;
    void ShowSourcesWindow() override;
    void CloseNdiWindows() override;
    NDIlistDialog* sourcesWindow() const { return sourcesWindow_; }
    void RunProcAmp() override;
    bool RunGroupSettings() override;
    void RunMeterConfig() override;
    void OpenUrl(const std::string& url) override;

    // The keyboard filter of the window (F1, Enter as Tab, Escape, F12), for every key event of
    // its controls before they see it.
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The controls, a group at a time (main_window_controls.cpp).
    void BuildControls();
    QLayout* BuildSourceRow(QWidget* central);
    QLayout* BuildStatusTexts(QWidget* central);
    QWidget* BuildVideoGroup(QWidget* central);
    QWidget* BuildAudioGroup(QWidget* central);
    QWidget* BuildOutputGroup(QWidget* central);
    QLayout* BuildBottomRow(QWidget* central);
    CColButton* button(WindowButton b) const { return buttons_[static_cast<size_t>(b)]; }
    void BuildMenu();
    void Connect();
    void ShowModel();  // every control from the model, once
    void OnModelChange(const ModelChange& change);
    void ShowButton(WindowButton button);
    void ShowCaption(Caption which);
    void ShowFlag(Flag which);

    std::unique_ptr<RelayController> controller_;
    std::unique_ptr<MainCommands> commands_;
    // Workers of closed windows (the Sources Found window's probes, the overlay window's picture
    // loading), joined once they have ended, and all of them before the NDI library goes.
    ProbeThreadPark probePark_;
    NDIlistDialog* sourcesWindow_ = nullptr;  // top-level, cleared when it closes

    // Controls, owned by Qt's parent chain.
    std::array<CColButton*, kWindowButtonCount> buttons_{};
    QLabel* sourceCaption_ = nullptr;  // the connection's state and source
    QLabel* videoCaption_ = nullptr;   // the video signal type
    QLabel* audioCaption_ = nullptr;   // the audio signal type
    QLabel* delayCounter_ = nullptr;   // the audio delay in frames
    QLabel* levelCaption_ = nullptr;   // the monitor level: Full, Dim, Mute
    QLabel* keyFillLabel_ = nullptr;   // "Split Key+Fill o/p" while the key output runs
    QPushButton* exitButton_ = nullptr;
    QPushButton* grabButton_ = nullptr;
    QPushButton* ebuButton_ = nullptr;
    QPushButton* disconnectButton_ = nullptr;
    QPushButton* plusButton_ = nullptr;
    QPushButton* minusButton_ = nullptr;
    QPushButton* statsButton_ = nullptr;
    QPushButton* groupsButton_ = nullptr;
    QPushButton* ndiLink_ = nullptr;
    QCheckBox* excludeLocal_ = nullptr;
    QCheckBox* deintCheck_ = nullptr;
    StatusLamp* signalLamp_ = nullptr;
    StatusLamp* freezeLamp_ = nullptr;
    LevelPicture* level_ = nullptr;
    VidBox* preview_ = nullptr;
    PMeterButton* meter_ = nullptr;
    IpField* extraIp_ = nullptr;
    NDIcombobox* picker_ = nullptr;
    QAction* keyFillAction_ = nullptr;
    QAction* onTopAction_ = nullptr;
    QAction* loadAction_ = nullptr;
    QAction* saveAction_ = nullptr;
    ProcAmpDialog* procAmpDialog_ = nullptr;  // while the proc amp window is open
};

// Opens the main window and runs until the copy ends; returns the process's exit code.
int RunWindow(int argc, char** argv);

}  // namespace velmor
