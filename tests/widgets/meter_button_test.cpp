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
        button.setScaleText(false);  // bars only, so every pixel checked is a bar's
        button.setMeter(&meter);
        button.resize(40, 204);  // area 36 x 200: span 180, the 71 % line 127 above the bottom
    }
    // Blocks of these integer levels, then one tick of the on-screen bars: they rise at once.
    void Show(int left, int right) {
        meter.ballistics().SetLevels(left, right, 0.0f, 0.0f, {});
        meter.ballistics().TickScreen(false);
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
    Show(2561, 3276);  // positions 256, below 272 = 71 % of 384 (green all the way), and 272
    ASSERT_EQ(meter.shownLeft(), 256);
    ASSERT_EQ(meter.shownRight(), 272);
    QImage image = Render(button);
    EXPECT_EQ(LeftBarAt(image, 0), QColor(5, 170, 0));
    EXPECT_EQ(LeftBarAt(image, 119), QColor(5, 170, 0));
    EXPECT_EQ(LeftBarAt(image, 140), window);  // above the bar's top at 256 * 180 / 384 = 120
    // The right bar at the threshold turns the brighter green; its top reaches the 71 % line.
    EXPECT_EQ(image.pixelColor(30, 202 - 1 - 10), QColor(5, 187, 0));
    EXPECT_EQ(image.pixelColor(30, 202 - 1 - 126), QColor(5, 187, 0));

    // Above it, yellow from the 71 % line up to the bar's top.
    Show(32768, 3276);  // 384
    image = Render(button);
    EXPECT_EQ(LeftBarAt(image, 179), QColor(205, 204, 0));
    EXPECT_EQ(LeftBarAt(image, 128), QColor(205, 204, 0));
    EXPECT_EQ(LeftBarAt(image, 126), QColor(5, 187, 0));
}

TEST_F(MeterButtonTest, OverloadMarkShowsForItsCountOfRepaints) {
    Show(40000, 0);  // an overload on the left: 12 repaints
    const QColor red(238, 17, 17);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(Render(button).pixelColor(10, 5), red) << i;
    EXPECT_NE(Render(button).pixelColor(10, 5), red);
    EXPECT_NE(Render(button).pixelColor(30, 5), red);
}

TEST_F(MeterButtonTest, ScaleTextAndScreenReaderText) {
    const QImage bare = Render(button);
    button.setScaleText(true);
    EXPECT_TRUE(Render(button) != bare);
    EXPECT_EQ(AccessibleName(&button), QStringLiteral("PPM meter"));
    Show(1025, 0);  // dB approximation 66: position 96 + 12 x 8 = 192, half the scale
    EXPECT_EQ(AccessibleDescription(&button), QStringLiteral("left 50 %, right 0 %"));
}

}  // namespace
}  // namespace velmor
