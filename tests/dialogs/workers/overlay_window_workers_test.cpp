// The "Overlay setup" window while its loading workers run, with real picture files decoded by
// the Qt decoder, held at chosen files (DecodeGate) so that each case catches a worker where it
// means to: the window goes on serving its events, shows a sequence's progress, and closes at once
// without its worker touching anything of it afterwards.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

#include "dialogs/overlay_setup_dialog.h"
#include "support/fake_picture_decoder.h"
#include "support/modal_helpers.h"
#include "support/qt_widget_helpers.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"
#include "widgets/colour_button.h"

// Qt is not built with ThreadSanitizer: its own worker threads (the pool that scales and converts
// large images while the window paints) order their work through futexes TSan does not see, so
// what they do among themselves would show as races inside Qt. Races with a frame in Qt are left
// out; the window's workers and the window thread meet only in Velmor's code (std::mutex, the
// WindowCalls eventfd), which TSan sees whole.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so.6\nrace:libQt6Gui.so.6\nrace:libQt6Widgets.so.6\n";
}
#endif

namespace velmor {
namespace {

using namespace std::chrono_literals;

// The Qt decoder, waiting at held files.
class GatedDecoder : public QtPictureDecoder {
public:
    testing::DecodeGate gate;
    PictureLoad Load(ImageBuffer& picture, const std::string& path) override {
        gate.Pass(path);
        return QtPictureDecoder::Load(picture, path);
    }
};

class OverlayWindowWorkers : public ::testing::Test {
protected:
    void Open() {
        dialog_ = std::make_unique<OLSetup>(state_, 1280, 720, notifier_, park_, decoder_);
        dialog_->chooseFile = [this](const FileWindowRequest&) { return chosen_; };
        dialog_->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    }
    void TearDown() override {
        decoder_->gate.ReleaseAll();
        dialog_.reset();
        park_.JoinAll();
    }
    std::string SavePicture(const std::string& name, int w, int h, QColor colour = Qt::red) {
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(colour);
        const std::string path = dir_.File(name);
        EXPECT_TRUE(image.save(QString::fromStdString(path)));
        return path;
    }
    // seq001.png .. seq<count>.png.
    std::string SaveSequence(int count) {
        char name[32];
        for (int n = 1; n <= count; ++n) {
            std::snprintf(name, sizeof name, "seq%03d.png", n);
            SavePicture(name, 64, 36, QColor(n * 4, 0, 0));
        }
        return dir_.File("seq001.png");
    }
    template <typename T = QWidget>
    T* Named(const QString& name) {
        return testing::FindNamed<T>(*dialog_, name);
    }
    void Click(const char* caption) {
        QTest::mouseClick(Named<QAbstractButton>(caption), Qt::LeftButton);
    }
    bool Shows(const QString& text) {
        QLabel* label = Named<QLabel>(text);
        return label != nullptr && label->isVisible();
    }
    std::vector<int> PublishedNumbers() const {
        std::vector<int> numbers;
        for (const auto& n : PublishedNodes(state_))
            numbers.push_back(n->imageNumber);
        return numbers;
    }

    testing::TempDir dir_;
    OverlayState state_;
    testing::RecordingNotifier notifier_;
    std::shared_ptr<GatedDecoder> decoder_ = std::make_shared<GatedDecoder>();
    ProbeThreadPark park_;
    std::unique_ptr<OLSetup> dialog_;
    std::optional<std::string> chosen_;
};

TEST_F(OverlayWindowWorkers, APictureStillDecodingLeavesTheWindowServingItsEvents) {
    Open();
    const std::string big = SavePicture("big.png", 600, 400);
    decoder_->gate.Hold(big);
    chosen_ = big;
    Click("Load Overlay");
    ASSERT_TRUE(decoder_->gate.WaitUntilBlocked(big)) << "the click returned first";
    EXPECT_TRUE(Shows("Loading big.png"));
    // Timers fire and controls act while the worker decodes.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    QTest::qWait(100);
    EXPECT_GE(ticks, 5);
    Named<QSpinBox>("X Offset")->setValue(33);
    EXPECT_EQ(state_.placement.overlayX, 33);
    EXPECT_TRUE(PublishedNodes(state_).empty());

    decoder_->gate.Release(big);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog_->editor().busy(); }));
    EXPECT_TRUE(Shows("(600 x 400, 32bpp)"));
    EXPECT_FALSE(Shows("Loading big.png"));
    ASSERT_EQ(PublishedNodes(state_).size(), 1u);
    EXPECT_EQ(state_.pictures.Latest()->placement.overlayX, 33);
    const QImage thumbnail = testing::Render(*Named("Thumbnail"));
    const QColor middle = thumbnail.pixelColor(thumbnail.width() / 2, thumbnail.height() / 2);
    EXPECT_GT(middle.red(), 200) << "the thumbnail made on the worker";
}

TEST_F(OverlayWindowWorkers, ASequenceShowsItsProgressAndStopEndsItAtOnce) {
    Open();
    const std::string first = SaveSequence(60);
    const std::string eleventh = dir_.File("seq011.png");
    decoder_->gate.Hold(eleventh);
    chosen_ = first;
    Click("Load Overlay");
    auto* progress = Named<QProgressBar>("Sequence loading progress");
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->value() == 10; }));
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->maximum(), 60);
    EXPECT_TRUE(Shows("Loading seq010"));
    EXPECT_EQ(notifier_.shown.size(), 1u) << "the question";
    EXPECT_EQ(PublishedNumbers(), std::vector<int>{1});

    Click("Stop");  // the worker is still held inside a decode
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(notifier_.shown.back().text, "Final image number 10\n\nSequence length = 10");
    EXPECT_EQ(PublishedNumbers().size(), 10u);
    EXPECT_EQ(state_.sequenceMode, 1);
    decoder_->gate.Release(eleventh);
    park_.JoinAll();
    QTest::qWait(20);
    EXPECT_EQ(PublishedNumbers().size(), 10u);
}

// Cancel, or the window destroyed, while a worker is inside a decode: the window goes at once, and
// the worker, once released, touches nothing of it (ASan and TSan check that).
TEST_F(OverlayWindowWorkers, CancelOrClosingMidLoadIsSafe) {
    for (bool sequence : {false, true}) {
        SCOPED_TRACE(sequence ? "sequence, window destroyed" : "picture, Cancel");
        Open();
        const std::string held =
            sequence ? dir_.File("seq006.png") : SavePicture("big.png", 600, 400);
        chosen_ = sequence ? SaveSequence(60) : held;
        decoder_->gate.Hold(held);
        Click("Load Overlay");
        if (sequence) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return dialog_->editor().progressPosition() == 5; }));
        }
        ASSERT_TRUE(decoder_->gate.WaitUntilBlocked(held));
        const auto start = std::chrono::steady_clock::now();
        if (!sequence) Click("Cancel");
        dialog_.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_EQ(park_.size(), 1u) << "the worker is parked, not waited for";
        EXPECT_EQ(PublishedNumbers().size(), sequence ? 5u : 0u);
        decoder_->gate.Release(held);
        park_.JoinAll();
        QTest::qWait(20);
    }
}

}  // namespace
}  // namespace velmor
