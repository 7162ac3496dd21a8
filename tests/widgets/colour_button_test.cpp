// The coloured button driven by real mouse and keyboard events: colours per state, the click
// position the stepping buttons read, press state and press notification, right clicks, and what
// a screen reader is told.
#include "widgets/colour_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QSignalSpy>
#include <QTest>

#include "support/qt_widget_helpers.h"

namespace velmor {
namespace {

using testing::AccessibleDescription;
using testing::AccessibleName;
using testing::Render;

class ColourButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        button.resize(100, 30);
        button.show();
        button.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&button));
    }
    CColButton button{QStringLiteral("Rotate 0")};
};

TEST_F(ColourButtonTest, FillsWithTheColourOfEachState) {
    struct Case {
        bool output;
        int state;
        QColor fill;
    };
    const Case cases[] = {
        {false, 1, QColor(0xFC, 0xB8, 0xB8)},
        {false, 2, QColor(0xB8, 0xFC, 0xB8)},
        {false, 3, QColor(0xFC, 0xEC, 0xEC)},
        {false, 4, QColor(0xF0, 0xF0, 0xB8)},
        {false, 5, QColor(0xF0, 0xFC, 0xEC)},
        {true, 1, QColor(0xFC, 0xB8, 0xB8)},
        {true, 2, QColor(0xB8, 0xB8, 0xFC)},
        {true, 3, QColor(0xEC, 0xEC, 0xFC)},
        {false, 0, button.palette().color(QPalette::Button)},
        {false, 9, button.palette().color(QPalette::Button)},  // out of range: no fill
    };
    for (const Case& c : cases) {
        button.setFillColours(c.output ? CColButton::OutputColours()
                                       : CColButton::StandardColours());
        button.setState(c.state);
        const QImage image = Render(button);
        // Inside the frame, left of the centred caption.
        EXPECT_EQ(image.pixelColor(4, 15), c.fill) << "state " << c.state << " output " << c.output;
        EXPECT_EQ(image.pixelColor(95, 5), c.fill) << "state " << c.state << " output " << c.output;
    }
}

TEST_F(ColourButtonTest, ClickReportsTheReleasePositionAndKeysStepForward) {
    QSignalSpy at(&button, &CColButton::clickedAt);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(30, 12));
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(31, 20));
    QTest::keyClick(&button, Qt::Key_Space);
    QTest::keyClick(&button, Qt::Key_Return);
    ASSERT_EQ(at.count(), 4);
    EXPECT_EQ(clicked.count(), 4);
    EXPECT_EQ(at[0][0].toPoint(), QPoint(30, 12));  // x <= 30: the back step
    EXPECT_EQ(at[1][0].toPoint(), QPoint(31, 20));
    EXPECT_GT(at[2][0].toPoint().x(), 30);  // keyboard: forward
    EXPECT_GT(at[3][0].toPoint().x(), 30);

    // A press dragged off the button before release is no click.
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_EQ(at.count(), 4);
}

TEST_F(ColourButtonTest, RightButtonNotifiesOnReleaseOverTheButtonOnly) {
    QSignalSpy right(&button, &CColButton::rightClicked);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mousePress(&button, Qt::RightButton, {}, QPoint(20, 10));
    EXPECT_EQ(right.count(), 0);
    QTest::mouseRelease(&button, Qt::RightButton, {}, QPoint(20, 10));
    EXPECT_EQ(right.count(), 1);
    QTest::mousePress(&button, Qt::RightButton, {}, QPoint(20, 10));
    QTest::mouseRelease(&button, Qt::RightButton, {}, QPoint(20, 80));
    EXPECT_EQ(right.count(), 1);
    EXPECT_EQ(clicked.count(), 0);

    // The menu key (the platform turns it into a keyboard context-menu event) is the keyboard's
    // right click.
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                              button.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&button, &menuKey);
    EXPECT_EQ(right.count(), 2);
}

TEST_F(ColourButtonTest, PressStateAndPressNotificationComeOnButtonDown) {
    QSignalSpy notified(&button, &CColButton::pressNotified);
    QSignalSpy released(&button, &QAbstractButton::released);
    button.setState(2);

    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(button.state(), 2);  // no press state: the state is the handler's business
    EXPECT_EQ(notified.count(), 0);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(10, 10));

    button.setPressState(1);
    button.setNotifyOnPress(true, 1082, 7);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(button.state(), 1);
    ASSERT_EQ(notified.count(), 1);
    EXPECT_EQ(notified[0][0].toInt(), 1082);
    EXPECT_EQ(notified[0][1].toInt(), 7);
    const int releasedBefore = released.count();
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(released.count(), releasedBefore + 1);

    // Held from the keyboard, Temp Bypass works the same way.
    button.setState(2);
    QTest::keyPress(&button, Qt::Key_Space);
    EXPECT_EQ(button.state(), 1);
    EXPECT_EQ(notified.count(), 2);
    QTest::keyRelease(&button, Qt::Key_Space);
    EXPECT_EQ(released.count(), releasedBefore + 2);
}

TEST_F(ColourButtonTest, CopiesOnlyTheColourTables) {
    CColButton from(QStringLiteral("NDI®"));
    from.setFillColours(CColButton::OutputColours());
    from.setTextColours({0, 0, 2, 0, 0, 0}, {Qt::red, Qt::blue, Qt::green, Qt::cyan});
    from.setState(3);
    from.setPressState(1);
    button.setState(2);

    button.CopyColourTable(from);
    EXPECT_EQ(button.fillColours(), CColButton::OutputColours());
    EXPECT_EQ(button.state(), 2);
    EXPECT_EQ(button.pressState(), 0);
    EXPECT_EQ(button.text(), QStringLiteral("Rotate 0"));
    EXPECT_EQ(AccessibleDescription(&button), QStringLiteral("AirSend"));

    // Text colour index 2 of state 2 is blue: the caption is drawn in it.
    const QImage image = Render(button);
    bool blue = false;
    for (int y = 0; y < image.height() && !blue; ++y)
        for (int x = 0; x < image.width() && !blue; ++x)
            blue = image.pixel(x, y) == qRgb(0, 0, 255);
    EXPECT_TRUE(blue);
}

TEST_F(ColourButtonTest, ScreenReadersGetTheCaptionAndTheStateName) {
    EXPECT_EQ(AccessibleName(&button), QStringLiteral("Rotate 0"));
    button.setCaption(QStringLiteral("V-Flip"));
    EXPECT_EQ(AccessibleName(&button), QStringLiteral("V-Flip"));
    EXPECT_EQ(button.text(), QStringLiteral("V-Flip"));
    const char* names[] = {"", "on", "ready", "off", "intermediate", "stored"};
    for (int state = 5; state >= 0; --state) {
        button.setState(state);
        EXPECT_EQ(AccessibleDescription(&button), QString::fromLatin1(names[state]));
    }
}

TEST_F(ColourButtonTest, CaptionMovesWhilePressedAndFocusIsShown) {
    button.setState(2);
    auto inkBox = [](const QImage& image, QRgb fill) {
        QRect box;
        for (int y = 3; y < image.height() - 3; ++y)
            for (int x = 3; x < image.width() - 3; ++x)
                if (qGray(image.pixel(x, y)) < qGray(fill) - 80) box |= QRect(x, y, 1, 1);
        return box;
    };
    const QRgb fill = qRgb(0xB8, 0xFC, 0xB8);
    const QRect up = inkBox(Render(button), fill);
    button.setDown(true);
    const QRect down = inkBox(Render(button), fill);
    button.setDown(false);
    ASSERT_FALSE(up.isEmpty());
    EXPECT_EQ(down, up.translated(1, 1));

    // Like every Qt control under Fusion, the focus rectangle shows once the window has seen
    // keyboard navigation (the Tab key sets this attribute).
    button.clearFocus();
    button.setAttribute(Qt::WA_KeyboardFocusChange);
    const QImage unfocused = Render(button);
    button.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(button.hasFocus());
    EXPECT_TRUE(Render(button) != unfocused);
}

}  // namespace
}  // namespace velmor
