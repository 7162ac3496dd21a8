// The status lamps and the monitor level picture: what they show, what a click or a key reports,
// and what a screen reader reads of their colour-only state.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "support/qt_widget_helpers.h"
#include "widgets/level_picture.h"
#include "widgets/status_lamp.h"

namespace velmor {
namespace {

using testing::AccessibleDescription;
using testing::AccessibleName;
using testing::Render;

TEST(StatusLamp, ShowsTheColourAndTellsItsName) {
    StatusLamp lamp(QStringLiteral("Signal lamp"));
    EXPECT_EQ(AccessibleName(&lamp), QStringLiteral("Signal lamp"));
    EXPECT_EQ(AccessibleDescription(&lamp), QStringLiteral("grey"));
    struct Case {
        Lamp lamp;
        const char* name;
        int dominant;  // 0 red, 1 green, 2 blue channel strongest at the centre
    };
    for (const Case& c : {Case{Lamp::Red, "red", 0}, Case{Lamp::Green, "green", 1},
                          Case{Lamp::Blue, "blue", 2}, Case{Lamp::Magenta, "magenta", 0}}) {
        lamp.setLamp(c.lamp);
        EXPECT_EQ(lamp.lamp(), c.lamp);
        EXPECT_EQ(AccessibleDescription(&lamp), QString::fromLatin1(c.name));
        const QColor centre = Render(lamp).pixelColor(8, 8);
        const int channels[3] = {centre.red(), centre.green(), centre.blue()};
        for (int k = 0; k < 3; ++k) {
            if (k != c.dominant) {
                EXPECT_GT(channels[c.dominant], channels[k]) << c.name;
            }
        }
    }
}

TEST(LevelPicture, ClicksAndKeysReportRowsOfTheLevelBands) {
    LevelPicture picture;
    picture.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&picture));
    // The controller reads the level from the row: the picture is exactly as tall as drawn.
    EXPECT_EQ(picture.height(), 24);
    EXPECT_EQ(AccessibleName(&picture), QStringLiteral("Monitor level"));

    QSignalSpy at(&picture, &LevelPicture::clickedAt);
    QTest::mouseClick(&picture, Qt::LeftButton, {}, QPoint(10, 12));
    QTest::mouseClick(&picture, Qt::RightButton, {}, QPoint(10, 12));
    ASSERT_EQ(at.count(), 1);
    EXPECT_EQ(at[0][0].toPoint(), QPoint(10, 12));

    // Keys: from Full, Down is Dim (rows 9-16); Up from Full stays Full (rows 0-8); Space from
    // Mute wraps to Full.
    at.clear();
    QTest::keyClick(&picture, Qt::Key_Down);
    QTest::keyClick(&picture, Qt::Key_Up);
    picture.setLevel(0);
    QTest::keyClick(&picture, Qt::Key_Space);
    ASSERT_EQ(at.count(), 3);
    const int rows[3] = {at[0][0].toPoint().y(), at[1][0].toPoint().y(), at[2][0].toPoint().y()};
    EXPECT_TRUE(rows[0] >= 9 && rows[0] <= 16) << rows[0];
    EXPECT_LE(rows[1], 8);
    EXPECT_LE(rows[2], 8);
}

TEST(LevelPicture, DescriptionNamesTheLevel) {
    LevelPicture picture;
    EXPECT_EQ(AccessibleDescription(&picture), QStringLiteral("Full"));
    const QImage full = Render(picture);
    picture.setLevel(1);
    EXPECT_EQ(AccessibleDescription(&picture), QStringLiteral("Dim"));
    picture.setLevel(0);
    EXPECT_EQ(AccessibleDescription(&picture), QStringLiteral("Mute"));
    EXPECT_TRUE(Render(picture) != full);
    picture.setLevel(7);  // not a level: nothing changes
    EXPECT_EQ(picture.level(), 0);
}

}  // namespace
}  // namespace velmor
