// The overlay setup window; see overlay_setup_dialog.h.
#include "dialogs/overlay_setup_dialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "ndi/ndi_types.h"
#include "widgets/colour_button.h"
#include "widgets/preview_box.h"

namespace velmor {

namespace {

constexpr int kThumbnailWidth = 164;  // the picture area; the thumbnail is 2 pixels inside it
constexpr int kThumbnailHeight = 94;
constexpr int kThumbnailInset = 2;
constexpr int kPreviewWidth = 192;
constexpr int kPreviewHeight = 108;
constexpr int kTextColumnWidth = 230;

// Light red, light green and pale red for states 1, 2 and 3 (the rest standard).
CColButton::FillColours OverlayColours() {
    CColButton::FillColours c = CColButton::StandardColours();
    c[1] = QColor(0xFC, 0xB8, 0xB8);
    c[2] = QColor(0xB8, 0xFC, 0xB8);
    c[3] = QColor(0xFC, 0xEC, 0xEC);
    return c;
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A text whose accessible name is what it shows (a screen reader reads the status).
void SetText(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleName(text);
}

}  // namespace

class ThumbnailArea : public QWidget {
public:
    explicit ThumbnailArea(QWidget* parent) : QWidget(parent) {
        setFixedSize(kThumbnailWidth, kThumbnailHeight);
        setAccessibleName(QStringLiteral("Thumbnail"));
        setAccessibleDescription(QStringLiteral("click a quarter to choose the corner"));
        setCursor(Qt::PointingHandCursor);
    }
    void setPicture(const QImage& picture) {
        picture_ = picture;
        update();
    }
    std::function<void(QPoint)> clicked;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Base));
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        if (!picture_.isNull()) p.drawImage(kThumbnailInset, kThumbnailInset, picture_);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            clicked)
            clicked(event->position().toPoint());
    }

private:
    QImage picture_;
};

OLSetup::OLSetup(OverlayState& state, int frameWidth, int frameHeight, INotifier& notifier,
                 ProbeThreadPark& park, std::shared_ptr<IPictureDecoder> decoder, QWidget* parent)
    : QDialog(parent),
      workers_(park),
      editor_(state, decoder ? std::move(decoder) : std::make_shared<QtPictureDecoder>(),
              rasteriser_, notifier, workers_) {
    setWindowTitle(QStringLiteral("Overlay setup"));
    chooseFile = [this](const FileWindowRequest& request) -> std::optional<std::string> {
        const QString path =
            QFileDialog::getOpenFileName(this, Q(request.title), QString(), QtNameFilters(request));
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    };
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(BuildPictureColumn());
    layout->addLayout(BuildFactsColumn());
    layout->addLayout(BuildTextColumn());
    layout->addLayout(BuildPreviewColumn());
    layout->setSizeConstraint(QLayout::SetFixedSize);
    ConnectControls();
    playTimer_.setInterval(kPlayTickMs);
    connect(&playTimer_, &QTimer::timeout, this, [this] {
        if (!editor_.PlayTick()) playTimer_.stop();  // stops itself once playing is cleared
        Refresh();
    });

    editor_.SetThumbnailSize(kThumbnailWidth - 2 * kThumbnailInset,
                             kThumbnailHeight - 2 * kThumbnailInset);
    editor_.onChange = [this] { Refresh(); };
    editor_.Open(frameWidth, frameHeight);
    {
        const QSignalBlocker quiet(text_);
        text_->setText(Q(state.textBoxText));
    }
    Refresh();
    preview_->ShowIdlePicture();
    setAcceptDrops(true);
    // Enter moves on instead of closing the window: every control's keys pass the filter first.
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
    Button(OverlayButton::LoadOverlay)->setFocus();
}

OLSetup::~OLSetup() {
    playTimer_.stop();
    editor_.onChange = nullptr;
    if (!closed_) editor_.Close(false);
    preview_->setRenderer(nullptr);
}

CColButton* OLSetup::MakeColoured(OverlayButton b, const char* caption) {
    auto* button = new CColButton(QString::fromUtf8(caption), this);
    button->setFillColours(OverlayColours());
    button->setAutoDefault(false);
    buttons_[static_cast<size_t>(b)] = button;
    return button;
}

QPushButton* OLSetup::MakePush(const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setAccessibleName(b->text());
    b->setAutoDefault(false);
    return b;
}

QLabel* OLSetup::MakeText(const char* caption) {
    auto* label = new QLabel(this);
    SetText(label, QString::fromUtf8(caption));
    return label;
}

// "Load Overlay" over the thumbnail, whose quarters choose the corner.
QLayout* OLSetup::BuildPictureColumn() {
    CColButton* load = MakeColoured(OverlayButton::LoadOverlay, "Load Overlay");
    thumbnail_ = new ThumbnailArea(this);
    thumbnail_->clicked = [this](QPoint at) {
        editor_.ChooseCorner(at.x(), at.y(), thumbnail_->width(), thumbnail_->height());
        Refresh();
    };
    auto* column = new QVBoxLayout;
    column->addWidget(load);
    column->addWidget(thumbnail_);
    column->addStretch(1);
    return column;
}

// The picture's facts, "Make solid" and the placement.
QLayout* OLSetup::BuildFactsColumn() {
    fileText_ = MakeText("Filename");
    fileText_->setFixedWidth(kTextColumnWidth);
    fileText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pixelSizeText_ = MakeText("Pixel size");
    overlayText_ = MakeText("Overlay Off");
    makeSolid_ = MakePush("Make solid");
    auto* offsets = new QHBoxLayout;
    auto* offsetLabel = new QLabel(QStringLiteral("X/Y Offset"), this);
    offsetX_ = new QSpinBox(this);
    offsetY_ = new QSpinBox(this);
    offsetX_->setRange(0, kMaxOffsetX);
    offsetY_->setRange(0, kMaxOffsetY);
    offsetX_->setAccessibleName(QStringLiteral("X Offset"));
    offsetY_->setAccessibleName(QStringLiteral("Y Offset"));
    offsetLabel->setBuddy(offsetX_);
    offsets->addWidget(offsetLabel);
    offsets->addWidget(offsetX_);
    offsets->addWidget(offsetY_);
    offsets->addStretch(1);
    positionText_ = MakeText("Upper Left : 0, 0");
    auto* column = new QVBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(fileText_), static_cast<QWidget*>(pixelSizeText_),
                       static_cast<QWidget*>(overlayText_)})
        column->addWidget(w);
    column->addWidget(makeSolid_, 0, Qt::AlignLeft);
    column->addLayout(offsets);
    column->addWidget(positionText_);
    column->addStretch(1);
    return column;
}

// The text box, the sequence's loading progress and the preview player.
QLayout* OLSetup::BuildTextColumn() {
    CColButton* textBox = MakeColoured(OverlayButton::TextBox, "Text Box");
    text_ = new QLineEdit(this);
    text_->setMaxLength(kTextBoxLength);
    text_->setAccessibleName(QStringLiteral("Text Box text"));
    text_->setMinimumWidth(kTextColumnWidth);
    statusText_ = MakeText("Sequence loading");
    statusText_->hide();
    progress_ = new QProgressBar(this);
    progress_->setAccessibleName(QStringLiteral("Sequence loading progress"));
    progress_->setTextVisible(false);
    progress_->hide();
    auto* player = new QHBoxLayout;
    player->addWidget(MakeColoured(OverlayButton::Stop, "Stop"));
    player->addWidget(MakeColoured(OverlayButton::Play, "Play"));
    auto* column = new QVBoxLayout;
    column->addWidget(textBox, 0, Qt::AlignLeft);
    column->addWidget(text_);
    column->addWidget(statusText_);
    column->addWidget(progress_);
    column->addStretch(1);
    column->addLayout(player);
    return column;
}

// The preview, the switch and the window's buttons.
QLayout* OLSetup::BuildPreviewColumn() {
    auto* previewLabel = new QLabel(QStringLiteral("Preview"), this);
    preview_ = new VidBox(this);
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setRenderer(&previewRenderer_);
    previewLabel->setBuddy(preview_);
    ok_ = MakePush("OK");
    cancel_ = MakePush("Cancel");
    auto* closeRow = new QHBoxLayout;
    closeRow->addWidget(MakeColoured(OverlayButton::OnOff, "On/Off"));
    closeRow->addStretch(1);
    closeRow->addWidget(ok_);
    closeRow->addWidget(cancel_);
    auto* column = new QVBoxLayout;
    column->addWidget(previewLabel);
    column->addWidget(preview_);
    column->addLayout(closeRow);
    return column;
}

void OLSetup::ConnectControls() {
    // An operation of the editor, then the window shows its state.
    auto act = [this](void (OverlayEditor::*operation)()) {
        return [this, operation] {
            (editor_.*operation)();
            Refresh();
        };
    };
    connect(Button(OverlayButton::LoadOverlay), &QPushButton::clicked, this,
            [this] { LoadOverlay(); });
    connect(makeSolid_, &QPushButton::clicked, this, act(&OverlayEditor::MakeSolid));
    auto offsetsChanged = [this] {
        editor_.SetOffsets(offsetX_->value(), offsetY_->value());
        Refresh();
    };
    connect(offsetX_, &QSpinBox::valueChanged, this, offsetsChanged);
    connect(offsetY_, &QSpinBox::valueChanged, this, offsetsChanged);
    connect(Button(OverlayButton::TextBox), &QPushButton::clicked, this,
            act(&OverlayEditor::TextBox));
    connect(text_, &QLineEdit::textChanged, this,
            [this](const QString& t) { editor_.EditText(t.toStdString()); });
    connect(text_, &QLineEdit::textEdited, this, [this] { textEdited_ = true; });
    connect(Button(OverlayButton::Stop), &QPushButton::clicked, this, act(&OverlayEditor::Stop));
    connect(Button(OverlayButton::Play), &QPushButton::clicked, this, [this] { StartPlaying(); });
    connect(Button(OverlayButton::OnOff), &QPushButton::clicked, this, act(&OverlayEditor::OnOff));
    connect(preview_, &VidBox::filesDropped, this, [this](const QStringList& p) { DropFiles(p); });
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void OLSetup::LoadOverlay() {
    const std::optional<std::string> chosen =
        chooseFile ? chooseFile(FileWindowRequest{}) : std::nullopt;
    editor_.LoadOverlay(chosen);
    Refresh();
}

void OLSetup::StartPlaying() {
    const bool started = editor_.Play();
    Refresh();
    if (started) playTimer_.start();
}

void OLSetup::DropFiles(const QStringList& paths) {
    for (const QString& p : paths) {
        if (p.isEmpty()) continue;
        editor_.SetOffsets(offsetX_->value(), offsetY_->value());
        editor_.Drop(p.toStdString());
        Refresh();
        return;  // the first file only
    }
}

void OLSetup::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void OLSetup::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    DropFiles(paths);
}

void OLSetup::Refresh() {
    for (int i = 0; i < kOverlayButtonCount; ++i) {
        const auto b = static_cast<OverlayButton>(i);
        Button(b)->setState(editor_.buttonState(b));
    }
    // A long path is cut in the middle so that the file's own name stays in view; the tooltip and
    // the accessible name keep it whole.
    const QString file = Q(editor_.fileText());
    SetText(fileText_, file);
    fileText_->setText(
        fileText_->fontMetrics().elidedText(file, Qt::ElideMiddle, kTextColumnWidth));
    fileText_->setToolTip(file);
    SetText(pixelSizeText_, Q(editor_.pixelSizeText()));
    SetText(overlayText_, Q(editor_.OverlayText()));
    SetText(positionText_, Q(editor_.PositionText()));
    SetText(statusText_, Q(editor_.statusText()));
    statusText_->setVisible(editor_.statusShown());
    progress_->setRange(0, std::max(editor_.progressMaximum(), 1));
    progress_->setValue(std::min(editor_.progressPosition(), progress_->maximum()));
    progress_->setVisible(editor_.progressShown());
    {
        const OverlayPlacement& at = editor_.state().placement;
        const QSignalBlocker quietX(offsetX_), quietY(offsetY_);
        offsetX_->setValue(at.overlayX);
        offsetY_->setValue(at.overlayY);
    }
    if (editor_.thumbnailSerial() != thumbnailShown_) {
        thumbnailShown_ = editor_.thumbnailSerial();
        const OverlayNode* node = editor_.thumbnail();
        thumbnail_->setPicture(node ? ThumbnailImage(node->thumbnail) : QImage());
    }
    if (editor_.previewSerial() != previewShown_) {
        previewShown_ = editor_.previewSerial();
        const ImageBuffer& canvas = editor_.previewCanvas();
        // Rendered here on the window thread: the window's own preview shows no video.
        if (previewRenderer_.Render(canvas.pixels(), canvas.width, canvas.height, canvas.width * 4,
                                    NDIlib_FourCC_video_type_BGRA, 0.0f) != 0)
            preview_->FrameArrived();
    }
}

void OLSetup::accept() {
    closed_ = true;
    playTimer_.stop();
    editor_.SetOffsets(offsetX_->value(), offsetY_->value());
    editor_.Close(true);
    QDialog::accept();
}

void OLSetup::reject() {
    closed_ = true;
    playTimer_.stop();
    editor_.Close(false);
    QDialog::reject();
}

bool OLSetup::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    } else if (watched == text_ && type == QEvent::FocusIn) {
        textEdited_ = false;
    } else if (watched == text_ && type == QEvent::FocusOut) {
        // Leaving the edit after typing renders the box. Only after typing: passing through the
        // edit must not replace a loaded picture by a text box. A message box or another window
        // taking the focus is not leaving it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (textEdited_ && reason != Qt::ActiveWindowFocusReason &&
            reason != Qt::PopupFocusReason && !closed_) {
            textEdited_ = false;
            editor_.TextBox();
            Refresh();
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace velmor
