// The proc amp, group settings and PPM Config windows end to end (window_e2e_fixture.h): what the
// operator does in them reaches what velmor-sink receives and what the picker lists.
// VELMOR_SCREENSHOTS=<folder> also saves the windows as they are drawn (from the X server when the
// platform is xcb, as scripts/screenshots.sh runs it).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dialogs/group_settings_dialog.h"
#include "dialogs/meter_config_dialog.h"
#include "dialogs/proc_amp_dialog.h"
#include "support/modal_helpers.h"
#include "support/screenshot.h"
#include "tools/velmor-testsrc/test_pattern.h"
#include "video/proc_amp.h"
#include "window_e2e_fixture.h"

namespace velmor {
namespace {

using testing::ClickNamed;
using testing::FindNamed;
using testing::Screenshot;
using testsrc::TestPattern;
namespace fs = std::filesystem;

constexpr int kW = 320, kH = 180;

// The first frame number from `from` on whose test picture, through `tables` (none: as sent),
// equals `bytes`; -1 when none within two minutes of frames does.
int MatchingFrame(const TestPattern& pattern, const std::vector<uint8_t>& bytes,
                  const ProcAmpByteTables* tables, int from = 0) {
    std::vector<uint8_t> picture;
    for (int n = from; n < from + 3000; ++n) {
        pattern.Render(n, picture);
        if (tables) {
            ApplyProcAmp(FrameView{picture.data(), kW, kH, kW * 2,
                                   static_cast<uint32_t>(NDIlib_FourCC_video_type_UYVY)},
                         *tables);
        }
        if (picture == bytes) return n;
    }
    return -1;
}

class SetupWindows : public testing::WindowE2E {
protected:
    void SetUp() override {
        WindowE2E::SetUp();
        // Preset files are saved in the current folder.
        oldCwd_ = fs::current_path();
        fs::current_path(dir_.path());
    }
    void TearDown() override {
        CloseWindow();
        fs::current_path(oldCwd_);
    }
    bool Relaying() {
        return QTest::qWaitFor(
            [&] { return record().videoThreadAlive != 0 && record().outputFormat.width() == kW; },
            kLimitMs);
    }
    // Every picture is a frame of the test source through `tables` (none: untouched).
    void ExpectFramesOfTheSource(const std::vector<std::vector<uint8_t>>& pictures,
                                 const ProcAmpByteTables* tables) {
        ASSERT_FALSE(pictures.empty());
        const TestPattern pattern(kW, kH, false);
        int from = 0;
        for (const auto& picture : pictures) {
            const int n = MatchingFrame(pattern, picture, tables, from);
            EXPECT_GE(n, 0) << "a picture that is not the source's frame as expected";
            if (n >= 0) from = n;
        }
    }

    fs::path oldCwd_;
};

TEST_F(SetupWindows, ProcAmpChangesTheOutputAndItsPresetFileDoesTheSameInASecondCopy) {
    auto source = Source("PA Cam");
    OpenWindow("PA Cam");
    ASSERT_TRUE(Relaying());

    // The gain -50 table: slope 2224, 16 stays, 100 becomes 198.
    ProcAmpSettings gainMinus50;
    gainMinus50.gain = -50;
    ProcAmpTables expected;
    FullRebuild(expected, gainMinus50);
    ASSERT_EQ(expected.lumaTable[16], 16);
    ASSERT_EQ(expected.lumaTable[100], 198);
    ASSERT_EQ(expected.lumaTable[255], 255);

    auto* procAmpButton = FindNamed<CColButton>(*window_, "Proc Amp");
    ASSERT_NE(procAmpButton, nullptr);
    testing::WhileModal<ProcAmpDialog>(
        [&] { QTest::mouseClick(procAmpButton, Qt::LeftButton); },
        [&](ProcAmpDialog& d) {
            ClickNamed(d, "Apply to o/p");
            auto* gain = FindNamed<QSlider>(d, "Gain");
            gain->setFocus();
            for (int i = 0; i < 100; ++i)
                QTest::keyClick(gain, Qt::Key_Up);  // up to the top: -50
            EXPECT_EQ(record().procAmp.settings.gain, -50);
            ExpectFramesOfTheSource(ReceiveFrames("gain", 3), &expected);

            // Temp Bypass held: the source goes through untouched.
            auto* bypass = FindNamed<CColButton>(d, "Temp Bypass");
            QTest::mousePress(bypass, Qt::LeftButton);
            ExpectFramesOfTheSource(ReceiveFrames("bypass", 3), nullptr);
            QTest::mouseRelease(bypass, Qt::LeftButton);

            // The monitor with its waveform over the source, as the operator sees it.
            ClickNamed(d, "Monitor");
            ClickNamed(d, "WFM");
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return window_->controller().procAmpPreview().AcquireBitmap()->waveform; },
                kLimitMs));
            Screenshot(d, "procamp.png");

            auto* name = FindNamed<QLineEdit>(d, "Preset Name");
            name->setFocus();
            QTest::keyClicks(name, "E2E Lift");
            const testing::BoxShown saved =
                testing::AnswerBox([&] { ClickNamed(d, "Save"); }, QMessageBox::Ok);
            EXPECT_EQ(saved.title, "Save File");
            EXPECT_EQ(saved.text, "E2ELift.pap\n\nPreset file saved");
            ClickNamed(d, "OK");
        });
    EXPECT_EQ(procAmpButton->state(), 1) << "applied to the output";
    EXPECT_EQ(record().procAmp.monitorPreview, 0);
    ASSERT_TRUE(fs::exists(dir_.path() / "E2ELift.pap"));
    CloseWindow();

    // A second copy, with nothing of the first but the preset file.
    fs::remove(dir_.path() / "last.vlm");
    OpenWindow("PA Cam");
    ASSERT_TRUE(Relaying());
    EXPECT_EQ(record().procAmp.settings.gain, 50);
    testing::WhileModal<ProcAmpDialog>(
        [&] { QTest::mouseClick(FindNamed<CColButton>(*window_, "Proc Amp"), Qt::LeftButton); },
        [&](ProcAmpDialog& d) {
            d.pickFile = [&] { return QString::fromStdString(dir_.File("E2ELift.pap")); };
            ClickNamed(d, "Load");
            EXPECT_EQ(FindNamed<QSlider>(d, "Gain")->value(), -50);
            ClickNamed(d, "Apply to o/p");
            ExpectFramesOfTheSource(ReceiveFrames("loaded", 3), &expected);
            ClickNamed(d, "OK");
        });
}

TEST_F(SetupWindows, ADetectionGroupChosenInTheWindowDecidesWhatThePickerLists) {
    auto inGroup = Source("Studio Cam", "uyvy", {"--groups", "Studio A"});
    auto publicOnly = Source("Public Cam");
    OpenWindow("");
    const std::string studio = testing::LocalSourceName("Studio Cam");
    const std::string pub = testing::LocalSourceName("Public Cam");
    auto listed = [&](const std::string& name) {
        const auto& items = window_->controller().model().pickerItems();
        return std::find(items.begin(), items.end(), name) != items.end();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed(pub); }, kLimitMs))
        << ::testing::PrintToString(window_->controller().model().pickerItems());
    EXPECT_FALSE(listed(studio));

    testing::WhileModal<GroupSettingsDialog>(
        [&] { QTest::mouseClick(FindNamed<QPushButton>(*window_, "Groups"), Qt::LeftButton); },
        [&](GroupSettingsDialog& d) {
            QLineEdit* extra = nullptr;
            for (QGroupBox* box : d.findChildren<QGroupBox*>()) {
                if (box->title() == "Source detection") extra = box->findChild<QLineEdit*>();
            }
            ASSERT_NE(extra, nullptr);
            extra->setFocus();
            QTest::keyClicks(extra, "Studio A");
            QTest::keyClick(extra, Qt::Key_Tab);
            Screenshot(d, "group-settings.png");
            ClickNamed(d, "OK");
        });
    EXPECT_STREQ(record().groupSetup.receiveGroups, "Studio A");
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed(studio) && !listed(pub); }, kLimitMs));
}

TEST_F(SetupWindows, PpmConfigWithBothOutputsOffSwitchesTheOverlayOff) {
    OpenWindow("");
    RelayRecord& r = record();
    r.meterSettings.meterOnMainOutput = 1;
    auto* ppm = FindNamed<CColButton>(*window_, "PPM overlay");
    ASSERT_NE(ppm, nullptr);
    QTest::mouseClick(ppm, Qt::LeftButton);
    ASSERT_EQ(r.ppmOverlayOn, 1);
    testing::WhileModal<MeterConfigDialog>(
        [&] { QTest::mouseClick(ppm, Qt::RightButton); },
        [&](MeterConfigDialog& d) {
            EXPECT_NE(FindNamed(d, "+10,+10"), nullptr);
            Screenshot(d, "ppm-config.png");
            auto* onMain = FindNamed<QCheckBox>(d, "Meter overlay on main Velmor o/p");
            QTest::mouseClick(onMain, Qt::LeftButton, {}, QPoint(6, onMain->height() / 2));
            ClickNamed(d, "OK");
        });
    EXPECT_EQ(r.meterSettings.meterOnMainOutput, 0);
    EXPECT_EQ(r.ppmOverlayOn, 0);
    EXPECT_EQ(ppm->state(), 0);
}

}  // namespace
}  // namespace velmor
