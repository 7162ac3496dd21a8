// The main window clicked and typed at like an operator would, offscreen: what the relay record
// then holds and what the controls show, the message boxes with their exact texts, and the
// accessibility tree that screen readers and desktop automation walk.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "dialogs/sources_found_dialog.h"
#include "support/modal_helpers.h"
#include "support/qt_widget_helpers.h"
#include "support/temp_dir.h"
#include "tools/process.h"
#include "widgets/colour_button.h"
#include "widgets/level_picture.h"
#include "widgets/source_combo.h"
#include "window_fixture.h"

namespace velmor {
namespace {

class Window : public testing::WindowTest {
protected:
    void TearDown() override {
        record().videoThreadAlive = 0;
        record().videoThreadRun = 0;
        WindowTest::TearDown();
    }
};

TEST_F(Window, ClicksChangeTheRecordAndWhatTheControlsShow) {
    // "Rotate 0" clicked in its left part steps back to "V-Flip".
    auto* rotate = Named<CColButton>("Rotate 0");
    ASSERT_NE(rotate, nullptr);
    QTest::mouseClick(rotate, Qt::LeftButton, {}, QPoint(10, rotate->height() / 2));
    EXPECT_EQ(record().rotationMode, 5);
    EXPECT_EQ(rotate->text(), "V-Flip");
    EXPECT_EQ(testing::AccessibleName(rotate), "V-Flip");
    EXPECT_EQ(rotate->state(), 1);

    // "+" at 15 stays 15, "-" at 0 stays 0.
    auto* plus = Named<QPushButton>("+");
    auto* minus = Named<QPushButton>("-");
    ASSERT_TRUE(plus && minus);
    record().audioDelayFrames = 15;
    QTest::mouseClick(plus, Qt::LeftButton);
    EXPECT_EQ(record().audioDelayFrames, 15);
    record().audioDelayFrames = 0;
    QTest::mouseClick(minus, Qt::LeftButton);
    EXPECT_EQ(record().audioDelayFrames, 0);
    EXPECT_TRUE(Named<QLabel>("0") != nullptr) << "the delay counter shows 0";

    // Freeze while disconnected does nothing.
    auto* freeze = Named<CColButton>("Freeze");
    ASSERT_NE(freeze, nullptr);
    QTest::mouseClick(freeze, Qt::LeftButton);
    EXPECT_TRUE(record().freezeState.live());
    EXPECT_EQ(freeze->text(), "Freeze");
    EXPECT_EQ(freeze->state(), 2);

    // The speaker's middle row is Dim.
    auto* level = Named<LevelPicture>("Monitor level");
    ASSERT_NE(level, nullptr);
    QTest::mouseClick(level, Qt::LeftButton, {}, QPoint(level->width() / 2, 12));
    EXPECT_FLOAT_EQ(record().monitorLevel, 0.25f);
    EXPECT_TRUE(Named<QLabel>("Dim") != nullptr);

    // Buttons whose caption changes change their accessible name with it.
    auto* ebu = Named<QPushButton>("EBU o/p");
    ASSERT_NE(ebu, nullptr);
    QTest::mouseClick(ebu, Qt::LeftButton);
    EXPECT_EQ(testing::AccessibleName(ebu), "SMPTE o/p");
    auto* output = Named<CColButton>("NDI®");
    ASSERT_NE(output, nullptr);
    QTest::mouseClick(output, Qt::LeftButton);
    EXPECT_EQ(testing::AccessibleName(output), "AirSend");
    EXPECT_EQ(record().airSendOutput, 1);
}

// Screen readers toggle a check box through its accessible action, which sets the box without a
// click: the record and the finder follow all the same.
TEST_F(Window, ExcludeLocalToggledThroughItsAccessibleActionRestartsDiscovery) {
    auto* box = Named<QCheckBox>("Exclude local");
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(record().excludeLocal, 1);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
    ASSERT_TRUE(a && a->actionInterface());
    a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(record().excludeLocal, 0);
    EXPECT_TRUE(record().picker.finderSettings.show_local_sources);
}

TEST_F(Window, RefusalsAndTheExitConfirmationAreMessageBoxes) {
    record().videoThreadAlive = 1;
    record().videoThreadRun = 1;
    auto* groups = Named<QPushButton>("Groups");
    ASSERT_NE(groups, nullptr);
    const testing::BoxShown refused =
        testing::AnswerBox([&] { QTest::mouseClick(groups, Qt::LeftButton); }, QMessageBox::Cancel);
    EXPECT_EQ(refused.title, "NDI Group setup");
    EXPECT_EQ(refused.text, "You must disconnect the NDI Source first");
    EXPECT_EQ(record().videoThreadRun, 1) << "Cancel changes nothing";

    const testing::BoxShown quit =
        testing::AnswerBox([&] { QTest::mouseClick(Named<QPushButton>("Exit"), Qt::LeftButton); },
                           QMessageBox::Cancel);
    EXPECT_EQ(quit.title, "Quit NDI Velmor");
    EXPECT_EQ(quit.text, "You must disconnect the NDI Source first");

    // Escape and the window's close button ask the same; disconnected, they ask to exit.
    record().videoThreadAlive = 0;
    record().videoThreadRun = 0;
    const testing::BoxShown escape = testing::AnswerBox(
        [&] { QTest::keyClick(window_.get(), Qt::Key_Escape); }, QMessageBox::Cancel);
    EXPECT_EQ(escape.text, "OK to exit?");
    const testing::BoxShown close = testing::AnswerBox([&] { window_->close(); }, QMessageBox::Ok);
    EXPECT_EQ(close.text, "OK to exit?");
    EXPECT_EQ(quitCode_, 0);
}

TEST_F(Window, APickerRefillWhileItsListIsOpenDoesNotConnect) {
    auto* picker = Named<NDIcombobox>("NDI Source");
    ASSERT_NE(picker, nullptr);
    picker->showPopup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return picker->view()->isVisible(); }));
    window_->controller().model().SetPicker({"NDI sources available", "HOST (A)", "HOST (B)"}, 0);
    EXPECT_TRUE(picker->refillPending());
    picker->hidePopup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !picker->refillPending(); }));
    EXPECT_EQ(picker->count(), 3);
    EXPECT_FALSE(window_->controller().engine()->IsConnected());
    EXPECT_EQ(record().mainReceiver.load(), nullptr);
}

TEST_F(Window, TheTimeMessageShowsOnThePreview) {
    window_->controller().bridge().ShowTime(3600 + 2 * 60 + 5);
    EXPECT_EQ(window_->controller().model().caption(Caption::TimeText), "01:02:05:--");
    EXPECT_TRUE(window_->controller().model().flag(Flag::TimeTextShown));
}

TEST_F(Window, StatsOpensTheSourcesWindowWithEveryProbedSource) {
    const std::vector<std::string> env = {"VELMOR_NDI_DIR=" + testing::NdiDir()};
    test::Process key(VELMOR_TESTSRC,
                      {"--name", "Key", "--size", "320x180", "--rate", "25/1", "--format", "bgra",
                       "--audio-channels", "0", "--seconds", "120"},
                      env);
    test::Process fields(VELMOR_TESTSRC,
                         {"--name", "Fields", "--size", "720x576", "--rate", "25/1", "--interlaced",
                          "--seconds", "120"},
                         env);
    // Sources of this machine show with "Exclude local" off; the picker lists both first, so
    // the window's first scan takes both.
    QTest::mouseClick(Named<QCheckBox>("Exclude local"), Qt::LeftButton);
    ASSERT_EQ(record().excludeLocal, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window_->controller().model().pickerItems().size() == 3; }, 20000))
        << ::testing::PrintToString(window_->controller().model().pickerItems());

    QTest::mouseClick(Named<QPushButton>("Stats"), Qt::LeftButton);
    QPointer<NDIlistDialog> sources = window_->sourcesWindow();
    ASSERT_FALSE(sources.isNull());
    EXPECT_TRUE(sources->isVisible());
    EXPECT_TRUE(sources->isWindow());
    EXPECT_EQ(sources->parentWidget(), nullptr) << "a window of its own";
    EXPECT_EQ(sources->windowTitle(), QString::fromUtf8("NDI\u00ae Sources Found"));

    auto row = [&](const QString& name) -> QTreeWidgetItem* {
        for (int i = 0; i < sources->list()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = sources->list()->topLevelItem(i);
            if (item->text(kColumnName).endsWith("(" + name + ")")) return item;
        }
        return nullptr;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return row("Key") && row("Fields") && !row("Key")->text(kColumnResolution).isEmpty() &&
                   !row("Fields")->text(kColumnAudio).isEmpty();
        },
        20000));
    const QStringList keyCells = {"320 x 180", "25.00p", "1.78:1", "+Alpha", ""};
    const QStringList fieldCells = {"720 x 576", "50.00i", "1.25:1", "", "2 Ch - 48.0 KHz"};
    for (int c = kColumnResolution; c <= kColumnAudio; ++c) {
        EXPECT_EQ(row("Key")->text(c), keyCells[c - 1]) << c;
        EXPECT_EQ(row("Fields")->text(c), fieldCells[c - 1]) << c;
    }
    EXPECT_TRUE(row("Key")->text(kColumnAddress).startsWith("127.0.0.1:"));

    // Menu 256 shows the same window again.
    sources->hide();
    window_->commands().MenuCommand(kMenuSourceStats);
    EXPECT_EQ(window_->sourcesWindow(), sources.data());
    EXPECT_TRUE(sources->isVisible());

    // Closed, it is gone, and "Stats" makes a new one.
    sources->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sources.isNull(); }));
    EXPECT_EQ(window_->sourcesWindow(), nullptr);
    QTest::mouseClick(Named<QPushButton>("Stats"), Qt::LeftButton);
    ASSERT_NE(window_->sourcesWindow(), nullptr);
    EXPECT_TRUE(window_->sourcesWindow()->isVisible());
}

// Every control of the main window is found in the accessibility tree by its caption.
TEST_F(Window, TheAccessibilityTreeNamesEveryControl) {
    QSet<QString> names;
    QSet<QString> pickers;  // combo boxes by name
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node,
                                                               int depth) {
        if (!node || depth > 40) return;
        names.insert(node->text(QAccessible::Name));
        if (node->role() == QAccessible::ComboBox) pickers.insert(node->text(QAccessible::Name));
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(window_.get()), 0);
    const QStringList captions = {
        "Exit",
        "NDI Source",
        "Video signal type",
        "Audio signal type",
        "Freeze",
        "Freeze lamp",
        "Overlay",
        "PPM overlay",
        "FrameGrab F12",
        "EBU o/p",
        "Disconnect",
        "Signal lamp",
        "PPM meter",
        "Monitor level",
        "Full",
        "Exclude local",
        "Preview",
        "Extra IP",
        "+",
        "-",
        "0",
        "Audio Delay",
        "Audio Map",
        "NDI®",
        "Rotate 0",
        "De-Int OFF",
        "Proc Amp",
        "Stats",
        "Groups",
        "ndi.video",
    };
    for (const QString& caption : captions)
        EXPECT_TRUE(names.contains(caption)) << caption.toStdString();
    EXPECT_TRUE(pickers.contains("NDI Source")) << "the picker is named by its caption";
}

}  // namespace
}  // namespace velmor
