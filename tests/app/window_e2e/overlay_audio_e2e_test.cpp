// The overlay and audio map windows end to end (window_e2e_fixture.h): operated as an operator
// would, with what arrives at velmor-sink checked by pixel values and tone frequencies.
#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "dialogs/audio_map_dialog.h"
#include "dialogs/overlay_setup_dialog.h"
#include "support/modal_helpers.h"
#include "support/wav_reading.h"
#include "tools/velmor-testsrc/test_pattern.h"
#include "window_e2e_fixture.h"

namespace velmor {
namespace {

using testing::ClickNamed;
using testing::RunModal;
using testsrc::TestPattern;

constexpr int kW = 320, kH = 180;

struct Rect {
    int x, y, w, h;
    bool Contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// The number of the source frame that `bytes` (BGRA) shows everywhere outside `r`, or -1.
int FrameOutside(const TestPattern& pattern, const std::vector<uint8_t>& bytes, const Rect& r) {
    std::vector<uint8_t> picture;
    for (int n = 0; n < 3000; ++n) {
        pattern.Render(n, picture);
        if (picture.size() != bytes.size()) return -1;
        bool same = true;
        for (int y = 0; y < kH && same; ++y) {
            const size_t row = static_cast<size_t>(y) * kW * 4;
            if (y < r.y || y >= r.y + r.h) {
                same = std::memcmp(&picture[row], &bytes[row], kW * 4) == 0;
            } else {
                same = std::memcmp(&picture[row], &bytes[row], r.x * 4) == 0 &&
                       std::memcmp(&picture[row + (r.x + r.w) * 4], &bytes[row + (r.x + r.w) * 4],
                                   (kW - r.x - r.w) * 4) == 0;
            }
        }
        if (same) return n;
    }
    return -1;
}

class WindowRelay : public testing::WindowE2E {
protected:
    // The test source, then the window relaying it; returns once video and audio flow.
    void StartRelay(const std::string& name, bool bgra) {
        src_ = Source(name, bgra ? "bgra" : "uyvy");
        OpenWindow(name);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return record().videoFormatSeen && record().audioChannelCount == 2 &&
                       record().outputFormat.width() == kW;
            },
            20000))
            << src_->Output();
    }
    // Loads `path` in the overlay window, places it and switches it on.
    void ShowOverlay(const std::string& path, int x, int y, bool lowerRight) {
        RunModal<OLSetup>(MainButton("Overlay"), [&](OLSetup& setup) {
            setup.chooseFile = [&](const FileWindowRequest&) { return path; };
            ClickNamed(setup, "Load Overlay");
            ASSERT_TRUE(QTest::qWaitFor([&] { return !setup.editor().busy(); }));
            for (auto* spin : setup.findChildren<QSpinBox*>())
                spin->setValue(testing::AccessibleName(spin) == "X Offset" ? x : y);
            for (QWidget* w : setup.findChildren<QWidget*>()) {
                if (testing::AccessibleName(w) != "Thumbnail") continue;
                QTest::mouseClick(
                    w, Qt::LeftButton, {},
                    lowerRight ? QPoint(w->width() - 3, w->height() - 3) : QPoint(3, 3));
            }
            ClickNamed(setup, "On/Off");
            ClickNamed(setup, "OK");
        });
    }

    std::unique_ptr<test::Process> src_;
    testing::BoxAnswerer boxes_;
};

TEST_F(WindowRelay, APictureWithAlphaIsBlendedAtTheChosenCornerUntilCancel) {
    StartRelay("Overlay picture", true);
    // 40 x 20, alpha rising across it (0 on the left), colour changing down it.
    QImage logo(40, 20, QImage::Format_ARGB32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            logo.setPixelColor(x, y, QColor(200, y * 12, 90, x * 6));
    const std::string path = dir_.File("logo.png");
    ASSERT_TRUE(logo.save(QString::fromStdString(path)));
    ShowOverlay(path, 12, 8, true);
    EXPECT_TRUE(boxes_.seen.empty()) << "one picture, no question";

    const TestPattern pattern(kW, kH, true);
    // Lower right, 12 from the right edge and 8 from the bottom.
    const Rect at{kW - 40 - 12, kH - 20 - 8, 40, 20};
    const auto frames = ReceiveFrames("picture", 3);
    ASSERT_EQ(frames.size(), 3u);
    std::vector<uint8_t> source;
    for (const auto& frame : frames) {
        const int n = FrameOutside(pattern, frame, at);
        ASSERT_GE(n, 0) << "outside the picture the frame is the source's";
        pattern.Render(n, source);
        int wrong = 0;
        for (int y = 0; y < at.h; ++y) {
            for (int x = 0; x < at.w; ++x) {
                const size_t i = (static_cast<size_t>(at.y + y) * kW + at.x + x) * 4;
                const QColor p = logo.pixelColor(x, y);
                const int a = p.alpha();
                const int picture[3] = {p.blue(), p.green(), p.red()};
                for (int c = 0; c < 3; ++c)
                    wrong += frame[i + c] != (picture[c] * a + source[i + c] * (255 - a)) / 255;
                wrong += frame[i + 3] != 255 - ((255 - source[i + 3]) * (255 - a)) / 255;
            }
        }
        EXPECT_EQ(wrong, 0) << "frame " << n;
    }

    // Cancel takes the overlay off the output.
    RunModal<OLSetup>(MainButton("Overlay"), [](OLSetup& setup) { ClickNamed(setup, "Cancel"); });
    for (const auto& frame : ReceiveFrames("cancelled", 2))
        EXPECT_GE(FrameOutside(pattern, frame, Rect{0, 0, 0, 0}), 0) << "the source unchanged";
}

TEST_F(WindowRelay, ASequenceShowsOnePictureAfterTheOtherOnConsecutiveFrames) {
    StartRelay("Overlay sequence", true);
    for (int i = 1; i <= 3; ++i) {
        QImage member(16, 16, QImage::Format_ARGB32);
        member.fill(QColor(i * 60, 0, 0, 255));
        ASSERT_TRUE(
            member.save(QString::fromStdString(dir_.File("seq0" + std::to_string(i) + ".png"))));
    }
    ShowOverlay(dir_.File("seq01.png"), 0, 0, false);
    ASSERT_EQ(boxes_.seen.size(), 2u);
    EXPECT_EQ(boxes_.seen[1].text, "Final image number 3\n\nSequence length = 3");

    const TestPattern pattern(kW, kH, true);
    const Rect at{0, 0, 16, 16};
    int checked = 0;
    int lastN = -10, lastPicture = -1;
    std::vector<int> seen(4, 0);
    for (const auto& frame : ReceiveFrames("sequence", 16)) {
        const int n = FrameOutside(pattern, frame, at);
        ASSERT_GE(n, 0);
        const int picture = frame[2] / 60;  // red of the top-left pixel: 1, 2 or 3
        ASSERT_TRUE(picture >= 1 && picture <= 3) << int(frame[2]);
        ++seen[static_cast<size_t>(picture)];
        if (n == lastN + 1) {  // consecutive source frames, both relayed
            EXPECT_EQ(picture, lastPicture % 3 + 1) << "frame " << n;
            ++checked;
        }
        lastN = n;
        lastPicture = picture;
    }
    EXPECT_GE(checked, 8);
    EXPECT_GT(seen[1] * seen[2] * seen[3], 0) << "all three pictures were shown";
}

TEST_F(WindowRelay, ATypedTextBoxShowsAtTheBottomCentre) {
    StartRelay("Overlay text", true);
    RunModal<OLSetup>(MainButton("Overlay"), [&](OLSetup& setup) {
        QLineEdit* edit = setup.findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        QTest::keyClicks(edit, "ON AIR");
        ClickNamed(setup, "Text Box");
        ClickNamed(setup, "On/Off");
        ClickNamed(setup, "OK");
    });
    // The band: 280 x 30, centred across, its bottom 15 lines above the frame's bottom.
    const Rect band{20, 135, 280, 30};
    const TestPattern pattern(kW, kH, true);
    std::vector<uint8_t> source;
    for (const auto& frame : ReceiveFrames("text", 2)) {
        const int n = FrameOutside(pattern, frame, band);
        ASSERT_GE(n, 0) << "only the band differs from the source";
        pattern.Render(n, source);
        // The band's corner is background: black at alpha 175.
        const size_t corner = (static_cast<size_t>(band.y) * kW + band.x) * 4;
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(frame[corner + c], source[corner + c] * (255 - 175) / 255);
        int white = 0;
        for (int y = band.y; y < band.y + band.h; ++y)
            for (int x = 140; x < 180; ++x)
                white += frame[(static_cast<size_t>(y) * kW + x) * 4] == 255;
        EXPECT_GT(white, 20) << "the text is white";
    }
}

TEST_F(WindowRelay, TheAudioMapIsHeardAtOnceAndSentOnUse) {
    StartRelay("Tones", false);  // input 1 is a 250 Hz tone, input 2 a 500 Hz tone, both 0.25
    const std::filesystem::path monitor = dir_.path() / "monitor.wav";
    // The last half second the operator heard, all of it recorded from now on.
    auto monitorLeft = [&] {
        const auto start =
            std::filesystem::exists(monitor) ? std::filesystem::file_size(monitor) : 0;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return std::filesystem::exists(monitor) &&
                       std::filesystem::file_size(monitor) >= start + 30000 * 4;
            },
            10000));
        return testing::WavChannel(testing::ReadBytes(monitor.string()), 2, 0, 2, 24000);
    };
    const std::vector<float> before = monitorLeft();
    EXPECT_NEAR(testing::CrossingsPerSecond(before, 48000), 500.0, 30.0);

    auto routeSwappedAt6dB = [&](NDIAudioMapperDialog& map) {
        QTest::mouseClick(map.radio(0, 1), Qt::LeftButton);  // o/p 1 from input 2
        QTest::mouseClick(map.radio(1, 0), Qt::LeftButton);  // o/p 2 from input 1
        testing::PickFromMenu(map.gainButton(), "\t-6 dB");
    };
    RunModal<NDIAudioMapperDialog>(MainButton("Audio Map"), [&](NDIAudioMapperDialog& map) {
        routeSwappedAt6dB(map);
        // The monitor plays the window's routing at once (its preview gain only raises levels)...
        const std::vector<float> open = monitorLeft();
        EXPECT_NEAR(testing::CrossingsPerSecond(open, 48000), 1000.0, 50.0);
        EXPECT_NEAR(testing::Peak(open) / testing::Peak(before), 1.0, 0.05);
        // ...while the output keeps the live map until "Use".
        Receive("while-open", {"--frames", "40", "--save-audio"});
        const auto wav = testing::ReadBytes(dir_.File("while-open/audio.wav"));
        EXPECT_NEAR(testing::CrossingsPerSecond(wav, 2, 48000, 0), 500.0, 30.0);
        ClickNamed(map, "Use");
    });
    Receive("used", {"--frames", "40", "--save-audio"});
    const auto wav = testing::ReadBytes(dir_.File("used/audio.wav"));
    const std::vector<float> left = testing::WavChannel(wav, 2, 0, 4);
    const std::vector<float> right = testing::WavChannel(wav, 2, 1, 4);
    EXPECT_NEAR(testing::CrossingsPerSecond(left, 48000), 1000.0, 50.0) << "input 2 on output 1";
    EXPECT_NEAR(testing::CrossingsPerSecond(right, 48000), 500.0, 30.0) << "input 1 on output 2";
    EXPECT_NEAR(testing::Peak(left), 0.25 * std::pow(10.0, -6.0 / 20.0), 0.005) << "6 dB down";
    EXPECT_NEAR(testing::Peak(right), 0.25 * std::pow(10.0, -6.0 / 20.0), 0.005);
}

}  // namespace
}  // namespace velmor
