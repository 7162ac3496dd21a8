// The overlay window's loading with real worker threads: a decode that takes its time never holds
// the window thread (the test's thread, which serves what the workers post), a sequence reports
// each picture as it comes and can be stopped, and a window closed mid-load leaves its workers
// nothing to touch. Decoding is held at chosen files (DecodeGate), so each case
// stops the worker exactly where it means to.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "relay/overlay_editor.h"
#include "support/background_work_fakes.h"
#include "support/block_rasteriser.h"
#include "support/fake_picture_decoder.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using testing::FakePictureDecoder;
using testing::ThreadWork;

class Loading : public ::testing::Test {
protected:
    void SetUp() override { editor_->Open(1920, 1080); }
    void TearDown() override {
        decoder_->gate.ReleaseAll();
        editor_.reset();
        work_.JoinAll();
    }
    std::string AddFile(const std::string& name, FakePictureDecoder::Picture picture = {}) {
        const std::string path = dir_.File(name);
        std::ofstream(path) << "picture";
        decoder_->Add(path, picture);
        return path;
    }
    // seq001.png .. seq<count>.png, each picture's blue its number.
    std::string AddSequence(int count) {
        char name[32];
        for (int n = 1; n <= count; ++n) {
            std::snprintf(name, sizeof name, "seq%03d.png", n);
            AddFile(name, {.b = static_cast<uint8_t>(n)});
        }
        return dir_.File("seq001.png");
    }
    std::vector<int> PublishedNumbers() const {
        std::vector<int> numbers;
        for (const auto& n : PublishedNodes(state_))
            numbers.push_back(n->imageNumber);
        return numbers;
    }
    static std::vector<int> Numbers(int from, int to) {
        std::vector<int> numbers;
        for (int n = from; n <= to; ++n)
            numbers.push_back(n);
        return numbers;
    }

    testing::TempDir dir_;
    OverlayState state_;
    std::shared_ptr<FakePictureDecoder> decoder_ = std::make_shared<FakePictureDecoder>();
    testing::BlockRasteriser rasteriser_;
    testing::RecordingNotifier notifier_;
    ThreadWork work_;
    std::unique_ptr<OverlayEditor> editor_ =
        std::make_unique<OverlayEditor>(state_, decoder_, rasteriser_, notifier_, work_);
};

TEST_F(Loading, ASlowDecodeLeavesTheWindowThreadFreeAndItsPictureIsPublishedOnceItEnds) {
    editor_->LoadOverlay(AddFile("small.png", {.w = 32, .h = 18}));
    ASSERT_TRUE(work_.WaitFor([&] { return !editor_->busy(); }));
    editor_->OnOff();
    const OverlayNode* small = PublishedNodes(state_).front().get();

    const std::string big = AddFile("big.png", {.w = 600, .h = 400});
    decoder_->gate.Hold(big);
    int changes = 0;
    editor_->onChange = [&] { ++changes; };
    editor_->LoadOverlay(big);
    // Back at once, while the worker is inside the decode: the window thread goes on.
    ASSERT_TRUE(decoder_->gate.WaitUntilBlocked(big));
    EXPECT_TRUE(editor_->busy());
    bool frozen = false;  // as a main-window button would, through the window thread's queue
    work_.Post([&] { frozen = true; });
    EXPECT_TRUE(work_.WaitFor([&] { return frozen; }, 2s));
    editor_->SetOffsets(20, 10);
    editor_->OnOff();
    EXPECT_EQ(state_.overlayOn, 0);
    EXPECT_EQ(state_.pictures.Latest()->placement.overlayX, 20) << "the old picture moves";
    EXPECT_EQ(PublishedNodes(state_).front().get(), small);
    EXPECT_EQ(changes, 0);

    decoder_->gate.Release(big);
    ASSERT_TRUE(work_.WaitFor([&] { return !editor_->busy(); }));
    ASSERT_EQ(PublishedNodes(state_).size(), 1u);
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 600);
    EXPECT_EQ(PublishedNodes(state_).front()->uyva.pixelKind, kPixelUYVA);
    EXPECT_EQ(changes, 1) << "one report, taken once";
    EXPECT_TRUE(notifier_.shown.empty());

    // A newer choice supersedes a load still running: the older picture never comes.
    decoder_->gate.Hold(big);
    editor_->LoadOverlay(big);
    ASSERT_TRUE(decoder_->gate.WaitUntilBlocked(big));
    editor_->LoadOverlay(AddFile("newer.png", {.w = 48, .h = 27}));
    ASSERT_TRUE(work_.WaitFor([&] { return !editor_->busy(); }));
    decoder_->gate.Release(big);
    ASSERT_TRUE(work_.WaitFor([&] { return work_.running() == 0; }));
    work_.RunPosted();
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 48);
    CollectOverlayLists(state_);
    EXPECT_EQ(state_.heldBytes->load(), OverlayNodeBytes(48, 27))
        << "the superseded picture is freed";
}

TEST_F(Loading, ASixtyPictureSequenceReportsEachPictureAsItComes) {
    std::vector<int> progress;
    editor_->onChange = [&] { progress.push_back(editor_->progressPosition()); };
    editor_->LoadOverlay(AddSequence(60));
    ASSERT_TRUE(work_.WaitFor([&] { return !editor_->busy(); }));
    ASSERT_EQ(notifier_.shown.size(), 2u);
    EXPECT_EQ(notifier_.shown[0].text,
              "Sequence exists - ending with:\n\nseq060.png\n\nLoad 59 more images?");
    EXPECT_EQ(notifier_.shown[1].text, "Final image number 60\n\nSequence length = 60");
    EXPECT_EQ(PublishedNumbers(), Numbers(1, 60));
    EXPECT_EQ(PublishedNodes(state_)[59]->bgra.pixels()[0], 60);
    EXPECT_EQ(state_.sequenceMode, 1);
    EXPECT_EQ(editor_->progressMaximum(), 60);
    EXPECT_FALSE(editor_->progressShown());
    ASSERT_GE(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 60);
}

TEST_F(Loading, StopEndsASequenceAtOnceWithWhatHasCome) {
    const std::string first = AddSequence(60);
    const std::string eleventh = dir_.File("seq011.png");
    decoder_->gate.Hold(eleventh);
    editor_->LoadOverlay(first);
    ASSERT_TRUE(work_.WaitFor([&] { return editor_->progressPosition() == 10; }));
    ASSERT_TRUE(decoder_->gate.WaitUntilBlocked(eleventh));
    EXPECT_TRUE(editor_->progressShown());
    EXPECT_EQ(editor_->statusText(), "Loading seq010");
    EXPECT_EQ(editor_->thumbnail()->imageNumber, 10);
    EXPECT_EQ(PublishedNumbers(), std::vector<int>{1}) << "published whole, when it ends";

    editor_->Stop();  // the worker is still inside a decode
    EXPECT_FALSE(editor_->busy());
    EXPECT_EQ(notifier_.shown.back().text, "Final image number 10\n\nSequence length = 10");
    EXPECT_EQ(PublishedNumbers(), Numbers(1, 10));
    EXPECT_EQ(state_.sequenceMode, 1);

    decoder_->gate.Release(eleventh);
    ASSERT_TRUE(work_.WaitFor([&] { return work_.running() == 0; }));
    work_.RunPosted();
    EXPECT_EQ(PublishedNumbers(), Numbers(1, 10)) << "the cancelled worker adds nothing";
    CollectOverlayLists(state_);
    EXPECT_EQ(state_.heldBytes->load(), 10 * OverlayNodeBytes(64, 36));
}

// The window goes while a worker is inside a decode: closing does not wait for it, and once it
// ends it touches nothing of the editor or the window (ASan and TSan check that).
TEST_F(Loading, AWindowClosedMidLoadLeavesItsWorkerNothingToTouch) {
    for (bool sequence : {false, true}) {
        SCOPED_TRACE(sequence ? "sequence" : "picture");
        editor_ = std::make_unique<OverlayEditor>(state_, decoder_, rasteriser_, notifier_, work_);
        editor_->Open(1920, 1080);
        const std::string held = sequence ? dir_.File("seq006.png") : AddFile("big.png");
        decoder_->gate.Hold(held);
        editor_->LoadOverlay(sequence ? AddSequence(60) : held);
        if (sequence) {
            ASSERT_TRUE(work_.WaitFor([&] { return editor_->progressPosition() == 5; }));
        }
        ASSERT_TRUE(decoder_->gate.WaitUntilBlocked(held));
        const auto start = std::chrono::steady_clock::now();
        editor_->Close(true);
        editor_.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "no wait for the worker";
        EXPECT_EQ(PublishedNumbers(), sequence ? Numbers(1, 5) : std::vector<int>{})
            << "a sequence keeps what it loaded; a picture still decoding is dropped";
        decoder_->gate.Release(held);
        work_.JoinAll();
        work_.RunPosted();
    }
}

}  // namespace
}  // namespace velmor
