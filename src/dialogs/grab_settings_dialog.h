// The "Frame Grab Settings" window: how grab files are named (base name, date, time), their
// format, whether a freeze also grabs, and the folder they go to. A view of the relay record's
// GrabSetup: it loads from it when opened and writes back on OK.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "relay/grab_setup.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;

namespace velmor {

class GrabSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit GrabSettingsDialog(GrabSetup& setup, QWidget* parent = nullptr);

    // The folder picker of "File path": returns the chosen folder, or an empty text when the
    // picker was cancelled. Defaults to the desktop's folder window titled "Set path for saving
    // frame grabs"; tests put their own here.
    std::function<QString()> pickFolder;

    // Writes the controls back into the GrabSetup, then closes.
    void accept() override;

private:
    void ChooseFolder();
    void ShowFolder();

    GrabSetup& setup_;
    QCheckBox* useBaseName_;
    QCheckBox* addDate_;
    QCheckBox* addTime_;
    QCheckBox* grabOnFreeze_;
    QButtonGroup* format_;
    QLineEdit* baseName_;
    QLabel* folder_;
};

}  // namespace velmor
