// The overlay and audio map windows opened from the main window's buttons, offscreen: real
// message boxes answered as an operator would, and what the relay record holds once they close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>

#include "app/main_window.h"
#include "dialogs/audio_map_dialog.h"
#include "dialogs/overlay_setup_dialog.h"
#include "support/modal_helpers.h"
#include "support/qt_widget_helpers.h"
#include "support/temp_dir.h"
#include "widgets/colour_button.h"
#include "window_fixture.h"

namespace velmor {
namespace {

using testing::BoxAnswerer;
using testing::ClickNamed;
using testing::RunModal;

class SetupWindows : public testing::WindowTest {
protected:
    template <typename Window>
    void RunWindow(const QString& caption, const std::function<void(Window&)>& inside) {
        RunModal<Window>(MainButton(caption), inside);
    }

    BoxAnswerer boxes_;
};

TEST_F(SetupWindows, TheOverlayWindowAsksAboutASequenceAndReportsItsLength) {
    for (int n : {7, 8, 9}) {
        QImage picture(32, 18, QImage::Format_ARGB32);
        picture.fill(QColor(0, n * 20, 0, 255));
        ASSERT_TRUE(picture.save(
            QString::fromStdString(dir_.File("clip000" + std::to_string(n) + ".png"))));
    }
    RunWindow<OLSetup>("Overlay", [&](OLSetup& setup) {
        setup.chooseFile = [&](const FileWindowRequest&) { return dir_.File("clip0007.png"); };
        ClickNamed(setup, "Load Overlay");
        ASSERT_TRUE(QTest::qWaitFor([&] { return boxes_.seen.size() == 2; }));
        ClickNamed(setup, "On/Off");
        ClickNamed(setup, "OK");
    });
    ASSERT_EQ(boxes_.seen.size(), 2u);
    EXPECT_EQ(boxes_.seen[0].title, "Sequence detection");
    EXPECT_EQ(boxes_.seen[0].text,
              "Sequence exists - ending with:\n\nclip0009.png\n\nLoad 2 more images?");
    EXPECT_EQ(boxes_.seen[1].title, "Sequence detection");
    EXPECT_EQ(boxes_.seen[1].text, "Final image number 9\n\nSequence length = 3");
    const OverlayState& s = record().overlaySetup;
    EXPECT_EQ(s.sequenceMode, 1);
    EXPECT_EQ(PublishedNodes(s).size(), 3u);
    EXPECT_EQ(s.overlayOn, 1);
    EXPECT_EQ(s.dialogOpen, 0);
    EXPECT_EQ(MainButton("Overlay")->state(), 1);

    // Cancel switches it off, and the Overlay button shows it.
    RunWindow<OLSetup>("Overlay", [&](OLSetup& setup) { ClickNamed(setup, "Cancel"); });
    EXPECT_EQ(s.overlayOn, 0);
    EXPECT_EQ(MainButton("Overlay")->state(), 3);
    EXPECT_EQ(PublishedNodes(s).size(), 3u) << "the sequence stays for next time";
}

TEST_F(SetupWindows, TheAudioMapAppliesOnUseAndCancelChangesNothing) {
    RelayRecord& r = record();
    r.audioChannelCount = 2;  // as after a two-channel source's first audio
    const double gainBefore = r.audioGain;
    auto swapAndAttenuate = [&](NDIAudioMapperDialog& map, const QString& close) {
        QTest::mouseClick(map.radio(0, 1), Qt::LeftButton);  // output 1 from input 2
        QTest::mouseClick(map.radio(1, 0), Qt::LeftButton);  // output 2 from input 1
        testing::PickFromMenu(map.gainButton(), "\t-6 dB");
        EXPECT_EQ(r.mapDialogOpen, 1) << "the monitor follows the window while it is open";
        ClickNamed(map, close);
    };
    RunWindow<NDIAudioMapperDialog>("Audio Map", [&](NDIAudioMapperDialog& map) {
        EXPECT_EQ(map.width(), 220);
        swapAndAttenuate(map, "Cancel");
    });
    EXPECT_EQ(r.channelMap[0], 0);
    EXPECT_EQ(r.channelMap[1], 1);
    EXPECT_EQ(r.mapActive, 0);
    EXPECT_EQ(r.audioGain, gainBefore);
    EXPECT_EQ(r.mapDialogOpen, 0);
    EXPECT_EQ(MainButton("Audio Map")->state(), 3);

    RunWindow<NDIAudioMapperDialog>("Audio Map", [&](NDIAudioMapperDialog& map) {
        EXPECT_FALSE(map.radio(0, 1)->isChecked()) << "opened from the live map again";
        swapAndAttenuate(map, "Use");
    });
    EXPECT_EQ(r.channelMap[0], 1);
    EXPECT_EQ(r.channelMap[1], 0);
    EXPECT_EQ(r.settingsRecord.channelMapSetting[0], 1);
    EXPECT_EQ(r.mapActive, 2);
    EXPECT_NEAR(r.audioGain, std::pow(10.0, -6.0 / 20.0), 1e-6);
    EXPECT_EQ(r.settingsRecord.gainItemSetting, 32782);
    EXPECT_EQ(MainButton("Audio Map")->state(), 1);
}

}  // namespace
}  // namespace velmor
