#include "video/key_split.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmor {
namespace {

TEST(KeySplit, AlphaBecomesStudioRangeLuma) {
    // Alpha 0, 255, 128, 1 over two lines with a padded source stride.
    const int W = 2, H = 2;
    const std::vector<uint8_t> bgra = {9, 9, 9, 0,   9, 9, 9, 255, 7, 7,  // padding 2 bytes
                                       9, 9, 9, 128, 9, 9, 9, 1,   7, 7};
    std::vector<uint8_t> key(W * H * 2, 0);
    MakeKeyFromAlpha(bgra.data(), W, H, 10, key.data());
    EXPECT_EQ(key, (std::vector<uint8_t>{0x80, 16, 0x80, 235, 0x80, 16 + 128 * 219 / 255, 0x80,
                                         16 + 219 / 255}));
}

}  // namespace
}  // namespace velmor
