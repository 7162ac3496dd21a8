// "NDI Group settings for Velmor I/O": which groups the source finder looks in ("Source
// detection") and which groups the outputs announce in ("Velmor output"), each as "Public",
// "Korvo NDI apps" and up to 64 characters of "additional Groups". A view of the record's
// GroupSetup: every change is taken over and both group texts are rebuilt at once, so Cancel keeps
// the edits; only OK (the caller) restarts the finder. Enter moves on like Tab.
#pragma once

#include <QDialog>

#include "relay/group_setup.h"

class QCheckBox;
class QLineEdit;

namespace velmor {

class GroupSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit GroupSettingsDialog(GroupSetup& setup, QWidget* parent = nullptr);
    ~GroupSettingsDialog() override;

    // OK, Cancel and Escape alike: what is typed in a box that still has the focus is taken over
    // first.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void TakeDetection();
    void TakeOutput();

    GroupSetup& setup_;
    QCheckBox* detectPublic_;
    QCheckBox* detectApps_;
    QLineEdit* detectExtra_;
    QCheckBox* outputPublic_;
    QCheckBox* outputApps_;
    QLineEdit* outputExtra_;
};

}  // namespace velmor
