// The preview control; see preview_box.h.
#include "widgets/preview_box.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <algorithm>
#include <cstdint>

#include "platform/drawn_pictures.h"
#include "video/preview_render.h"

namespace velmor {

namespace {

constexpr int kTimeTextChars = 11;
constexpr int kGraticuleClickWidth = 50;
const QColor kBackground(kPreviewBackground[0], kPreviewBackground[1], kPreviewBackground[2]);
const QColor kScaleLabelColour(0x80, 0xFF, 0xFF);

}  // namespace

VidBox::VidBox(QWidget* parent) : QWidget(parent), idlePicture_(IdlePicture()) {
    setAccessibleName(QStringLiteral("Preview"));
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted, the letterbox too
    setAcceptDrops(true);
}

void VidBox::setRenderer(PreviewRenderer* renderer) {
    renderer_ = renderer;
    converted_ = nullptr;
    update();
}

void VidBox::ShowIdlePicture() {
    idle_ = true;
    update();
}

void VidBox::FrameArrived() {
    idle_ = false;
    update();
}

void VidBox::setTimeText(const QString& text, bool shown) {
    if (text == timeText_ && shown == timeTextShown_) return;
    timeText_ = text;
    timeTextShown_ = shown;
    UpdateDescription();
    update();
}

void VidBox::setTallyState(TallyState state) {
    if (state == tallyState_) return;
    tallyState_ = state;
    UpdateDescription();
    update();
}

void VidBox::UpdateDescription() {
    QStringList parts;
    if (tallyState_ == TallyState::Preview) {
        parts << QStringLiteral("preview tally");
    } else if (tallyState_ == TallyState::Program) {
        parts << QStringLiteral("program tally");
    }
    if (timeTextShown_) parts << timeText_.left(kTimeTextChars);
    setAccessibleDescription(parts.join(QStringLiteral(", ")));
}

// The picture to paint now, or null (nothing rendered yet, or a bitmap that does not hold what
// its header says).
const QImage* VidBox::TakePicture(const PreviewBitmap*& bitmap) {
    bitmap = nullptr;
    if (idle_) return &idlePicture_;
    if (renderer_ == nullptr) return nullptr;
    // The letterbox is painted on every paint, so the renderer's background request is only
    // acknowledged.
    renderer_->TakeBackgroundDirty();
    const PreviewBitmap* b = renderer_->AcquireBitmap();
    if (b->bitsPerPixel != 24 && b->bitsPerPixel != 32) return nullptr;
    const size_t pixels = static_cast<size_t>(std::max(b->width, 0)) * std::max(b->height, 0);
    if (pixels == 0 || !b->pixels || pixels * (b->bitsPerPixel / 8) > b->capacity) return nullptr;
    bitmap = b;
    // A new bitmap always comes as another slot of the renderer's triple buffer, and the slot
    // this thread holds is never rewritten: the same pointer means the same picture.
    if (b != converted_) {
        converted_ = nullptr;
        if (frame_.width() != b->width || frame_.height() != b->height) {
            frame_ = QImage(b->width, b->height, QImage::Format_RGB32);
            if (frame_.isNull()) return nullptr;  // out of memory: show nothing this time
        }
        toOpaque_(b->pixels.get(), b->bitsPerPixel, reinterpret_cast<uint32_t*>(frame_.bits()),
                  pixels);
        converted_ = b;
    }
    return &frame_;
}

void VidBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int W = width(), H = height();
    const PreviewBitmap* bitmap = nullptr;
    const QImage* picture = TakePicture(bitmap);

    QRect dest;
    if (picture != nullptr) {
        const PaintRect r = bitmap != nullptr
                                ? PreviewDestRect(bitmap->aspectClass, bitmap->lastAspect, W, H)
                                : PaintRect{0, 0, W, H};  // the idle picture is 16:9
        dest = QRect(r.x, r.y, r.width, r.height);
    }
    if (dest.isEmpty()) {
        painter.fillRect(rect(), kBackground);
    } else {
        const QRegion letterbox = QRegion(rect()).subtracted(dest);
        for (const QRect& r : letterbox)
            painter.fillRect(r, kBackground);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(dest, *picture);
    }

    if (timeTextShown_) {
        const QString text = timeText_.left(kTimeTextChars);
        const PaintRect at = TimeTextPosition(W, H);
        const QFontMetrics metrics = fontMetrics();
        const QRect box(at.x, at.y, metrics.horizontalAdvance(text), metrics.height());
        // A dark band keeps the white digits readable over any picture.
        painter.fillRect(box.adjusted(-3, -1, 3, 1), QColor(0, 0, 0, 160));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
    }

    if (bitmap != nullptr && bitmap->waveform) {
        // The label positions are those of a 640 x 360 control.
        painter.setPen(kScaleLabelColour);
        const int lineHeight = fontMetrics().height();
        for (const ScaleLabel& label : WaveformScaleLabels(
                 bitmap->graticuleType, bitmap->renderedWidth, bitmap->renderedHeight)) {
            const QRect box(label.x * W / 640, label.y * H / 360, W, lineHeight);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(label.text));
        }
    }

    if (tallyState_ != TallyState::None) {
        const int pen = TallyPenWidth(H);
        const QColor colour =
            tallyState_ == TallyState::Preview ? QColor(0, 255, 0) : QColor(255, 0, 0);
        painter.fillRect(0, 0, W, pen, colour);
        painter.fillRect(0, H - pen, W, pen, colour);
        painter.fillRect(0, pen, pen, H - 2 * pen, colour);
        painter.fillRect(W - pen, pen, pen, H - 2 * pen, colour);
    }
}

void VidBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !rect().contains(at)) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (graticuleClick_ && renderer_ != nullptr && renderer_->waveformOn.load() != 0 &&
        at.x() < kGraticuleClickWidth) {
        renderer_->graticuleType.store(renderer_->graticuleType.load() != 0 ? 0 : 1);
    }
    emit clickedAt(at);
}

namespace {
QStringList LocalFiles(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr) return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    return paths;
}
}  // namespace

void VidBox::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void VidBox::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void VidBox::dropEvent(QDropEvent* event) {
    const QStringList paths = LocalFiles(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    ++dropCount_;
    emit filesDropped(paths);
}

}  // namespace velmor
