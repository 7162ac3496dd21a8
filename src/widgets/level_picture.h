// The monitor level picture of the main window: a speaker showing Full, Dim or Mute. A click
// reports its position, whose height picks the level (top third Full, middle Dim, bottom Mute),
// so the picture is shown unscaled at the 24 pixels SpeakerPicture draws. The keyboard reaches
// the same choices: Up louder, Down quieter, Space the next level down (Mute wraps to Full).
#pragma once

#include <QLabel>
#include <QPoint>

namespace velmor {

class LevelPicture : public QLabel {
    Q_OBJECT
public:
    explicit LevelPicture(QWidget* parent = nullptr);

    // 0 Mute, 1 Dim, 2 Full; other values are ignored. The description names the level.
    void setLevel(int level);
    int level() const { return level_; }

    // A point inside the band of rows that selects `level` (Full rows 0-8, Dim 9-16, Mute 17+).
    static QPoint PointForLevel(int level);

signals:
    // A left click, in the picture's own pixels; keys report PointForLevel of the level chosen.
    void clickedAt(QPoint pos);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int level_ = 2;
};

}  // namespace velmor
