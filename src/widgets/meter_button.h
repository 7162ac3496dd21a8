// PMeterButton: the tall PPM meter of the main window, twin vertical bars with their scale text,
// painted from the meter's shown positions. It has no timer of its own: the window's 18 ms meter
// timer runs PpmMeter::MeterTick and calls update().
#pragma once

#include <QWidget>

namespace velmor {

class PpmMeter;

class PMeterButton : public QWidget {
    Q_OBJECT
public:
    // The system edge left free on every side of the bars.
    static constexpr int kEdge = 2;

    explicit PMeterButton(QWidget* parent = nullptr);

    // Not owned; null shows no bars.
    void setMeter(PpmMeter* meter);
    PpmMeter* meter() const { return meter_; }
    // The scale's marks printed beside the bars (on from the start).
    void setScaleText(bool shown) {
        scaleText_ = shown;
        update();
    }

    // What a screen reader hears: the two shown positions as a share of the scale, e.g.
    // "left 71 %, right 0 %" (computed when asked, not pushed at every tick).
    QString LevelDescription() const;

    QSize sizeHint() const override { return {40, 200}; }
    QSize minimumSizeHint() const override { return {24, 80}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PpmMeter* meter_ = nullptr;
    bool scaleText_ = true;
};

}  // namespace velmor
