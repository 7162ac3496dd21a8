// The "NDI® Audio Map & Gain" window: one row of radio buttons per output (output 1 at the
// bottom), one column per input channel and a "Mute" column, the mono mix of outputs 1 and 2, the
// gain steps and "Reset". Built for the channel count of the audio received, at the positions the
// layout gives. A view of the relay record's NDIAudioMapper: every click changes it at once (the
// monitor hears the window's selection while it is open); "Use" or "Cancel" closes it, and the
// main window's command applies the mapper to the live map on "Use".
#pragma once

#include <QDialog>
#include <vector>

#include "relay/audio_mapper.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;

namespace velmor {

class NDIAudioMapperDialog : public QDialog {
    Q_OBJECT
public:
    // `mapper.mapperChannels` (1..32) channels.
    explicit NDIAudioMapperDialog(NDIAudioMapper& mapper, QWidget* parent = nullptr);

    // The radio button of output `row` (0: output 1), input `column` (N: "Mute").
    QRadioButton* radio(int row, int column) const;
    // The command number of a radio button (1100 + (N + 1) x row + column), -1 if none.
    int commandOf(QRadioButton* button) const;
    QMenu* gainMenu() const { return gainMenu_; }
    QPushButton* gainButton() const { return gainButton_; }

private:
    void Reset();
    void ShowGain();

    NDIAudioMapper& mapper_;
    AudioMapLayout layout_;
    std::vector<QButtonGroup*> rows_;
    QCheckBox* monoMix_ = nullptr;
    QLabel* gainText_ = nullptr;
    QPushButton* gainButton_ = nullptr;
    QMenu* gainMenu_ = nullptr;
};

}  // namespace velmor
