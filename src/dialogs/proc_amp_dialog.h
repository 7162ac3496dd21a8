// The proc amp window, "Korvo Velmor NDI® ProcAmp": seven vertical sliders with their value
// labels, U/V linking, the effect order, Temp Bypass, "Apply to o/p", the monitor with its
// waveform, Reset, six preset slots with their store buttons, the preset name and preset files.
// A view of ProcAmpWindowModel (relay/proc_amp_window.h): every control forwards to it, and the
// controls show what it says. Modal; OK keeps the settings, Cancel returns to the backup.
#pragma once

#include <QDialog>
#include <QLayout>
#include <QString>
#include <array>
#include <functional>

#include "relay/notifier.h"
#include "relay/proc_amp_window.h"

class QButtonGroup;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace velmor {

class CColButton;
class VidBox;

class ProcAmpDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kParams = 7;

    // `monitor` is the renderer the video thread feeds while the monitor is on (the caller hands
    // it to the bridge); messages go to `notifier`.
    ProcAmpDialog(ProcAmpState& state, PreviewRenderer& monitor, INotifier& notifier,
                  QWidget* parent = nullptr);
    ~ProcAmpDialog() override;

    // The file window of "Load": returns the chosen file, or an empty text when it was
    // cancelled. Defaults to the desktop's file window "Load ProcAmp Preset"; tests put their
    // own here.
    std::function<QString()> pickFile;
    // Where "Save" writes (the current folder when empty); tests use a folder of their own.
    std::string saveFolder;

    // The settings changed from outside the window (the HTTP API): every control shows them.
    void ShowSettings() { ShowAll(); }
    // Window thread: the video thread rendered a new monitor picture.
    void FrameArrived();
    VidBox* monitor() const { return monitor_; }
    ProcAmpWindowModel& model() { return model_; }

    void accept() override;
    void reject() override;

private:
    // The window's controls, a group at a time.
    void BuildControls();
    QLayout* BuildSliders(QWidget* controls);
    QLayout* BuildSwitches(QWidget* controls);
    QLayout* BuildPresetRow(QWidget* controls);
    QLayout* BuildNameAndButtons(QWidget* controls);
    void Connect();
    void ShowParam(ProcAmpParam p);
    void ShowAll();
    void ShowPresets();
    void ShowSwitches();
    void Load();
    void Save();

    ProcAmpState& state_;
    INotifier& notifier_;
    ProcAmpWindowModel model_;
    std::array<QLabel*, kParams> captions_{};
    std::array<QSlider*, kParams> sliders_{};
    std::array<QPushButton*, kParams> values_{};
    QButtonGroup* linking_ = nullptr;
    QPushButton* fxOrder_ = nullptr;
    CColButton* bypass_ = nullptr;
    CColButton* apply_ = nullptr;
    CColButton* monitorButton_ = nullptr;
    CColButton* wfm_ = nullptr;
    QPushButton* reset_ = nullptr;
    std::array<CColButton*, ProcAmpWindowModel::kSlots> presets_{};
    std::array<QPushButton*, ProcAmpWindowModel::kSlots> stores_{};
    QLineEdit* name_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* save_ = nullptr;
    QFrame* monitorFrame_ = nullptr;
    VidBox* monitor_ = nullptr;
};

}  // namespace velmor
