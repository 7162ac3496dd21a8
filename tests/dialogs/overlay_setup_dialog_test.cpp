// The "Overlay setup" window driven through its controls with real picture files: what the
// record's overlay then holds, what the window shows, and every message it asks. Pictures load on
// workers, so each load waits (serving the window's events) until the window has taken it.
#include "dialogs/overlay_setup_dialog.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTest>
#include <QUrl>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "relay/text_box.h"
#include "support/modal_helpers.h"
#include "support/qt_widget_helpers.h"
#include "support/recording_fakes.h"
#include "support/screenshot.h"
#include "support/temp_dir.h"
#include "widgets/colour_button.h"
#include "widgets/preview_box.h"

namespace velmor {
namespace {

using testing::AccessibleName;
using testing::RecordingNotifier;
using testing::ShownMessage;
using testing::TempDir;

// A picture file: `colour` with its alpha, or an opaque one in a format without alpha.
std::string SavePicture(const std::string& path, QColor colour, int w = 64, int h = 36) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    EXPECT_TRUE(image.save(QString::fromStdString(path))) << path;
    return path;
}

class OverlayWindow : public ::testing::Test {
protected:
    void Open(int frameWidth = 1280, int frameHeight = 720) {
        dialog_ = std::make_unique<OLSetup>(state_, frameWidth, frameHeight, notifier_, park_);
        dialog_->chooseFile = [this](const FileWindowRequest& request) {
            request_ = request;
            return chosen_;
        };
        dialog_->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    }
    void TearDown() override {
        dialog_.reset();
        park_.JoinAll();
    }

    template <typename T = QWidget>
    T* Named(const QString& name) {
        return testing::FindNamed<T>(*dialog_, name);
    }
    CColButton* Coloured(const char* caption) { return Named<CColButton>(caption); }
    void Click(const char* caption) {
        if (QAbstractButton* b = Named<QAbstractButton>(caption))
            QTest::mouseClick(b, Qt::LeftButton);
    }
    // "Load Overlay" with `path`, until the window has taken the picture (and loaded the
    // sequence it asked for).
    void Load(const std::string& path) {
        chosen_ = path;
        Click("Load Overlay");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog_->editor().busy(); }));
    }
    QLabel* Label(const QString& text) { return Named<QLabel>(text); }
    bool Shows(const QString& text) {
        for (QLabel* l : dialog_->findChildren<QLabel*>()) {
            if ((l->text() == text || testing::AccessibleName(l) == text) && l->isVisible())
                return true;
        }
        return false;
    }
    const std::vector<OverlayNodePtr>& Published() { return PublishedNodes(state_); }

    TempDir dir_;
    OverlayState state_;
    RecordingNotifier notifier_;
    ProbeThreadPark park_;
    std::unique_ptr<OLSetup> dialog_;
    std::optional<std::string> chosen_;
    FileWindowRequest request_;
};

TEST_F(OverlayWindow, LoadingOnePictureShowsItsThumbnailAndFacts) {
    Open();
    EXPECT_EQ(dialog_->windowTitle(), "Overlay setup");
    const std::string logo = SavePicture(dir_.File("logo.png"), QColor(200, 40, 20, 128));
    Load(logo);
    EXPECT_TRUE(notifier_.shown.empty()) << "no sequence, no message";
    EXPECT_EQ(request_.title, "Load Overlay Image");
    ASSERT_EQ(request_.filters.size(), 2u);
    EXPECT_EQ(request_.filters[0].caption, "Image Files (*.bmp;*.gif;*.jpg;*.png;*.tif)");
    EXPECT_EQ(request_.filters[1].pattern, "*.*");
    ASSERT_EQ(Published().size(), 1u);
    EXPECT_EQ(state_.sequenceMode, 0);
    EXPECT_EQ(state_.imageLoaded, 1);
    EXPECT_TRUE(Shows("(64 x 36, 32bpp)"));
    EXPECT_TRUE(Shows(QString::fromStdString(OverlayFileText(logo))));
    EXPECT_TRUE(Shows("Overlay OFF"));
    EXPECT_EQ(Coloured("Load Overlay")->state(), 2);
    EXPECT_EQ(Coloured("Text Box")->state(), 0);
    // The thumbnail: the picture across the area's full width (64:36 is 16:9), over the area.
    QWidget* thumbnail = Named("Thumbnail");
    ASSERT_NE(thumbnail, nullptr);
    const QImage drawn = testing::Render(*thumbnail);
    const QColor middle = drawn.pixelColor(drawn.width() / 2, drawn.height() / 2);
    EXPECT_GT(middle.red() - middle.blue(), 50) << "the red picture, half covering the area";

    // A path longer than its text's room is cut in the middle: the file's name stays in view, the
    // accessible name and the tooltip keep the whole path.
    // 50 characters, the most that are shown as a path, in wide letters.
    const std::string folder = dir_.File(std::string(50 - dir_.path().string().size() - 15, 'W'));
    std::filesystem::create_directories(folder);
    const std::string deep = SavePicture(folder + "/deep-logo.png", QColor(20, 40, 200, 255));
    Load(deep);
    const QString whole = QString::fromStdString(OverlayFileText(deep));
    QLabel* file = Label(whole);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->text().endsWith("deep-logo.png")) << file->text().toStdString();
    EXPECT_LT(file->text().size(), whole.size());
    EXPECT_LE(file->fontMetrics().horizontalAdvance(file->text()), file->width());
    EXPECT_EQ(file->toolTip(), whole);

    // The file window cancelled: nothing changes.
    const OverlayNode* before = Published().front().get();
    chosen_.reset();
    Click("Load Overlay");
    EXPECT_FALSE(dialog_->editor().busy());
    EXPECT_EQ(Published().front().get(), before);
}

// As the window opens: the preview shows the idle picture (not yet the canvas it draws on), and
// with no picture file ever loaded, the overlay goes off, a text box on air included.
TEST_F(OverlayWindow, OpeningShowsTheIdlePictureAndSwitchesOffWhatItCannotShow) {
    QtTextRasteriser rasteriser;
    ASSERT_TRUE(PublishTextBox(state_, "Remote", 1280, 720, rasteriser));
    state_.overlayOn = 1;
    Open();
    EXPECT_EQ(state_.overlayOn, 0);
    EXPECT_TRUE(Shows("Overlay OFF"));
    EXPECT_EQ(Coloured("On/Off")->state(), 3);
    VidBox idle;
    idle.setFixedSize(dialog_->preview()->size());
    idle.ShowIdlePicture();
    EXPECT_EQ(testing::Render(*dialog_->preview()), testing::Render(idle));
}

TEST_F(OverlayWindow, ANumberedSequenceIsAskedForLoadedAndReported) {
    Open();
    for (int n : {7, 8, 9})
        SavePicture(dir_.File("clip000" + std::to_string(n) + ".png"), QColor(n * 20, 0, 0));
    Load(dir_.File("clip0007.png"));
    ASSERT_EQ(notifier_.shown.size(), 2u);
    EXPECT_EQ(notifier_.shown[0],
              (ShownMessage{"Sequence exists - ending with:\n\nclip0009.png\n\nLoad 2 more images?",
                            "Sequence detection", MessageButtons::OkCancel}));
    EXPECT_EQ(notifier_.shown[1], (ShownMessage{"Final image number 9\n\nSequence length = 3",
                                                "Sequence detection", MessageButtons::Ok}));
    EXPECT_EQ(state_.sequenceMode, 1);
    ASSERT_EQ(Published().size(), 3u);
    EXPECT_EQ(Published()[2]->imageNumber, 9);
    EXPECT_FALSE(Named<QProgressBar>("Sequence loading progress")->isVisible());

    // "Play" runs the preview through the sequence on the 16:9 canvas; "Stop" ends it.
    Click("Play");
    EXPECT_EQ(state_.previewPlaying, 1);
    EXPECT_TRUE(Shows("PV bg 64x36"));
    EXPECT_EQ(Coloured("Play")->state(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return state_.previewImage == 2; }));
    Click("Stop");
    EXPECT_EQ(state_.previewPlaying, 0);
    EXPECT_TRUE(Shows("Preview Stopped"));
    EXPECT_EQ(Coloured("Stop")->state(), 1);
}

TEST_F(OverlayWindow, ClicksThatMayNotActDoNothing) {
    Open(0, 0);  // no video yet
    Click("On/Off");
    EXPECT_EQ(state_.overlayOn, 0) << "nothing loaded";
    EXPECT_TRUE(Shows("Overlay OFF"));
    Click("Play");
    EXPECT_EQ(state_.previewPlaying, 0);
    Click("Text Box");
    EXPECT_TRUE(Published().empty()) << "no frame size: the text box is not made";
    EXPECT_EQ(Coloured("Text Box")->state(), 2);

    Load(SavePicture(dir_.File("logo.png"), Qt::white));
    Click("Play");
    EXPECT_EQ(state_.previewPlaying, 0) << "one picture: nothing to play";
    Click("On/Off");
    EXPECT_EQ(state_.overlayOn, 1);
    EXPECT_TRUE(Shows("Overlay ON"));
    EXPECT_EQ(Coloured("On/Off")->state(), 1);
    Click("Text Box");
    EXPECT_EQ(state_.overlayOn, 0) << "the text box only switches the overlay off";
    EXPECT_EQ(Published().front()->bgra.width, 64);
}

TEST_F(OverlayWindow, CornerAndOffsetsPlaceThePicture) {
    Open();
    Load(SavePicture(dir_.File("logo.png"), Qt::white));
    auto* x = Named<QSpinBox>("X Offset");
    auto* y = Named<QSpinBox>("Y Offset");
    ASSERT_TRUE(x && y);
    EXPECT_EQ(x->maximum(), 2100);
    EXPECT_EQ(y->maximum(), 1100);
    x->setValue(25);
    y->setValue(40);
    QWidget* thumbnail = Named("Thumbnail");
    QTest::mouseClick(thumbnail, Qt::LeftButton, {},
                      QPoint(thumbnail->width() * 3 / 4, thumbnail->height() * 3 / 4));
    EXPECT_EQ(state_.placement.overlayAnchor, 11);
    EXPECT_TRUE(Shows("Lower Right : 25, 40"));
    const OverlayList& list = *state_.pictures.Latest();
    EXPECT_EQ(list.placement.overlayX, 25);
    EXPECT_EQ(list.placement.overlayY, 40);
    QTest::mouseClick(thumbnail, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(Shows("Upper Left : 25, 40"));
    EXPECT_EQ(state_.placement.overlayAnchor, 0);
}

TEST_F(OverlayWindow, TheTypedTextBoxIsPreviewedAndLeavingTheEditAfterTypingMakesIt) {
    Open(320, 180);
    Load(SavePicture(dir_.File("logo.png"), Qt::white));
    auto* edit = Named<QLineEdit>("Text Box text");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->maxLength(), 37);
    // Passing through the edit without typing keeps the picture.
    edit->setFocus();
    Named<QSpinBox>("X Offset")->setFocus();
    EXPECT_EQ(Published().front()->bgra.width, 64);

    edit->setFocus();
    QTest::keyClicks(edit, "On air");
    EXPECT_EQ(state_.textBoxText, "On air");
    QTest::keyClick(edit, Qt::Key_Return);  // Enter moves on, which leaves the edit
    EXPECT_TRUE(dialog_->isVisible()) << "Enter does not close the window";
    EXPECT_FALSE(edit->hasFocus());
    ASSERT_EQ(Published().size(), 1u);
    EXPECT_EQ(Published().front()->bgra.width, 280);
    EXPECT_EQ(state_.placement.overlayAnchor, 5);
    EXPECT_EQ(state_.placement.overlayY, 15);
    EXPECT_EQ(Coloured("Text Box")->state(), 2);
    EXPECT_EQ(Coloured("Load Overlay")->state(), 0);
    // The preview shows the box near the bottom of a light picture.
    VidBox* preview = dialog_->preview();
    const QImage shown = testing::Render(*preview);
    EXPECT_GT(qGray(shown.pixel(preview->width() / 2, preview->height() / 10)), 200);
    EXPECT_LT(qGray(shown.pixel(preview->width() / 10, preview->height() * 4 / 5)), 100);
}

TEST_F(OverlayWindow, CancelSwitchesTheOverlayOffAndOkKeepsIt) {
    for (bool ok : {true, false}) {
        Open();
        if (Published().empty()) Load(SavePicture(dir_.File("logo.png"), Qt::white));
        if (!state_.overlayOn) Click("On/Off");
        ASSERT_EQ(state_.overlayOn, 1);
        Click(ok ? "OK" : "Cancel");
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_EQ(state_.overlayOn, ok ? 1 : 0);
        EXPECT_EQ(Published().size(), 1u) << "the picture stays";
        dialog_.reset();
    }
}

TEST_F(OverlayWindow, ADroppedFileReplacesTheFirstPicture) {
    Open();
    Load(SavePicture(dir_.File("logo.png"), Qt::white));
    const std::string dropped = SavePicture(dir_.File("dropped.png"), Qt::red, 32, 32);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog_.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog_.get(), &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog_->editor().busy(); }));
    ASSERT_EQ(Published().size(), 1u);
    EXPECT_EQ(Published().front()->bgra.width, 32);
    EXPECT_TRUE(Shows("(32 x 32, 32bpp)"));
}

TEST_F(OverlayWindow, BadFilesAreReportedAndThePictureStays) {
    Open();
    Load(SavePicture(dir_.File("logo.png"), Qt::white));
    const OverlayNode* good = Published().front().get();
    const std::string text = dir_.File("notes.png");
    testing::WriteBytes(text, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'});
    // A PNG cut short inside its pixel data.
    const std::string whole = SavePicture(dir_.File("whole.png"), Qt::blue, 300, 300);
    std::vector<unsigned char> bytes = testing::ReadBytes(whole);
    bytes.resize(bytes.size() / 2);
    const std::string cut = dir_.File("cut.png");
    testing::WriteBytes(cut, bytes);
    for (const std::string& bad : {text, cut, dir_.File("missing.png")}) {
        SCOPED_TRACE(bad);
        notifier_.shown.clear();
        Load(bad);
        ASSERT_EQ(notifier_.shown.size(), 1u);
        EXPECT_EQ(notifier_.shown[0], (ShownMessage{"Cannot read a picture from\n\n" + bad,
                                                    "Load Overlay Image", MessageButtons::Ok}));
        EXPECT_EQ(Published().front().get(), good);
    }
    // Far too large: refused from the header, before it is decoded.
    notifier_.shown.clear();
    const std::string huge = dir_.File("huge.png");
    ASSERT_TRUE(QImage(9000, 4, QImage::Format_Mono).save(QString::fromStdString(huge)));
    Load(huge);
    ASSERT_EQ(notifier_.shown.size(), 1u);
    EXPECT_EQ(notifier_.shown[0].text,
              "The picture is too large (9000 x 4)\n\nOverlay pictures are at most 8192 x 8192");
    EXPECT_EQ(Published().front().get(), good);
}

TEST_F(OverlayWindow, EveryControlIsNamedByItsCaption) {
    Open();
    QSet<QString> names;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node,
                                                               int depth) {
        if (!node || depth > 30) return;
        names.insert(node->text(QAccessible::Name));
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(dialog_.get()), 0);
    for (const char* caption :
         {"Load Overlay", "Thumbnail", "Filename", "Pixel size", "Overlay OFF", "Make solid",
          "X Offset", "Y Offset", "Upper Left : 0, 0", "Text Box", "Text Box text", "Stop", "Play",
          "Preview", "On/Off", "OK", "Cancel"})
        EXPECT_TRUE(names.contains(caption)) << caption;
}

// Not a check: the window with a loaded picture, for the README (VELMOR_SCREENSHOTS=folder).
TEST_F(OverlayWindow, Screenshot) {
    if (!testing::ScreenshotFolder()) GTEST_SKIP() << "VELMOR_SCREENSHOTS not set";
    Open(1920, 1080);
    QImage logo(320, 180, QImage::Format_ARGB32);
    logo.fill(Qt::transparent);
    {
        QPainter p(&logo);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(230, 80, 30, 220));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(10, 30, 300, 120), 30, 30);
        p.setPen(Qt::white);
        QFont font = p.font();
        font.setPixelSize(64);
        font.setBold(true);
        p.setFont(font);
        p.drawText(logo.rect(), Qt::AlignCenter, "LIVE");
    }
    const std::string path = dir_.File("live-logo.png");
    ASSERT_TRUE(logo.save(QString::fromStdString(path)));
    Load(path);
    Named<QSpinBox>("X Offset")->setValue(40);
    Named<QSpinBox>("Y Offset")->setValue(30);
    QWidget* thumbnail = Named("Thumbnail");
    QTest::mouseClick(thumbnail, Qt::LeftButton, {}, QPoint(thumbnail->width() - 5, 5));
    Click("On/Off");
    testing::Screenshot(*dialog_, "overlay-setup.png");
}

}  // namespace
}  // namespace velmor
