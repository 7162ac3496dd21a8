// "PPM Config": where the meter picture sits on the output (two position sliders with their
// label), its reference mode, its layout, and where it goes (a separate NDI output with alpha,
// the main output, or both). A view of MeterConfig (audio/meter_config.h): the settings change
// while the window is open; it has only OK, and what the meter takes up when the window closes is
// the main window's part.
#pragma once

#include <QDialog>

#include "audio/meter_config.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QSlider;

namespace velmor {

class MeterConfigDialog : public QDialog {
    Q_OBJECT
public:
    MeterConfigDialog(MeterSettings& settings, MeterLink& link, QWidget* parent = nullptr);
    ~MeterConfigDialog() override;

private:
    void TakePositions();

    MeterConfig config_;
    QSlider* vertical_;    // the vertical position, 0..100
    QSlider* horizontal_;  // the horizontal position, 0..100
    QLabel* position_;     // both positions as the label shows them
    QButtonGroup* mode_;
    QButtonGroup* layout_;
    QCheckBox* separate_;
    QCheckBox* onMain_;
};

}  // namespace velmor
