// The image and sequence overlay over the real video thread: which picture each frame carries,
// where, on UYVY, BGRA and BGRX frames, and pictures replaced by the window thread while frames
// flow (run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine_fixture.h"
#include "relay/overlay_state.h"

namespace velmor::testing {
namespace {

constexpr int kW = 64, kH = 36;
constexpr int kPictureW = 8, kPictureH = 4;

// An opaque one-colour picture with its UYVA copy.
OverlayNodePtr SolidNode(OverlayState& s, uint8_t r, uint8_t g, uint8_t b, int number) {
    std::shared_ptr<OverlayNode> node = MakeOverlayNode(s);
    node->imageNumber = number;
    node->bgra.FillColour(kPictureW, kPictureH, r, g, b, 255);
    node->uyva.CopyRGBAdataFrom(node->bgra);
    node->uyva.ConvertToUYVA();
    CountOverlayNode(s, *node);
    return node;
}

class OverlayPath : public EngineTest {
protected:
    std::vector<SentVideo> Sent() {
        std::lock_guard lock(ndi.mutex);
        return ndi.video;
    }
    // The first bytes of the picture's place: B (BGRA) or Y0 (UYVY) at (x, y).
    static int Luma(const SentVideo& v, int x, int y) {
        const bool uyvy = v.frame.FourCC == NDIlib_FourCC_video_type_UYVY;
        return v.data[static_cast<size_t>(y) * v.frame.line_stride_in_bytes +
                      (uyvy ? x * 2 + 1 : x * 4)];
    }
    void SetPlacement(int x, int y, int anchor) { record.overlaySetup.placement = {x, y, anchor}; }
};

TEST_F(OverlayPath, ASequenceStepsOnePicturePerFrameAndWraps) {
    const uint8_t blues[3] = {40, 120, 200};
    for (const auto fourCC : {NDIlib_FourCC_video_type_UYVY, NDIlib_FourCC_video_type_BGRA,
                              NDIlib_FourCC_video_type_BGRX}) {
        SCOPED_TRACE(fourCC);
        const auto format = VideoFormat(kW, kH, fourCC);
        OverlayState& s = record.overlaySetup;
        SetPlacement(10, 6, kAnchorTopLeft);
        std::vector<OverlayNodePtr> nodes;
        for (int i = 0; i < 3; ++i)
            nodes.push_back(SolidNode(s, 0, 0, blues[i], 7 + i));
        PublishPictures(s, nodes);
        s.sequenceMode = 1;
        s.overlayOn = 1;
        QueueLeadIn(format);
        ASSERT_TRUE(Connect());
        const std::vector<uint8_t> black(static_cast<size_t>(format.line_stride_in_bytes) * kH,
                                         fourCC == NDIlib_FourCC_video_type_UYVY ? 16 : 0);
        for (int i = 0; i < 7; ++i)
            ndi.QueueVideo(format, black);
        ASSERT_TRUE(Drain());
        const std::vector<SentVideo> sent = Sent();
        ASSERT_EQ(sent.size(), 7u);
        const int expected[] = {0, 1, 2, 0, 1, 2, 0};
        for (int i = 0; i < 7; ++i) {
            const ImageBuffer& picture = fourCC == NDIlib_FourCC_video_type_UYVY
                                             ? nodes[static_cast<size_t>(expected[i])]->uyva
                                             : nodes[static_cast<size_t>(expected[i])]->bgra;
            const int want =
                fourCC == NDIlib_FourCC_video_type_UYVY ? picture.pixels()[1] : picture.pixels()[0];
            EXPECT_EQ(Luma(sent[static_cast<size_t>(i)], 10, 6), want) << "frame " << i;
            EXPECT_EQ(Luma(sent[static_cast<size_t>(i)], 17, 9), want) << "its last pixel";
            EXPECT_EQ(Luma(sent[static_cast<size_t>(i)], 18, 6), Luma(sent[0], 0, 0))
                << "nothing beside it";
            EXPECT_EQ(Luma(sent[static_cast<size_t>(i)], 10, 10), Luma(sent[0], 0, 0))
                << "nothing below it";
        }
        EXPECT_EQ(s.currentImage, 0);

        // Outside sequence mode only the first picture is drawn.
        s.sequenceMode = 0;
        for (int i = 0; i < 2; ++i)
            ndi.QueueVideo(format, black);
        ASSERT_TRUE(Drain());
        const std::vector<SentVideo> after = Sent();
        EXPECT_EQ(Luma(after[7], 10, 6), Luma(sent[0], 10, 6));
        EXPECT_EQ(Luma(after[8], 10, 6), Luma(sent[0], 10, 6));
        engine->Disconnect();
        engine->StopAndWait();
        std::lock_guard lock(ndi.mutex);
        ndi.video.clear();
    }
}

TEST_F(OverlayPath, MovingThePictureKeepsTheSequenceStepping) {
    const auto format = VideoFormat(kW, kH, NDIlib_FourCC_video_type_BGRA);
    OverlayState& s = record.overlaySetup;
    SetPlacement(0, 0, kAnchorBottomRight);
    PublishPictures(
        s, {SolidNode(s, 0, 0, 50, 1), SolidNode(s, 0, 0, 100, 2), SolidNode(s, 0, 0, 150, 3)});
    s.sequenceMode = 1;
    s.overlayOn = 1;
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());
    const std::vector<uint8_t> black(static_cast<size_t>(kW) * kH * 4, 0);
    ndi.QueueVideo(format, black);
    ASSERT_TRUE(Drain());
    // Anchor 11 with no offsets: the bottom-right corner of the frame.
    EXPECT_EQ(Luma(Sent().back(), kW - 1, kH - 1), 50);
    EXPECT_EQ(Luma(Sent().back(), kW - kPictureW, kH - kPictureH), 50);
    EXPECT_EQ(Luma(Sent().back(), kW - kPictureW - 1, kH - 1), 0);

    SetPlacement(5, 3, kAnchorBottomRight);
    PublishPlacement(s);
    ndi.QueueVideo(format, black);
    ASSERT_TRUE(Drain());
    const SentVideo moved = Sent().back();
    EXPECT_EQ(Luma(moved, kW - 1 - 5, kH - 1 - 3), 100) << "the next picture, moved";
    EXPECT_EQ(Luma(moved, kW - 1, kH - 1), 0) << "the old place is clear";

    // Switched off: the frame goes out untouched.
    s.overlayOn = 0;
    ndi.QueueVideo(format, black);
    ASSERT_TRUE(Drain());
    EXPECT_EQ(Sent().back().data, black);
}

TEST_F(OverlayPath, OtherPixelFormatsAreLeftAlone) {
    const auto format = VideoFormat(kW, kH, NDIlib_FourCC_video_type_UYVA);
    OverlayState& s = record.overlaySetup;
    PublishPictures(s, {SolidNode(s, 255, 255, 255, 0)});
    s.overlayOn = 1;
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());
    const auto picture = Pattern(format, 9);
    ndi.QueueVideo(format, picture);
    ASSERT_TRUE(Drain());
    EXPECT_EQ(Sent().back().data, picture);
}

TEST_F(OverlayPath, TheWindowThreadReplacesPicturesWhileFramesFlow) {
    // Every list the "window" publishes has pictures of one colour of its own; a frame showing two
    // colours, or a colour no list had, would be a picture read while it was replaced or freed.
    const auto format = VideoFormat(kW, kH, NDIlib_FourCC_video_type_BGRA);
    OverlayState& s = record.overlaySetup;
    SetPlacement(0, 0, kAnchorTopLeft);
    PublishPictures(s, {SolidNode(s, 0, 0, 1, 0)});
    s.sequenceMode = 1;
    s.overlayOn = 1;
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());
    constexpr int kFrames = 300;
    const std::vector<uint8_t> black(static_cast<size_t>(kW) * kH * 4, 0);
    std::atomic<bool> done{false};
    std::thread window([&] {
        int colour = 1;
        while (!done.load()) {
            colour = colour % 250 + 1;
            const auto c = static_cast<uint8_t>(colour);
            if (colour % 3 == 0) {
                SetPlacement(colour % 40, colour % 20, kAnchorTopLeft);
                PublishPlacement(s);
            } else {
                PublishPictures(s, {SolidNode(s, 0, 0, c, 0), SolidNode(s, 0, 0, c, 1)});
            }
        }
    });
    for (int i = 0; i < kFrames; ++i)
        ndi.QueueVideo(format, black);
    const bool drained = Drain();
    done = true;
    window.join();
    ASSERT_TRUE(drained);
    const std::vector<SentVideo> sent = Sent();
    ASSERT_EQ(sent.size(), static_cast<size_t>(kFrames));
    int torn = 0;
    for (const SentVideo& v : sent) {
        int colour = -1, pixels = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const int b = Luma(v, x, y);
                if (b == 0) continue;
                ++pixels;
                if (colour < 0) colour = b;
                torn += b != colour;
            }
        }
        torn += pixels != kPictureW * kPictureH;
    }
    EXPECT_EQ(torn, 0);
    engine->Disconnect();
    engine->StopAndWait();
    CollectOverlayLists(s);
    const int64_t held = s.heldBytes->load();
    EXPECT_EQ(held, 2 * OverlayNodeBytes(kPictureW, kPictureH)) << "only the last list is kept";
}

}  // namespace
}  // namespace velmor::testing
