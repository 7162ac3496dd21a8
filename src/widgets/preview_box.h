// VidBox: the video picture control (the main window's preview, the proc amp window's monitor,
// the overlay window's preview). The video thread renders each frame into the PreviewRenderer's
// bitmaps; the window thread paints the newest one, letterboxed by aspect class and smoothly
// scaled, with the time text, the waveform scale labels and the tally border over it.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "video/preview_render.h"

namespace velmor {

class VidBox : public QWidget {
    Q_OBJECT
public:
    explicit VidBox(QWidget* parent = nullptr);

    // Not owned. The video thread renders into it; the paint only acquires its newest bitmap.
    void setRenderer(PreviewRenderer* renderer);
    PreviewRenderer* renderer() const { return renderer_; }

    // Shows IdlePicture() until the next FrameArrived().
    void ShowIdlePicture();
    // Window thread: the renderer published a new bitmap; repaint.
    void FrameArrived();

    // The first 11 characters are painted over the picture while `shown`.
    void setTimeText(const QString& text, bool shown);
    QString timeText() const { return timeText_; }
    bool timeTextShown() const { return timeTextShown_; }

    // 0 none, 1 program (red border), 2 preview (green border).
    void setTallyState(TallyState state);
    TallyState tallyState() const { return tallyState_; }

    // The proc amp monitor: a click less than 50 pixels from the left edge while the waveform is
    // shown toggles the renderer's graticuleType (volts / percent).
    void setGraticuleClickEnabled(bool on) { graticuleClick_ = on; }

    // Files-dropped notifications sent.
    int dropCount() const { return dropCount_; }

    QSize sizeHint() const override { return {480, 270}; }

signals:
    // A left click, in the control's own pixels.
    void clickedAt(QPoint pos);
    // Local files dropped on the control (one notification per drop).
    void filesDropped(const QStringList& paths);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    const QImage* TakePicture(const PreviewBitmap*& bitmap);
    void UpdateDescription();

    PreviewRenderer* renderer_ = nullptr;
    bool idle_ = false;
    QImage idlePicture_;
    // The newest bitmap as opaque 32-bit pixels, converted once per bitmap: the smooth scaler is
    // several times faster from this format, and a 32-bit frame's alpha must not reach a
    // translucent back buffer.
    QImage frame_;
    const PreviewBitmap* converted_ = nullptr;
    OpaqueRgb32Fn toOpaque_ = OpaqueRgb32For(BestKernelLevel());  // chosen once
    QString timeText_;
    bool timeTextShown_ = false;
    TallyState tallyState_ = TallyState::None;
    bool graticuleClick_ = false;
    int dropCount_ = 0;
};

}  // namespace velmor
