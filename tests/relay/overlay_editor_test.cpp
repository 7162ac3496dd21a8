// The overlay window's operations without widgets: loading a picture, detecting and loading a
// numbered sequence step by step (and where that stops), the text box, placement, "Make solid",
// drops, the preview player, and what is published for the video thread after each.
#include "relay/overlay_editor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "support/block_rasteriser.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

using testing::BlockRasteriser;
using testing::RecordingNotifier;
using testing::ShownMessage;
using testing::TempDir;

// Pictures by path: a solid colour of a given size. A path it does not know is unreadable.
class FakeDecoder : public IPictureDecoder {
public:
    struct Picture {
        int w = 64, h = 36;
        uint8_t b = 10, g = 20, r = 30, a = 128;
        int bitDepth = 32;
    };
    std::map<std::string, Picture> files;
    std::vector<std::string> loaded;

    PictureLoad Load(ImageBuffer& p, const std::string& path) override {
        loaded.push_back(path);
        PictureLoad result;
        const auto it = files.find(path);
        if (it == files.end()) return result;
        const Picture& f = it->second;
        result.width = f.w;
        result.height = f.h;
        if (f.w > kMaxOverlayPictureSide || f.h > kMaxOverlayPictureSide) {
            result.result = PictureLoad::TooLarge;
            return result;
        }
        p.FillColour(f.w, f.h, f.r, f.g, f.b, f.a);
        p.path = path;
        p.name = std::filesystem::path(path).filename().string();
        p.decodedWidth = f.w;
        p.decodedHeight = f.h;
        p.decodedBitDepth = f.bitDepth;
        result.result = PictureLoad::Loaded;
        return result;
    }
};

class Editor : public ::testing::Test {
protected:
    // A picture file that exists on disk (for the sequence detection) and decodes.
    std::string AddFile(const std::string& name, FakeDecoder::Picture picture = {}) {
        const std::string path = dir_.File(name);
        std::ofstream(path) << "picture";
        decoder_.files[path] = picture;
        return path;
    }
    std::vector<int> PublishedNumbers() const {
        std::vector<int> numbers;
        for (const auto& n : PublishedNodes(state_))
            numbers.push_back(n->imageNumber);
        return numbers;
    }
    // Runs the loading loop as the window's timer would.
    int RunLoop() {
        int steps = 0;
        while (editor_.LoadStep())
            ++steps;
        return steps;
    }

    TempDir dir_;
    OverlayState state_;
    FakeDecoder decoder_;
    BlockRasteriser rasteriser_;
    RecordingNotifier notifier_;
    OverlayEditor editor_{state_, decoder_, rasteriser_, notifier_};
};

TEST_F(Editor, ASinglePictureIsPublishedWithItsUyvaCopyAndNoMessage) {
    editor_.Open(1920, 1080);
    const std::string path = AddFile("logo.png");
    EXPECT_FALSE(editor_.LoadOverlay(path));
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
    EXPECT_FALSE(editor_.LoadOverlay(std::nullopt));
    EXPECT_EQ(PublishedNodes(state_).front().get(), before);
}

TEST_F(Editor, ANumberedSequenceIsAskedForThenLoadedOnePictureAStep) {
    editor_.Open(1920, 1080);
    const std::string first = AddFile("clip0007.png", {.b = 7});
    AddFile("clip0008.png", {.b = 8});
    AddFile("clip0009.png", {.b = 9});
    AddFile("clip0011.png");  // not reached: the numbers must follow on
    EXPECT_TRUE(editor_.LoadOverlay(first));
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

    EXPECT_TRUE(editor_.LoadStep());
    EXPECT_EQ(editor_.statusText(), "Loading clip0008");
    EXPECT_EQ(editor_.progressPosition(), 2);
    EXPECT_EQ(editor_.thumbnail()->imageNumber, 8) << "each picture shows as it loads";
    EXPECT_EQ(state_.sequenceMode, 0) << "still loading";
    EXPECT_EQ(PublishedNumbers(), std::vector<int>{7});
    EXPECT_EQ(RunLoop(), 1) << "clip0009, then clip0010 is missing";
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
    EXPECT_EQ(decoder_.loaded.back(), dir_.File("clip0010.png"));
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
        if (editor_.LoadOverlay(paths.front())) RunLoop();
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
        ASSERT_TRUE(editor_.LoadOverlay(first));
        EXPECT_EQ(notifier_.shown[0].text,
                  "Sequence exists - ending with:\n\ntake04.png\n\nLoad 3 more images?");
        if (removed) std::filesystem::remove(third);
        decoder_.files.erase(third);
        RunLoop();
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
        FakeDecoder::Picture second;
    };
    for (const Case& c : {Case{"third picture", {}}, Case{"larger second picture", {.w = 128}}}) {
        SCOPED_TRACE(c.name);
        state_.memoryLimit = 2 * node + node / 2;
        notifier_.shown.clear();
        const std::string first = AddFile("m1.png");
        AddFile("m2.png", c.second);
        AddFile("m3.png");
        ASSERT_TRUE(editor_.LoadOverlay(first));
        RunLoop();
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
    ASSERT_FALSE(editor_.LoadOverlay(AddFile("good.png")));
    editor_.OnOff();
    const OverlayNode* good = PublishedNodes(state_).front().get();
    const std::string broken = dir_.File("broken.png");
    const std::string huge = AddFile("huge.png", {.w = 9000, .h = 20});
    editor_.LoadOverlay(broken);
    editor_.LoadOverlay(huge);
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
    editor_.LoadOverlay(AddFile("logo.png"));
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
    EXPECT_EQ(editor_.buttonState(OverlayButton::Stop), 1);
    EXPECT_EQ(editor_.buttonState(OverlayButton::Play), 0);

    editor_.LoadOverlay(AddFile("logo.png"));
    editor_.OnOff();
    editor_.Close(true);
    EXPECT_EQ(state_.overlayOn, 1) << "OK keeps it on";

    OverlayEditor again(state_, decoder_, rasteriser_, notifier_);
    again.Open(1280, 720);
    EXPECT_EQ(state_.overlayOn, 1);
    EXPECT_EQ(again.buttonState(OverlayButton::OnOff), 1);
    EXPECT_EQ(again.pixelSizeText(), "(64 x 36, 32bpp)") << "the picture is shown again";
    ASSERT_NE(again.thumbnail(), nullptr);
    again.Close(false);
    EXPECT_EQ(state_.overlayOn, 0) << "Cancel switches it off";
    EXPECT_EQ(PublishedNodes(state_).size(), 1u) << "and keeps the picture";
}

TEST_F(Editor, TheTextBoxNeedsTheFrameSizeAndReplacesTheList) {
    editor_.Open(0, 0);
    editor_.LoadOverlay(AddFile("logo.png"));
    editor_.OnOff();
    editor_.EditText("On air tonight");
    editor_.TextBox();
    EXPECT_EQ(state_.overlayOn, 0) << "only switched off";
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 64) << "no box without a frame size";
    EXPECT_EQ(editor_.buttonState(OverlayButton::TextBox), 2);
    EXPECT_EQ(editor_.buttonState(OverlayButton::LoadOverlay), 0);

    OverlayEditor sized(state_, decoder_, rasteriser_, notifier_);
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

TEST_F(Editor, TheTextBoxEndsASequenceStillLoading) {
    editor_.Open(320, 180);
    AddFile("s2.png");
    ASSERT_TRUE(editor_.LoadOverlay(AddFile("s1.png")));
    editor_.TextBox();
    EXPECT_FALSE(editor_.LoadStep()) << "nothing left to load";
    EXPECT_EQ(notifier_.shown.size(), 1u) << "only the question";
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 280);
    EXPECT_EQ(state_.sequenceMode, 0);
}

TEST_F(Editor, CornerAndOffsetsMoveThePicturesWithoutNewOnes) {
    editor_.Open(1920, 1080);
    editor_.LoadOverlay(AddFile("logo.png"));
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
    AddFile("f2.png", {.a = 0});
    ASSERT_TRUE(editor_.LoadOverlay(AddFile("f1.png", {.a = 0})));
    RunLoop();
    ASSERT_EQ(state_.sequenceMode, 1);
    const uint64_t nodesId = state_.pictures.Latest()->nodesId;
    const OverlayNode* second = PublishedNodes(state_)[1].get();
    const OverlayNode* thumbnail = editor_.thumbnail();
    editor_.MakeSolid();
    const OverlayNode& solid = *PublishedNodes(state_).front();
    EXPECT_EQ(solid.bgra.pixels()[3], 255);
    EXPECT_EQ(solid.uyva.pixels()[3], 255);
    EXPECT_EQ(solid.uyva.pixelKind, kPixelUYVA);
    EXPECT_EQ(solid.imageNumber, 1);
    EXPECT_EQ(PublishedNodes(state_)[1].get(), second);
    EXPECT_EQ(second->bgra.pixels()[3], 0) << "the other pictures stay as they were";
    EXPECT_EQ(state_.pictures.Latest()->nodesId, nodesId);
    EXPECT_EQ(editor_.thumbnail(), thumbnail) << "the thumbnail shows the file as decoded";

    const std::string dropped = AddFile("dropped.png", {.w = 16, .h = 16});
    editor_.Drop(std::string(261, 'x'));
    EXPECT_EQ(PublishedNodes(state_).front().get(), &solid) << "a path too long is not taken";
    editor_.Drop(dropped);
    ASSERT_EQ(PublishedNodes(state_).size(), 2u);
    EXPECT_EQ(PublishedNodes(state_).front()->bgra.width, 16);
    EXPECT_EQ(PublishedNodes(state_)[1].get(), second);
    EXPECT_EQ(state_.sequenceMode, 1) << "a drop leaves the sequence as it is";
    EXPECT_EQ(editor_.fileText(), dropped.size() > 50 ? "dropped.png" : dropped);
}

TEST_F(Editor, PlayRunsOnlyForASequenceAndStepsThroughIt) {
    editor_.Open(1920, 1080);
    editor_.LoadOverlay(AddFile("still.png"));
    EXPECT_FALSE(editor_.Play()) << "one picture: nothing to play";
    EXPECT_EQ(editor_.buttonState(OverlayButton::Play), 0);
    EXPECT_EQ(state_.previewPlaying, 0);

    // 60 x 40: the 16:9 canvas is held by the height, k = ceil(40 / 9) = 5.
    AddFile("p2.png", {.w = 60, .h = 40, .b = 2, .a = 255});
    AddFile("p3.png", {.w = 60, .h = 40, .b = 3, .a = 255});
    ASSERT_TRUE(editor_.LoadOverlay(AddFile("p1.png", {.w = 60, .h = 40, .b = 1, .a = 255})));
    EXPECT_FALSE(editor_.Play()) << "still loading: Play only ends the loading";
    EXPECT_EQ(RunLoop(), 0);
    EXPECT_EQ(notifier_.shown.back().text, "Final image number 1\n\nSequence length = 1");

    ASSERT_TRUE(editor_.LoadOverlay(dir_.File("p1.png")));
    RunLoop();
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
