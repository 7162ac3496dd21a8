// The source picker's list driven like a user does: refills never count as a choice, a refill
// while the list is open waits for it to close (and keeps the user's choice), arrow keys on the
// closed box choose, opening and cancelling are reported, and the list fits its longest name.
#include "widgets/source_combo.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QSignalSpy>
#include <QTest>

#include "support/qt_widget_helpers.h"

namespace velmor {
namespace {

using testing::AccessibleName;

const std::vector<std::string> kShown = {"NDI sources available", "HOST (Camera 1)",
                                         "HOST (Camera 2)"};
const std::vector<std::string> kRefill = {"Available NDI sources changed", "HOST (Camera 0)",
                                          "HOST (Camera 1)", "HOST (Camera 2)"};

class SourceComboTest : public ::testing::Test {
protected:
    void SetUp() override {
        combo.resize(240, combo.sizeHint().height());
        combo.SetItems(kShown, 0);
        combo.show();
        combo.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&combo));
    }
    QStringList Items() const {
        QStringList items;
        for (int i = 0; i < combo.count(); ++i)
            items << combo.itemText(i);
        return items;
    }
    void Open() {
        QTest::keyClick(&combo, Qt::Key_F4);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(combo.view()->window()));
    }
    void ClickItem(int row) {
        QWidget* viewport = combo.view()->viewport();
        const QPoint at = combo.view()->visualRect(combo.model()->index(row, 0)).center();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    }
    NDIcombobox combo;
};

TEST_F(SourceComboTest, RefillsAreNeverAChoice) {
    QSignalSpy chosen(&combo, &NDIcombobox::chosen);
    combo.SetItems(kRefill, 2);
    EXPECT_EQ(combo.count(), 4);
    EXPECT_EQ(combo.currentIndex(), 2);
    combo.SetItems({"No NDI sources detected"}, 5);  // out of range: nothing selected
    EXPECT_EQ(combo.currentIndex(), -1);
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_EQ(AccessibleName(&combo), QStringLiteral("NDI Source"));
}

TEST_F(SourceComboTest, ArrowKeysOnTheClosedBoxChoose) {
    QSignalSpy chosen(&combo, &NDIcombobox::chosen);
    QTest::keyClick(&combo, Qt::Key_Down);
    QTest::keyClick(&combo, Qt::Key_Down);
    QTest::keyClick(&combo, Qt::Key_Up);
    ASSERT_EQ(chosen.count(), 3);
    EXPECT_EQ(chosen[0][0].toInt(), 1);
    EXPECT_EQ(chosen[1][0].toInt(), 2);
    EXPECT_EQ(chosen[2][0].toInt(), 1);
}

TEST_F(SourceComboTest, OpeningIsReportedBeforeTheListShowsAndItsRefillIsShown) {
    bool listVisibleAtSignal = true;
    QObject::connect(&combo, &NDIcombobox::dropDownOpened, [&] {
        listVisibleAtSignal = combo.view()->isVisible();
        // The controller disconnects here; the picker puts its header in place at once.
        combo.SetItems({"No source selected", "HOST (Camera 1)", "HOST (Camera 2)"}, 0);
    });
    Open();
    EXPECT_FALSE(listVisibleAtSignal);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("No source selected"));
    EXPECT_FALSE(combo.refillPending());
}

TEST_F(SourceComboTest, RefillWhileOpenWaitsAndKeepsTheChoice) {
    QSignalSpy chosen(&combo, &NDIcombobox::chosen);
    QSignalSpy cancelled(&combo, &NDIcombobox::dropDownCancelled);
    QString textAtChoice;
    QObject::connect(&combo, &NDIcombobox::chosen,
                     [&](int item) { textAtChoice = combo.itemText(item); });
    Open();
    combo.SetItems(kRefill, 0);
    EXPECT_TRUE(combo.refillPending());
    EXPECT_EQ(combo.count(), 3);  // the user still sees the list as it was opened

    ClickItem(2);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen[0][0].toInt(), 2);
    EXPECT_EQ(textAtChoice, QStringLiteral("HOST (Camera 2)"));

    // Once the closing is handled the refill is in, with the chosen source still selected.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !combo.refillPending(); }));
    EXPECT_EQ(combo.count(), 4);
    EXPECT_EQ(combo.currentText(), QStringLiteral("HOST (Camera 2)"));
    EXPECT_EQ(chosen.count(), 1);
    EXPECT_EQ(cancelled.count(), 0);
}

TEST_F(SourceComboTest, ClosingWithoutAChoiceIsACancelAndAppliesTheRefill) {
    QSignalSpy chosen(&combo, &NDIcombobox::chosen);
    QSignalSpy cancelled(&combo, &NDIcombobox::dropDownCancelled);

    // Escape.
    Open();
    combo.SetItems(kRefill, 0);
    QTest::keyClick(combo.view(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cancelled.count() == 1; }));
    EXPECT_TRUE(cancelled[0][0].toBool());
    EXPECT_EQ(combo.count(), 4);
    EXPECT_EQ(combo.currentIndex(), 0);

    // A click outside the list closes the popup without going through hidePopup.
    Open();
    combo.SetItems(kShown, 1);
    QWindow* list = combo.view()->window()->windowHandle();
    QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(-30, -30));
    ASSERT_TRUE(QTest::qWaitFor([&] { return cancelled.count() == 2; }));
    EXPECT_FALSE(combo.view()->isVisible());
    EXPECT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.currentIndex(), 1);
    EXPECT_EQ(chosen.count(), 0);
}

TEST_F(SourceComboTest, TheListIsAsWideAsTheLongestName) {
    const std::string longName =
        "A-VERY-LONG-MACHINE-NAME.studio.example (Main programme output, camera 12)";
    combo.SetItems({"NDI sources available", longName}, 0);
    Open();
    const int text =
        combo.view()->fontMetrics().horizontalAdvance(QString::fromStdString(longName));
    EXPECT_GE(combo.view()->viewport()->width(), text);
    EXPECT_GE(combo.view()->window()->width(), combo.width());
    combo.hidePopup();
}

}  // namespace
}  // namespace velmor
