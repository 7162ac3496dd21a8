// The preview painted from real rendered frames and checked pixel by pixel: letterboxing by
// aspect class, opaque pictures from 32-bit frames, the idle picture, the time text, the
// waveform labels scaled to the control, the tally border; clicks, the graticule toggle and
// dropped files.
#include "widgets/preview_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <vector>

#include "ndi/ndi_types.h"
#include "support/qt_widget_helpers.h"
#include "video/preview_render.h"

namespace velmor {
namespace {

using testing::AccessibleDescription;
using testing::AccessibleName;
using testing::Render;

const QColor kGrey(100, 100, 100);
const QColor kWhite(254, 254, 254);  // luma 235 as the preview shows it

// A frame of one colour: UYVY of luma y (grey), or BGRA.
std::vector<uint8_t> UyvyFrame(int w, int h, uint8_t y) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (size_t i = 0; i < f.size(); i += 4) {
        f[i] = 128;
        f[i + 1] = y;
        f[i + 2] = 128;
        f[i + 3] = y;
    }
    return f;
}

class PreviewBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        box.setRenderer(&renderer);
        box.resize(640, 360);
    }
    void Show(int w, int h, float aspect, uint8_t luma = 235) {
        const std::vector<uint8_t> frame = UyvyFrame(w, h, luma);
        ASSERT_EQ(renderer.Render(frame.data(), w, h, w * 2, NDIlib_FourCC_video_type_UYVY, aspect),
                  24);
        box.FrameArrived();
    }
    PreviewRenderer renderer;
    VidBox box;
};

TEST_F(PreviewBoxTest, LetterboxesByAspectClass) {
    struct Case {
        int w, h;
        float aspect;
        int left, right;  // picture columns [left, right) on row 180 of the 640 x 360 control
    };
    const Case cases[] = {
        {640, 480, 4.0f / 3.0f, 80, 560},    // 4:3: 480 wide, grey at both sides
        {360, 640, 9.0f / 16.0f, 219, 421},  // 9:16: 640 * 81 / 256 = 202 wide
        {1920, 1080, 16.0f / 9.0f, 0, 640},  // 16:9: the whole control
    };
    for (const Case& c : cases) {
        Show(c.w, c.h, c.aspect);
        const QImage image = Render(box);
        EXPECT_EQ(image.pixelColor(c.left + 2, 180), kWhite) << c.w;
        EXPECT_EQ(image.pixelColor(c.right - 3, 180), kWhite) << c.w;
        if (c.left > 0) {
            EXPECT_EQ(image.pixelColor(c.left - 2, 180), kGrey) << c.w;
            EXPECT_EQ(image.pixelColor(c.right + 1, 180), kGrey) << c.w;
            EXPECT_EQ(image.pixelColor(0, 0), kGrey) << c.w;
            EXPECT_EQ(image.pixelColor(639, 359), kGrey) << c.w;
        }
    }
    // Letterboxed across instead: 2.39:1 leaves grey above and below.
    Show(1280, 536, 2.39f);
    const QImage wide = Render(box);
    EXPECT_EQ(wide.pixelColor(320, 20), kGrey);
    EXPECT_EQ(wide.pixelColor(320, 180), kWhite);
}

TEST_F(PreviewBoxTest, ThirtyTwoBitFramesAreShownOpaqueInTheirColours) {
    // Alpha 0 everywhere: a key-less BGRA frame must still show its colours, and must not punch
    // a hole into a translucent back buffer.
    std::vector<uint8_t> frame(64 * 36 * 4);
    for (size_t i = 0; i < frame.size(); i += 4) {
        frame[i] = 10;       // B
        frame[i + 1] = 200;  // G
        frame[i + 2] = 30;   // R
        frame[i + 3] = 0;    // A
    }
    ASSERT_EQ(
        renderer.Render(frame.data(), 64, 36, 64 * 4, NDIlib_FourCC_video_type_BGRA, 16.0f / 9.0f),
        32);
    box.FrameArrived();
    QImage target(box.size(), QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    box.render(&target);
    EXPECT_EQ(target.pixel(320, 180), qRgba(30, 200, 10, 255));
}

TEST_F(PreviewBoxTest, IdlePictureUntilTheNextFrame) {
    EXPECT_EQ(Render(box).pixelColor(320, 180), kGrey);  // nothing rendered yet
    box.ShowIdlePicture();
    const QImage idle = Render(box);
    EXPECT_NE(idle.pixelColor(320, 180), kGrey);
    EXPECT_NE(idle.pixelColor(5, 5), kGrey);
    Show(1920, 1080, 16.0f / 9.0f, 16);  // black
    EXPECT_EQ(Render(box).pixelColor(5, 5), QColor(0, 0, 0));
}

TEST_F(PreviewBoxTest, TimeTextShowsItsFirstElevenCharacters) {
    Show(1920, 1080, 16.0f / 9.0f, 126);  // mid grey (129, 128, 128)
    const QColor picture = Render(box).pixelColor(320, 100);
    const PaintRect at = TimeTextPosition(640, 360);
    const int width = box.fontMetrics().horizontalAdvance(QStringLiteral("01:02:05:--"));
    auto changed = [&](const QImage& image, int x0, int x1) {
        int n = 0;
        for (int y = at.y; y < at.y + box.fontMetrics().height(); ++y)
            for (int x = x0; x < x1; ++x)
                n += image.pixelColor(x, y) != picture;
        return n;
    };
    box.setTimeText(QStringLiteral("01:02:05:--EXTRA"), true);
    const QImage shown = Render(box);
    EXPECT_GT(changed(shown, at.x, at.x + width), width);
    EXPECT_EQ(changed(shown, at.x + width + 8, 640), 0);  // "EXTRA" is not drawn
    EXPECT_EQ(AccessibleDescription(&box), QStringLiteral("01:02:05:--"));

    box.setTimeText(QStringLiteral("01:02:05:--"), false);
    EXPECT_EQ(changed(Render(box), 0, 640), 0);
}

TEST_F(PreviewBoxTest, WaveformLabelsAreScaledToTheControl) {
    box.resize(1280, 720);
    renderer.waveformOn = 1;
    Show(1920, 1080, 16.0f / 9.0f);
    const QImage image = Render(box);
    // The percent scale's "  0" sits at (5, 321) of a 640 x 360 control: here at (10, 642).
    auto labelPixels = [&](int y0) {
        int n = 0;
        for (int y = y0; y < y0 + box.fontMetrics().height(); ++y)
            for (int x = 0; x < 80; ++x) {
                const QColor c = image.pixelColor(x, y);
                n += c.green() > 200 && c.blue() > 200 && c.red() < 180;
            }
        return n;
    };
    EXPECT_GT(labelPixels(642), 5);
    EXPECT_EQ(labelPixels(321 - box.fontMetrics().height() - 2), 0);
}

TEST_F(PreviewBoxTest, TallyBorderColoursAndWidth) {
    Show(1920, 1080, 16.0f / 9.0f);
    const int pen = TallyPenWidth(360);
    ASSERT_EQ(pen, 5);
    struct Case {
        TallyState state;
        QColor colour;
        const char* description;
    };
    for (const Case& c : {Case{TallyState::Program, QColor(255, 0, 0), "program tally"},
                          Case{TallyState::Preview, QColor(0, 255, 0), "preview tally"}}) {
        box.setTallyState(c.state);
        const QImage image = Render(box);
        for (const QPoint p : {QPoint(0, 180), QPoint(pen - 1, 180), QPoint(639, 180),
                               QPoint(320, 0), QPoint(320, 359 - pen + 1)}) {
            EXPECT_EQ(image.pixelColor(p), c.colour)
                << c.description << " at " << p.x() << "," << p.y();
        }
        EXPECT_EQ(image.pixelColor(pen, 180), kWhite) << c.description;
        EXPECT_EQ(AccessibleDescription(&box), QString::fromLatin1(c.description));
    }
    box.setTallyState(TallyState::None);
    EXPECT_EQ(Render(box).pixelColor(0, 180), kWhite);
}

TEST_F(PreviewBoxTest, ClicksAndTheGraticuleToggle) {
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QSignalSpy at(&box, &VidBox::clickedAt);
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(100, 300));
    ASSERT_EQ(at.count(), 1);
    EXPECT_EQ(at[0][0].toPoint(), QPoint(100, 300));

    struct Case {
        bool enabled;
        int waveform;
        int x;
        int graticuleAfter;  // from 1
    };
    const Case cases[] = {{true, 1, 49, 0}, {true, 1, 50, 1}, {false, 1, 10, 1}, {true, 0, 10, 1}};
    for (const Case& c : cases) {
        renderer.graticuleType = 1;
        renderer.waveformOn = c.waveform;
        box.setGraticuleClickEnabled(c.enabled);
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(c.x, 100));
        EXPECT_EQ(renderer.graticuleType.load(), c.graticuleAfter) << c.x << " " << c.enabled;
    }
    EXPECT_EQ(AccessibleName(&box), QStringLiteral("Preview"));
}

TEST_F(PreviewBoxTest, DroppedFilesAreAnnouncedOncePerDrop) {
    QSignalSpy dropped(&box, &VidBox::filesDropped);
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(&box, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(&box, &event);
        return enter.isAccepted();
    };
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png")),
                      QUrl::fromLocalFile(QStringLiteral("/tmp/b.png"))}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/c.png"))}));
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped[0][0].toStringList(),
              QStringList({QStringLiteral("/tmp/a.png"), QStringLiteral("/tmp/b.png")}));
    EXPECT_EQ(box.dropCount(), 1);
}

}  // namespace
}  // namespace velmor
