// The "Overlay setup" window: loads a picture or a numbered sequence, makes a text box, places it
// by corner and offsets, previews it (and plays a sequence) in its own preview, and switches the
// overlay on the output on and off. A view of the relay record's OverlayState through an
// OverlayEditor: each control calls one of the editor's operations and then shows its state, and
// the window shows it again whenever the editor has taken what its loading workers reported.
// Pictures are decoded and converted on those workers, so the window thread only ever waits for
// the operator.
#pragma once

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "discovery/probe_park.h"
#include "platform/background_workers.h"
#include "platform/image_files.h"
#include "platform/qt_text_rasteriser.h"
#include "relay/overlay_editor.h"
#include "video/preview_render.h"

class QLabel;
class QLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace velmor {

class CColButton;
class VidBox;

// The thumbnail area: paints the thumbnail, reports clicks (corner choice) in its own pixels.
class ThumbnailArea;

class OLSetup : public QDialog {
    Q_OBJECT
public:
    // `notifier` shows the window's messages. Loading workers still running when the window goes
    // are cancelled and left to `park`, which joins them once they end. `decoder` decodes the
    // pictures (null: the Qt decoder; tests put their own). The window switches the preview and
    // the timer off when it closes; the pictures it made stay in `state`.
    OLSetup(OverlayState& state, int frameWidth, int frameHeight, INotifier& notifier,
            ProbeThreadPark& park, std::shared_ptr<IPictureDecoder> decoder = nullptr,
            QWidget* parent = nullptr);
    ~OLSetup() override;

    // The file window of "Load Overlay": the chosen path, or nullopt when cancelled. Defaults to
    // the desktop's file-open window "Load Overlay Image" with its filters; tests put their own.
    std::function<std::optional<std::string>(const FileWindowRequest&)> chooseFile;

    OverlayEditor& editor() { return editor_; }
    VidBox* preview() const { return preview_; }
    // The preview player's timer period.
    static constexpr int kPlayTickMs = 40;

    void accept() override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The controls, a group at a time, each group as a column of the window.
    QLayout* BuildPictureColumn();
    QLayout* BuildFactsColumn();
    QLayout* BuildTextColumn();
    QLayout* BuildPreviewColumn();
    CColButton* MakeColoured(OverlayButton b, const char* caption);
    QPushButton* MakePush(const char* caption);
    QLabel* MakeText(const char* caption);
    void ConnectControls();
    void LoadOverlay();
    void DropFiles(const QStringList& paths);
    void StartPlaying();
    void Refresh();  // every control from the editor
    CColButton* Button(OverlayButton b) const { return buttons_[static_cast<size_t>(b)]; }

    // Before the editor, which cancels its runs (and so their wakes into these) when it goes.
    BackgroundWorkers workers_;
    QtTextRasteriser rasteriser_;
    OverlayEditor editor_;
    PreviewRenderer previewRenderer_;
    QTimer playTimer_;
    uint64_t thumbnailShown_ = 0;
    uint64_t previewShown_ = 0;
    bool textEdited_ = false;  // typed since the text edit took the focus
    bool closed_ = false;

    std::array<CColButton*, kOverlayButtonCount> buttons_{};
    ThumbnailArea* thumbnail_ = nullptr;
    QLabel* fileText_ = nullptr;       // the picture's file name
    QLabel* pixelSizeText_ = nullptr;  // its size in pixels
    QLabel* overlayText_ = nullptr;    // "Overlay ON" / "Overlay OFF"
    QPushButton* makeSolid_ = nullptr;
    QSpinBox* offsetX_ = nullptr;
    QSpinBox* offsetY_ = nullptr;
    QLabel* positionText_ = nullptr;  // the corner and the offsets
    QLineEdit* text_ = nullptr;       // the text box's text
    QLabel* statusText_ = nullptr;    // "Sequence loading" while a sequence loads
    QProgressBar* progress_ = nullptr;
    VidBox* preview_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace velmor
