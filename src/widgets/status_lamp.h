// A status lamp of the main window (signal lamp, freeze lamp): a round coloured picture whose
// colour is also its accessible description, so a screen reader can tell red from green.
#pragma once

#include <QLabel>
#include <QString>

#include "engine/window_bridge.h"  // Lamp

namespace velmor {

class StatusLamp : public QLabel {
    Q_OBJECT
public:
    static constexpr int kSize = 16;

    explicit StatusLamp(const QString& accessibleName, QWidget* parent = nullptr);

    // Shows the lamp's picture; the description becomes its colour name ("red", ...).
    void setLamp(Lamp lamp);
    Lamp lamp() const { return lamp_; }

private:
    void ShowPicture();

    Lamp lamp_ = Lamp::Grey;
};

}  // namespace velmor
