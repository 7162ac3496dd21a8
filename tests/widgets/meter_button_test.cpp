// The on-screen PPM meter painted from the meter's shown positions: the colours on either side
// of the 71 % threshold, the overload mark, and what a screen reader reads.
#include "widgets/meter_button.h"

#include <gtest/gtest.h>

#include "audio/ppm_meter.h"
#include "support/qt_widget_helpers.h"

namespace velmor {
namespace {

using testing::AccessibleDescription;
using testing::AccessibleName;
using testing::Render;

class MeterButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        meter.scaleText = 0;  // bars only, so every pixel checked is a bar's
        button.setMeter(&meter);
        button.resize(40, 204);  // area 36 x 200: span 180, the 71 % line 127 above the bottom
    }
    // The colour in the middle of the left bar, `above` pixels above the area's bottom.
    QColor LeftBarAt(const QImage& image, int above) const {
        return image.pixelColor(10, 202 - 1 - above);
    }
    PpmMeter meter;
    PMeterButton button;
};

TEST_F(MeterButtonTest, BarColoursAtTheThreshold) {
    const QColor window = Render(button).pixelColor(10, 100);
    meter.shownLeft = 271;  // just below 272 = 71 % of 384: green all the way
    meter.shownRight = 272;
    QImage image = Render(button);
    EXPECT_EQ(LeftBarAt(image, 0), QColor(5, 170, 0));
    EXPECT_EQ(LeftBarAt(image, 125), QColor(5, 170, 0));
    EXPECT_EQ(LeftBarAt(image, 140), window);  // above the bar's top at 271 * 180 / 384 = 127
    // The right bar at the threshold turns the brighter green; its top reaches the 71 % line.
    EXPECT_EQ(image.pixelColor(30, 202 - 1 - 10), QColor(5, 187, 0));
    EXPECT_EQ(image.pixelColor(30, 202 - 1 - 126), QColor(5, 187, 0));

    // Above it, yellow from the 71 % line up to the bar's top.
    meter.shownLeft = 384;
    image = Render(button);
    EXPECT_EQ(LeftBarAt(image, 179), QColor(205, 204, 0));
    EXPECT_EQ(LeftBarAt(image, 128), QColor(205, 204, 0));
    EXPECT_EQ(LeftBarAt(image, 126), QColor(5, 187, 0));
}

TEST_F(MeterButtonTest, OverloadMarkShowsForItsCountOfRepaints) {
    meter.overloadScreenLeft = 2;
    const QColor red(238, 17, 17);
    EXPECT_EQ(Render(button).pixelColor(10, 5), red);
    EXPECT_EQ(Render(button).pixelColor(10, 5), red);
    EXPECT_NE(Render(button).pixelColor(10, 5), red);
    EXPECT_NE(Render(button).pixelColor(30, 5), red);
}

TEST_F(MeterButtonTest, ScaleTextAndScreenReaderText) {
    const QImage bare = Render(button);
    meter.scaleText = 1;
    EXPECT_TRUE(Render(button) != bare);
    EXPECT_EQ(AccessibleName(&button), QStringLiteral("PPM meter"));
    meter.shownLeft = 192;
    meter.shownRight = 0;
    EXPECT_EQ(AccessibleDescription(&button), QStringLiteral("left 50 %, right 0 %"));
}

}  // namespace
}  // namespace velmor
