// The executable carries its icon: every size the desktop asks for is there and drawn.
#include "widgets/app_icon.h"

#include <gtest/gtest.h>

namespace velmor {
namespace {

TEST(AppIcon, CarriesEverySizeFromTheResources) {
    const QIcon icon = AppIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (int n : {16, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(n, n))) << n;
        const QImage image = icon.pixmap(QSize(n, n)).toImage();
        ASSERT_EQ(image.size(), QSize(n, n));
        // Not blank: the mark's orange arrow crosses the middle row.
        bool orange = false;
        for (int x = 0; x < n && !orange; ++x) {
            const QColor c = image.pixelColor(x, n / 2);
            orange = c.red() > 200 && c.green() > 60 && c.blue() < 90;
        }
        EXPECT_TRUE(orange) << n;
    }
}

}  // namespace
}  // namespace velmor
