// The overlay window's operations without widgets: loading a picture, detecting and loading a
// numbered sequence (and where that stops), the text box, placement, "Make solid", drops, the
// preview player, and what is published for the video thread after each. The loading workers'
// work and what they post back run here when the test says so (ManualWork), so each step of a
// hand-over can be looked at; overlay_loading_test.cpp runs them on real threads.
#include "relay/overlay_editor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "relay/text_box.h"
#include "support/background_work_fakes.h"
#include "support/block_rasteriser.h"
#include "support/fake_picture_decoder.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

using testing::BlockRasteriser;
using testing::FakePictureDecoder;
using testing::ManualWork;
using testing::RecordingNotifier;
using testing::ShownMessage;
using testing::TempDir;

class Editor : public ::testing::Test {
protected:
    // A picture file that exists on disk (for the sequence detection) and decodes.
    std::string AddFile(const std::string& name, FakePictureDecoder::Picture picture = {}) {
        const std::string path = dir_.File(name);
        std::ofstream(path) << "picture";
        decoder_->Add(path, picture);
        return path;
    }
    std::vector<int> PublishedNumbers() const {
        std::vector<int> numbers;
        for (const auto& n : PublishedNodes(state_))
            numbers.push_back(n->imageNumber);
        return numbers;
    }
    // "Load Overlay" with `path`, to its end: the question answered as notifier_ says and any
    // sequence loaded.
    void Load(const std::string& path) {
        editor_.LoadOverlay(path);
        work_.Settle();
    }

    TempDir dir_;
    OverlayState state_;
    std::shared_ptr<FakePictureDecoder> decoder_ = std::make_shared<FakePictureDecoder>();
    BlockRasteriser rasteriser_;
    RecordingNotifier notifier_;
    ManualWork work_;
    OverlayEditor editor_{state_, decoder_, rasteriser_, notifier_, work_};
};

TEST_F(Editor, ASinglePictureIsLoadedOnAWorkerAndPublishedWithItsUyvaCopyAndNoMessage) {
    editor_.SetThumbnailSize(160, 90);
    editor_.Open(1920, 1080);
    const std::string path = AddFile("logo.png");
    editor_.LoadOverlay(path);
    EXPECT_TRUE(PublishedNodes(state_).empty()) << "the picture is decoded on a worker";
    EXPECT_TRUE(editor_.busy());
    EXPECT_TRUE(editor_.statusShown());
    EXPECT_EQ(editor_.statusText(), "Loading logo.png");
    EXPECT_EQ(editor_.buttonState(OverlayButton::LoadOverlay), 0) << "set once the picture is in";
    work_.RunWork();
    EXPECT_TRUE(PublishedNodes(state_).empty()) << "taken on the window thread only";
    work_.RunPosted();
    EXPECT_FALSE(editor_.busy());
    EXPECT_FALSE(editor_.statusShown());
    EXPECT_TRUE(notifier_.shown.empty());
    EXPECT_EQ(state_.imageLoaded, 1);
    EXPECT_EQ(state_.sequenceMode, 0);
    EXPECT_EQ(state_.sequenceCount, 1);
    ASSERT_EQ(PublishedNodes(state_).size(), 1u);
    const OverlayNode& node = *PublishedNodes(state_).front();
    EXPECT_EQ(node.bgra.pixelKind, kPixelBGRA);
    EXPECT_EQ(node.uyva.pixelKind, kPixelUYVA);
    EXPECT_EQ(node.uyva.pixels()[3], 128) << "alpha carried into the UYVA copy";
    EXPECT_EQ(editor_.thumbnail(), &node);
    EXPECT_EQ(node.thumbnail.width, 160) << "the thumbnail is made on the worker too";
    EXPECT_EQ(node.thumbnail.pixels()[0], 10);
    EXPECT_EQ(editor_.pixelSizeText(), "(64 x 36, 32bpp)");
    EXPECT_EQ(editor_.buttonState(OverlayButton::LoadOverlay), 2);
    EXPECT_EQ(editor_.buttonState(OverlayButton::TextBox), 0);
    EXPECT_EQ(state_.overlayOn, 0) << "loading does not switch the overlay on";
    EXPECT_EQ(OverlayFileText("/a/b/logo.png"), "/a/b/logo.png");
    EXPECT_EQ(OverlayFileText("/" + std::string(50, 'x') + "/logo.png"), "logo.png");
    EXPECT_EQ(OverlayFileText("/" + std::string(20, 'x') + "/" + std::string(27, 'y')),
              "/" + std::string(20, 'x') + "/" + std::string(27, 'y'))
        << "50 characters still show whole";

    // Cancelled file window: nothing changes.
    const OverlayNode* before = PublishedNodes(state_).front().get();
    editor_.LoadOverlay(std::nullopt);
    EXPECT_EQ(work_.waitingWork(), 0u);
    EXPECT_EQ(PublishedNodes(state_).front().get(), before);
}

TEST_F(Editor, TheNewestPictureWinsAndClosingDropsOneStillBeingDecoded) {
    editor_.Open(1920, 1080);
    const std::string first = AddFile("first.png", {.w = 10});
    editor_.LoadOverlay(first);
    editor_.Drop(AddFile("dropped.png", {.w = 20}));
    editor_.LoadOverlay(AddFile("newest.png", {.w = 30}));
    work_.Settle();
    ASSERT_EQ(PublishedNodes(state_).size(), 1u);
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 30);
    EXPECT_EQ(state_.heldBytes->load(), OverlayNodeBytes(30, 36))
        << "the pictures never taken are freed";

    editor_.LoadOverlay(first);
    editor_.Close(true);
    work_.Settle();
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 30) << "loading ends with the window";
    EXPECT_FALSE(editor_.busy());
    EXPECT_TRUE(notifier_.shown.empty());
}

TEST_F(Editor, ANumberedSequenceIsAskedForThenLoadedOnAWorker) {
    editor_.Open(1920, 1080);
    const std::string first = AddFile("clip0007.png", {.b = 7});
    AddFile("clip0008.png", {.b = 8});
    AddFile("clip0009.png", {.b = 9});
    AddFile("clip0011.png");  // not reached: the numbers must follow on
    editor_.LoadOverlay(first);
    work_.RunWork();  // the picture decoded, the files after it counted
    EXPECT_TRUE(notifier_.shown.empty()) << "asked once the picture is taken";
    work_.RunPosted();
    ASSERT_EQ(notifier_.shown.size(), 1u);
    EXPECT_EQ(notifier_.shown[0],
              (ShownMessage{"Sequence exists - ending with:\n\nclip0009.png\n\nLoad 2 more images?",
                            "Sequence detection", MessageButtons::OkCancel}));
    EXPECT_EQ(state_.sequenceLoading, 1);
    EXPECT_TRUE(editor_.progressShown());
    EXPECT_TRUE(editor_.statusShown());
    EXPECT_EQ(editor_.progressMaximum(), 3);
    EXPECT_EQ(editor_.progressPosition(), 1);
    EXPECT_EQ(PublishedNumbers(), std::vector<int>{7}) << "the first picture is on at once";
    EXPECT_EQ(work_.waitingWork(), 1u) << "the rest loads on a worker";

    work_.RunWork();  // clip0008 and clip0009, then clip0010 is missing
    EXPECT_EQ(state_.sequenceMode, 0) << "reported, not yet taken";
    EXPECT_EQ(PublishedNumbers(), std::vector<int>{7});
    work_.RunPosted();
    EXPECT_EQ(editor_.statusText(), "Loading clip0009") << "each picture shows as it comes";
    EXPECT_EQ(editor_.thumbnail()->imageNumber, 9);
    ASSERT_EQ(notifier_.shown.size(), 2u);
    EXPECT_EQ(notifier_.shown[1], (ShownMessage{"Final image number 9\n\nSequence length = 3",
                                                "Sequence detection", MessageButtons::Ok}));
    EXPECT_EQ(PublishedNumbers(), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(PublishedNodes(state_)[2]->bgra.pixels()[0], 9);
    EXPECT_EQ(state_.sequenceMode, 1);
    EXPECT_EQ(state_.sequenceCount, 3);
    EXPECT_EQ(state_.sequenceLoading, 0);
    EXPECT_FALSE(editor_.progressShown());
    EXPECT_FALSE(editor_.statusShown());
    EXPECT_EQ(decoder_->loaded().back(), dir_.File("clip0010.png"));
}

TEST_F(Editor, WhereSequenceDetectionAndLoadingStop) {
    struct Case {
        const char* name;
        std::vector<std::string> files;  // the first is loaded
        MessageAnswer answer;
        std::vector<int> published;
        int messages;
    };
    const Case cases[] = {
        {"no trailing number", {"logo.png", "logo1.png"}, MessageAnswer::Ok, {0}, 0},
        {"no next number", {"shot5.png", "shot7.png"}, MessageAnswer::Ok, {5}, 0},
        {"question cancelled", {"a01.png", "a02.png"}, MessageAnswer::Cancel, {1}, 1},
        // Five digits at most form the number: img000123 is stem img0, number 123.
        {"five digits", {"img000123.tif", "img000124.tif"}, MessageAnswer::Ok, {123, 124}, 2},
        {"9 to 10", {"n9.bmp", "n10.bmp"}, MessageAnswer::Ok, {9, 10}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        notifier_.shown.clear();
        notifier_.answer = c.answer;
        std::vector<std::string> paths;
        for (const std::string& f : c.files)
            paths.push_back(AddFile(f));
        Load(paths.front());
        EXPECT_EQ(PublishedNumbers(), c.published);
        EXPECT_EQ(static_cast<int>(notifier_.shown.size()), c.messages);
        EXPECT_EQ(state_.sequenceMode, c.published.size() > 1 ? 1 : 0);
        EXPECT_EQ(state_.sequenceCount, static_cast<int>(c.published.size()));
    }
}

TEST_F(Editor, AFileThatGoesAwayOrCannotBeDecodedEndsTheLoopKeepingWhatWasLoaded) {
    for (bool removed : {true, false}) {
        SCOPED_TRACE(removed ? "removed after the question" : "no longer decodes");
        notifier_.shown.clear();
        const std::string first = AddFile("take01.png");
        AddFile("take02.png");
        const std::string third = AddFile("take03.png");
        AddFile("take04.png");
        editor_.LoadOverlay(first);
        work_.RunWork();
        work_.RunPosted();  // asked; the sequence's worker has not started yet
        ASSERT_EQ(notifier_.shown.size(), 1u);
        EXPECT_EQ(notifier_.shown[0].text,
                  "Sequence exists - ending with:\n\ntake04.png\n\nLoad 3 more images?");
        if (removed) std::filesystem::remove(third);
        decoder_->Remove(third);
        work_.Settle();
        ASSERT_EQ(notifier_.shown.size(), 2u) << "no message for the file itself";
        EXPECT_EQ(notifier_.shown[1].text, "Final image number 2\n\nSequence length = 2");
        EXPECT_EQ(PublishedNumbers(), (std::vector<int>{1, 2}));
    }
}

TEST_F(Editor, ASequenceThatWouldPassTheMemoryBoundIsRefused) {
    // Room for two 64 x 36 pictures (two copies each) and a little more, not for three.
    const int64_t node = OverlayNodeBytes(64, 36);
    struct Case {
        const char* name;
        FakePictureDecoder::Picture second;
    };
    for (const Case& c : {Case{"third picture", {}}, Case{"larger second picture", {.w = 128}}}) {
        SCOPED_TRACE(c.name);
        state_.memoryLimit = 2 * node + node / 2;
        notifier_.shown.clear();
        const std::string first = AddFile("m1.png");
        AddFile("m2.png", c.second);
        AddFile("m3.png");
        Load(first);
        ASSERT_EQ(notifier_.shown.size(), 3u);
        EXPECT_EQ(notifier_.shown[1],
                  (ShownMessage{"Sequence load failed\n\nOut of memory", "", MessageButtons::Ok}));
        EXPECT_EQ(notifier_.shown[2].text, "Final image number 1\n\nSequence length = 1");
        EXPECT_EQ(PublishedNumbers(), std::vector<int>{1}) << "the first picture stays";
        EXPECT_EQ(state_.sequenceMode, 0);
        CollectOverlayLists(state_);
        EXPECT_EQ(state_.heldBytes->load(), node) << "the refused pictures are freed";
    }
}

TEST_F(Editor, APictureThatCannotBeLoadedIsReportedAndThePreviousOneStays) {
    editor_.Open(1920, 1080);
    Load(AddFile("good.png"));
    editor_.OnOff();
    const OverlayNode* good = PublishedNodes(state_).front().get();
    const std::string broken = dir_.File("broken.png");
    const std::string huge = AddFile("huge.png", {.w = 9000, .h = 20});
    Load(broken);
    editor_.Drop(huge);
    work_.Settle();
    ASSERT_EQ(notifier_.shown.size(), 2u);
    EXPECT_EQ(notifier_.shown[0], (ShownMessage{"Cannot read a picture from\n\n" + broken,
                                                "Load Overlay Image", MessageButtons::Ok}));
    EXPECT_EQ(notifier_.shown[1].text,
              "The picture is too large (9000 x 20)\n\nOverlay pictures are at most 8192 x 8192");
    EXPECT_EQ(PublishedNodes(state_).front().get(), good);
    EXPECT_EQ(state_.overlayOn, 1);
    EXPECT_EQ(editor_.pixelSizeText(), "(64 x 36, 32bpp)");
}

TEST_F(Editor, OnOffNeedsAPicture) {
    editor_.Open(0, 0);
    EXPECT_EQ(editor_.buttonState(OverlayButton::OnOff), 3);
    editor_.OnOff();
    EXPECT_EQ(state_.overlayOn, 0) << "nothing loaded yet";
    EXPECT_EQ(editor_.OverlayText(), "Overlay OFF");
    Load(AddFile("logo.png"));
    editor_.OnOff();
    EXPECT_EQ(state_.overlayOn, 1);
    EXPECT_EQ(editor_.OverlayText(), "Overlay ON");
    EXPECT_EQ(editor_.buttonState(OverlayButton::OnOff), 1);
    editor_.OnOff();
    EXPECT_EQ(state_.overlayOn, 0);
    EXPECT_EQ(editor_.buttonState(OverlayButton::OnOff), 3);
}

TEST_F(Editor, OpeningAndClosingTheWindow) {
    state_.overlayOn = 1;  // e.g. set remotely with nothing to show
    editor_.Open(1280, 720);
    EXPECT_EQ(state_.overlayOn, 0) << "no picture: off";
    EXPECT_EQ(state_.dialogOpen, 1);
    EXPECT_EQ(editor_.previewCanvas().width, 960);
    EXPECT_EQ(editor_.previewCanvas().pixels()[0], 170) << "dark blue";
    EXPECT_EQ(editor_.previewSerial(), 0u) << "not shown: the preview opens on the idle picture";
    EXPECT_EQ(editor_.buttonState(OverlayButton::Stop), 1);
    EXPECT_EQ(editor_.buttonState(OverlayButton::Play), 0);

    Load(AddFile("logo.png"));
    editor_.OnOff();
    editor_.Close(true);
    EXPECT_EQ(state_.overlayOn, 1) << "OK keeps it on";

    OverlayEditor again(state_, decoder_, rasteriser_, notifier_, work_);
    again.Open(1280, 720);
    EXPECT_EQ(state_.overlayOn, 1);
    EXPECT_EQ(again.buttonState(OverlayButton::OnOff), 1);
    EXPECT_EQ(again.pixelSizeText(), "(64 x 36, 32bpp)") << "the picture is shown again";
    ASSERT_NE(again.thumbnail(), nullptr);
    again.Close(false);
    EXPECT_EQ(state_.overlayOn, 0) << "Cancel switches it off";
    EXPECT_EQ(PublishedNodes(state_).size(), 1u) << "and keeps the picture";
}

// The window can only keep on what it can show: while no picture file has ever been loaded,
// opening it switches the overlay off, a text box on air included. Once one has, a text box made
// since stays on.
TEST_F(Editor, OpeningWithNoPictureFileKnownSwitchesTheOverlayOff) {
    ASSERT_TRUE(PublishTextBox(state_, "Remote", 320, 180, rasteriser_));
    state_.overlayOn = 1;  // as the remote text-box message leaves it
    editor_.Open(320, 180);
    EXPECT_EQ(state_.overlayOn, 0) << "a text box, no picture file";
    EXPECT_EQ(editor_.buttonState(OverlayButton::OnOff), 3);
    EXPECT_EQ(editor_.fileText(), "Filename");
    editor_.Close(true);

    OverlayEditor loading(state_, decoder_, rasteriser_, notifier_, work_);
    loading.Open(320, 180);
    loading.LoadOverlay(AddFile("logo.png"));
    work_.Settle();
    loading.TextBox();
    loading.OnOff();
    loading.Close(true);
    ASSERT_EQ(state_.overlayOn, 1);
    OverlayEditor again(state_, decoder_, rasteriser_, notifier_, work_);
    again.Open(320, 180);
    EXPECT_EQ(state_.overlayOn, 1) << "a picture file was loaded before the box";
    EXPECT_EQ(again.buttonState(OverlayButton::OnOff), 1);
}

TEST_F(Editor, TheTextBoxNeedsTheFrameSizeAndReplacesTheList) {
    editor_.Open(0, 0);
    Load(AddFile("logo.png"));
    editor_.OnOff();
    editor_.EditText("On air tonight");
    editor_.TextBox();
    EXPECT_EQ(state_.overlayOn, 0) << "only switched off";
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 64) << "no box without a frame size";
    EXPECT_EQ(editor_.buttonState(OverlayButton::TextBox), 2);
    EXPECT_EQ(editor_.buttonState(OverlayButton::LoadOverlay), 0);

    OverlayEditor sized(state_, decoder_, rasteriser_, notifier_, work_);
    sized.Open(320, 180);
    const uint64_t drawn = sized.previewSerial();
    sized.EditText(std::string(40, 'x'));
    EXPECT_EQ(state_.textBoxText.size(), 37u);
    sized.TextBox();
    ASSERT_EQ(PublishedNodes(state_).size(), 1u);
    const OverlayNode& box = *PublishedNodes(state_).front();
    EXPECT_EQ(box.bgra.width, 280);
    EXPECT_EQ(box.bgra.height, 30);
    EXPECT_EQ(box.uyva.pixelKind, kPixelUYVA);
    EXPECT_EQ(state_.placement.overlayAnchor, kAnchorBottomCentre);
    EXPECT_EQ(state_.placement.overlayY, 15);
    EXPECT_EQ(state_.imageLoaded, 1);
    EXPECT_EQ(state_.overlayOn, 0) << "switched on only by On/Off";
    // The preview: the box over a light canvas of the frame's size.
    const ImageBuffer& canvas = sized.previewCanvas();
    EXPECT_GT(sized.previewSerial(), drawn);
    ASSERT_EQ(canvas.width, 320);
    auto pixel = [&](int x, int y) { return canvas.pixels()[(y * 320 + x) * 4]; };
    EXPECT_EQ(pixel(5, 5), 224);
    EXPECT_EQ(pixel(30, 140), 224 * (255 - 175) / 255);
    EXPECT_EQ(pixel(160, 150), 255);
}

TEST_F(Editor, TheTextBoxEndsWhatIsStillLoading) {
    editor_.Open(320, 180);
    AddFile("s2.png");
    editor_.LoadOverlay(AddFile("s1.png"));
    work_.RunWork();
    work_.RunPosted();  // asked; the sequence's worker waits
    ASSERT_EQ(state_.sequenceLoading, 1);
    editor_.TextBox();
    work_.Settle();
    EXPECT_FALSE(editor_.busy());
    EXPECT_EQ(notifier_.shown.size(), 1u) << "only the question";
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 280);
    EXPECT_EQ(state_.sequenceMode, 0);
    EXPECT_FALSE(editor_.progressShown());

    // A picture still being decoded would replace the box: it is dropped.
    editor_.LoadOverlay(AddFile("logo.png"));
    editor_.TextBox();
    work_.Settle();
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 280);
    EXPECT_EQ(editor_.buttonState(OverlayButton::TextBox), 2);
}

TEST_F(Editor, CornerAndOffsetsMoveThePicturesWithoutNewOnes) {
    editor_.Open(1920, 1080);
    Load(AddFile("logo.png"));
    const uint64_t nodesId = state_.pictures.Latest()->nodesId;
    const OverlayNode* picture = PublishedNodes(state_).front().get();
    struct Case {
        int x, y, corner, anchor;
        const char* text;
    };
    // A 160 x 90 area: the halves split at 80 and 45 (the middle itself is upper / left).
    for (const Case& c :
         {Case{150, 80, 3, 11, "Lower Right : 12, 34"}, Case{10, 80, 2, 10, "Lower Left : 12, 34"},
          Case{81, 45, 1, 7, "Upper Right : 12, 34"}, Case{80, 10, 0, 0, "Upper Left : 12, 34"}}) {
        editor_.SetOffsets(12, 34);
        editor_.ChooseCorner(c.x, c.y, 160, 90);
        EXPECT_EQ(state_.cornerIndex, c.corner);
        EXPECT_EQ(editor_.PositionText(), c.text);
        const OverlayList& list = *state_.pictures.Latest();
        EXPECT_EQ(list.placement.overlayAnchor, c.anchor);
        EXPECT_EQ(list.placement.overlayX, 12);
        EXPECT_EQ(list.placement.overlayY, 34);
        EXPECT_EQ(list.nodesId, nodesId) << "a sequence steps on";
        EXPECT_EQ(list.nodes.front().get(), picture) << "no pixels copied";
    }
    editor_.SetOffsets(-5, 5000);
    EXPECT_EQ(state_.placement.overlayX, 0);
    EXPECT_EQ(state_.placement.overlayY, 1100);
}

TEST_F(Editor, MakeSolidAndADropReplaceOnlyTheFirstPicture) {
    editor_.SetThumbnailSize(16, 9);
    AddFile("f2.png", {.a = 0});
    Load(AddFile("f1.png", {.a = 0}));
    ASSERT_EQ(state_.sequenceMode, 1);
    const uint64_t nodesId = state_.pictures.Latest()->nodesId;
    const OverlayNode* first = PublishedNodes(state_).front().get();
    const OverlayNode* second = PublishedNodes(state_)[1].get();
    const OverlayNode* thumbnail = editor_.thumbnail();
    editor_.MakeSolid();
    EXPECT_EQ(PublishedNodes(state_).front().get(), first) << "made solid on a worker";
    work_.Settle();
    const OverlayNode& solid = *PublishedNodes(state_).front();
    EXPECT_EQ(solid.bgra.pixels()[3], 255);
    EXPECT_EQ(solid.uyva.pixels()[3], 255);
    EXPECT_EQ(solid.uyva.pixelKind, kPixelUYVA);
    EXPECT_EQ(solid.imageNumber, 1);
    EXPECT_EQ(PublishedNodes(state_)[1].get(), second);
    EXPECT_EQ(second->bgra.pixels()[3], 0) << "the other pictures stay as they were";
    EXPECT_EQ(state_.pictures.Latest()->nodesId, nodesId);
    EXPECT_EQ(editor_.thumbnail(), thumbnail) << "the thumbnail shows the file as decoded";
    EXPECT_EQ(solid.thumbnail.width, 16) << "and so does the solid picture's, for the player";

    const std::string dropped = AddFile("dropped.png", {.w = 16, .h = 16});
    editor_.Drop(std::string(261, 'x'));
    EXPECT_EQ(work_.waitingWork(), 0u) << "a path too long is not taken";
    // Made solid from the picture the drop then replaces: the old picture does not come back.
    editor_.MakeSolid();
    editor_.Drop(dropped);
    work_.Settle();
    ASSERT_EQ(PublishedNodes(state_).size(), 2u);
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 16);
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.pixels()[3], 128) << "the drop, not made solid";
    EXPECT_EQ(PublishedNodes(state_)[1].get(), second);
    EXPECT_EQ(state_.sequenceMode, 1) << "a drop leaves the sequence as it is";
    EXPECT_EQ(editor_.fileText(), dropped.size() > 50 ? "dropped.png" : dropped);
}

TEST_F(Editor, PlayRunsOnlyForASequenceAndStepsThroughIt) {
    editor_.Open(1920, 1080);
    Load(AddFile("still.png"));
    EXPECT_FALSE(editor_.Play()) << "one picture: nothing to play";
    EXPECT_EQ(editor_.buttonState(OverlayButton::Play), 0);
    EXPECT_EQ(state_.previewPlaying, 0);

    // 60 x 40: the 16:9 canvas is held by the height, k = ceil(40 / 9) = 5.
    AddFile("p2.png", {.w = 60, .h = 40, .b = 2, .a = 255});
    AddFile("p3.png", {.w = 60, .h = 40, .b = 3, .a = 255});
    editor_.LoadOverlay(AddFile("p1.png", {.w = 60, .h = 40, .b = 1, .a = 255}));
    work_.RunWork();
    work_.RunPosted();  // asked; the sequence's worker waits
    EXPECT_FALSE(editor_.Play()) << "still loading: Play only ends the loading";
    EXPECT_EQ(notifier_.shown.back().text, "Final image number 1\n\nSequence length = 1");
    work_.Settle();
    EXPECT_EQ(state_.sequenceCount, 1) << "what the ended worker loads is not taken";

    Load(dir_.File("p1.png"));
    ASSERT_EQ(state_.sequenceCount, 3);
    ASSERT_TRUE(editor_.Play());
    EXPECT_EQ(editor_.statusText(), "PV bg 80x45");
    EXPECT_TRUE(editor_.statusShown());
    EXPECT_EQ(editor_.buttonState(OverlayButton::Play), 2);
    EXPECT_EQ(editor_.buttonState(OverlayButton::Stop), 0);
    EXPECT_FALSE(editor_.Play()) << "already playing";
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(editor_.PlayTick());
        const ImageBuffer& canvas = editor_.previewCanvas();
        shown.push_back(canvas.pixels()[(22 * 80 + 40) * 4]);  // the centre
        EXPECT_EQ(canvas.pixels()[0], 255) << "blue around the picture";
    }
    EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 1}));
    editor_.Stop();
    EXPECT_EQ(editor_.statusText(), "Preview Stopped");
    EXPECT_EQ(editor_.buttonState(OverlayButton::Stop), 1);
    EXPECT_EQ(editor_.buttonState(OverlayButton::Play), 0);
    EXPECT_FALSE(editor_.PlayTick()) << "the timer stops itself";
}

}  // namespace
}  // namespace velmor
