#include "video/frame_transforms.h"
#include "video/kernel_level.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace velmor {
namespace {

// A frame whose lines are constant values, for the de-interlacer.
std::vector<uint8_t> Lines(std::initializer_list<int> values, int stride) {
    std::vector<uint8_t> f;
    for (int v : values)
        f.insert(f.end(), stride, static_cast<uint8_t>(v));
    return f;
}

std::vector<int> LineValues(const std::vector<uint8_t>& f, int stride) {
    std::vector<int> out;
    for (size_t i = 0; i < f.size(); i += stride) {
        for (int x = 1; x < stride; ++x)
            EXPECT_EQ(f[i + x], f[i]) << "line " << i / stride;
        out.push_back(f[i]);
    }
    return out;
}

struct DeintCase {
    int mode;
    std::vector<int> in, out;
};

TEST(Deinterlace, ModesOnConstantLines) {
    const DeintCase cases[] = {
        {1, {0, 100, 200}, {50, 100, 200}},
        {1, {10, 20}, {15, 20}},
        {1, {0, 255, 0, 255}, {127, 127, 127, 255}},  // unfiltered values feed each line
        {2, {10, 20, 30, 40}, {10, 20, 30, 30}},
        {2, {10, 20}, {10, 10}},
        {2, {10, 20, 30, 40, 50}, {10, 20, 30, 30, 50}},
        {3, {10, 20, 30, 40}, {20, 20, 30, 40}},
        {3, {10, 20, 30, 40, 50, 60}, {20, 20, 30, 40, 50, 60}},
        {7, {1, 2, 3}, {1, 2, 3}},
    };
    // A stride wider than one processing block checks that the blocks join up.
    for (int stride : {8, 5000}) {
        for (const DeintCase& c : cases) {
            std::vector<uint8_t> f;
            for (int v : c.in)
                f.insert(f.end(), stride, static_cast<uint8_t>(v));
            EXPECT_EQ(
                Deinterlace(c.mode, stride / 2, static_cast<int>(c.in.size()), stride, f.data()),
                1);
            EXPECT_EQ(LineValues(f, stride), c.out) << "mode " << c.mode << " stride " << stride;
        }
    }
}

TEST(Deinterlace, RefusesMissingInputAndKeepsTheFrame) {
    std::vector<uint8_t> f = Lines({1, 2, 3}, 4);
    EXPECT_EQ(Deinterlace(1, 2, 0, 4, f.data()), 0);
    EXPECT_EQ(Deinterlace(1, 0, 3, 4, f.data()), 0);
    EXPECT_EQ(Deinterlace(1, 2, 3, 0, f.data()), 0);
    EXPECT_EQ(Deinterlace(0, 2, 3, 4, f.data()), 0);
    EXPECT_EQ(Deinterlace(1, 2, 3, 4, nullptr), 0);
    EXPECT_EQ(LineValues(f, 4), (std::vector<int>{1, 2, 3}));
    // One line: there is nothing to blend with, and nothing is read beyond it.
    std::vector<uint8_t> one = Lines({9}, 4);
    for (int mode = 1; mode <= 3; ++mode)
        EXPECT_EQ(Deinterlace(mode, 2, 1, 4, one.data()), 1);
    EXPECT_EQ(LineValues(one, 4), (std::vector<int>{9}));
}

TEST(Deinterlace, UsesTheLineStrideNotTheWidth) {
    // Two UYVY pixels per line plus 4 bytes of padding, which is processed alike.
    std::vector<uint8_t> f = Lines({0, 100, 200}, 8);
    ASSERT_EQ(Deinterlace(1, 2, 3, 8, f.data()), 1);
    EXPECT_EQ(LineValues(f, 8), (std::vector<int>{50, 100, 200}));
}

// A UYVY picture whose every byte is distinct: U = 100 + pixel pair id, Y = pixel id, V = 200 + id.
std::vector<uint8_t> NumberedUYVY(int w, int h) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (int y = 0; y < h; ++y) {
        for (int m = 0; m < w / 2; ++m) {
            uint8_t* p = &f[(static_cast<size_t>(y) * w / 2 + m) * 4];
            p[0] = static_cast<uint8_t>(10 * y + 2 * m);  // U
            p[1] = static_cast<uint8_t>(y * w + 2 * m);   // Y0
            p[2] = static_cast<uint8_t>(10 * y + 2 * m + 100);
            p[3] = static_cast<uint8_t>(y * w + 2 * m + 1);  // Y1
        }
    }
    return f;
}

uint8_t LumaAt(const uint8_t* f, int w, int x, int y) {
    return f[(static_cast<size_t>(y) * w + x) * 2 + 1];
}

TEST(RotateUYVY, QuarterTurnsOfA4x2Picture) {
    const std::vector<uint8_t> src = NumberedUYVY(4, 2);
    ImageBuffer out;
    ASSERT_TRUE(RotateUYVY(1, 4, 2, src.data(), out));
    EXPECT_EQ(out.width, 2);
    EXPECT_EQ(out.height, 4);
    EXPECT_EQ(out.pixelKind, kPixelUYVY);
    EXPECT_EQ(out.bitsPerPixel, 16);
    EXPECT_EQ(out.byteSize, 16);
    // Row 0 is source column 3 read downwards, row 3 is source column 0; chroma averaged.
    const uint8_t* o = out.pixels();
    const std::array<uint8_t, 16> want = {
        7, 3, 107, 7,  // row 0: U=(2+12)>>1, Y of (3,0), V, Y of (3,1)
        7, 2, 107, 6,  // row 1: column 2
        5, 1, 105, 5,  // row 2: column 1, macropixel 0
        5, 0, 105, 4,  // row 3: column 0
    };
    EXPECT_TRUE(std::equal(want.begin(), want.end(), o));

    ASSERT_TRUE(RotateUYVY(2, 4, 2, src.data(), out));
    const std::array<uint8_t, 16> want2 = {
        5, 4, 105, 0,  // row 0: column 0 read upwards
        5, 5, 105, 1,  // row 1: column 1
        7, 6, 107, 2,  // row 2
        7, 7, 107, 3,  // row 3
    };
    EXPECT_TRUE(std::equal(want2.begin(), want2.end(), out.pixels()));
}

TEST(RotateUYVY, LumaLandsWhereTheTurnPutsIt) {
    const int W = 6, H = 4;
    const std::vector<uint8_t> src = NumberedUYVY(W, H);
    ImageBuffer out;
    ASSERT_TRUE(RotateUYVY(1, W, H, src.data(), out));
    for (int y = 0; y < W; ++y) {
        for (int x = 0; x < H; ++x) {
            EXPECT_EQ(LumaAt(out.pixels(), H, x, y), LumaAt(src.data(), W, W - 1 - y, x));
        }
    }
    // The top-left pixel ends at the bottom-left corner.
    EXPECT_EQ(LumaAt(out.pixels(), H, 0, W - 1), LumaAt(src.data(), W, 0, 0));
    ASSERT_TRUE(RotateUYVY(2, W, H, src.data(), out));
    for (int y = 0; y < W; ++y) {
        for (int x = 0; x < H; ++x) {
            EXPECT_EQ(LumaAt(out.pixels(), H, x, y), LumaAt(src.data(), W, y, H - 1 - x));
        }
    }
}

TEST(RotateUYVY, EverySizeAroundTheBlockSize) {
    // Blocks of 4 macropixel columns by 4 row pairs, plus leftovers in every combination; checked
    // against the pixel mapping and the chroma averages directly.
    for (int W : {2, 8, 10, 18}) {
        for (int H : {2, 8, 10, 14}) {
            std::vector<uint8_t> src = NumberedUYVY(W, H);
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = static_cast<uint8_t>(src[i] * 7 + i);
            ImageBuffer out;
            for (int direction : {1, 2}) {
                ASSERT_TRUE(RotateUYVY(direction, W, H, src.data(), out));
                for (int y = 0; y < W; ++y) {
                    for (int x = 0; x < H; ++x) {
                        const int sx = direction == 1 ? W - 1 - y : y;
                        const int sy = direction == 1 ? x : H - 1 - x;
                        ASSERT_EQ(LumaAt(out.pixels(), H, x, y), LumaAt(src.data(), W, sx, sy))
                            << W << "x" << H << " dir " << direction << " at " << x << "," << y;
                        const uint8_t* a = &src[((sy & ~1) * W / 2 + sx / 2) * 4];
                        const uint8_t* b = a + W * 2;
                        const uint8_t* o = out.pixels() + (y * H / 2 + x / 2) * 4;
                        ASSERT_EQ(o[0], (a[0] + b[0]) >> 1);
                        ASSERT_EQ(o[2], (a[2] + b[2]) >> 1);
                    }
                }
            }
        }
    }
}

TEST(RotateUYVY, OddSidesRepeatTheLastColumnOrRowAndLeaveNothingStale) {
    // Source sides of every parity: the output is H wide and W high.
    for (int W : {1, 2, 3, 5, 9}) {
        for (int H : {1, 2, 3, 7}) {
            // Packed rows of 2 x W bytes, none of them 0xEE.
            std::vector<uint8_t> src(static_cast<size_t>(W) * H * 2);
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = static_cast<uint8_t>(i % 200);
            for (int direction : {1, 2}) {
                SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H) + " dir " +
                             std::to_string(direction));
                ImageBuffer out;
                ASSERT_TRUE(out.Reshape(H, W, kPixelUYVY));
                std::memset(out.pixels(), 0xEE, static_cast<size_t>(out.byteSize));
                ASSERT_TRUE(RotateUYVY(direction, W, H, src.data(), out));
                const uint8_t* o = out.pixels();
                const int64_t stride = int64_t{H} * 2;
                for (int i = 0; i < out.byteSize; ++i)
                    ASSERT_NE(o[i], 0xEE) << "stale byte " << i;
                if (H % 2 && H > 1) {
                    for (int y = 0; y < W - W % 2; ++y) {
                        const uint8_t* row = o + y * stride;
                        EXPECT_EQ(row[2 * (H - 1)], row[2 * (H - 1) - 4]) << "U, row " << y;
                        EXPECT_EQ(row[2 * (H - 1) + 1], row[2 * (H - 1) - 1]) << "Y, row " << y;
                    }
                }
                if (W % 2 && W > 1) {
                    EXPECT_EQ(0, std::memcmp(o + (W - 1) * stride, o + (W - 2) * stride,
                                             static_cast<size_t>(stride)));
                }
            }
        }
    }
}

std::vector<uint32_t> NumberedRGBA(int w, int h) {
    std::vector<uint32_t> f(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = 0x01000000u * static_cast<uint32_t>(i) + i;
    return f;
}

TEST(RotateRGBA, BothDirectionsAndBufferReuse) {
    const int W = 5, H = 3;  // odd sizes are fine for BGRA
    const std::vector<uint32_t> src = NumberedRGBA(W, H);
    const auto* bytes = reinterpret_cast<const uint8_t*>(src.data());
    ImageBuffer out;
    ASSERT_TRUE(RotateRGBA(1, W, H, bytes, out));
    EXPECT_EQ(out.width, H);
    EXPECT_EQ(out.height, W);
    EXPECT_EQ(out.pixelKind, kPixelBGRA);
    const uint8_t* first = out.pixels();
    auto at = [&](int x, int y) {
        uint32_t v;
        std::memcpy(&v, out.pixels() + (y * H + x) * 4, 4);
        return v;
    };
    for (int y = 0; y < W; ++y) {
        for (int x = 0; x < H; ++x)
            EXPECT_EQ(at(x, y), src[(H - 1 - x) * W + y]);
    }
    EXPECT_EQ(at(H - 1, 0), src[0]);  // top-left goes to the top-right corner
    ASSERT_TRUE(RotateRGBA(3, W, H, bytes, out));
    EXPECT_EQ(out.pixels(), first) << "same byte size: the buffer is reused";
    for (int y = 0; y < W; ++y) {
        for (int x = 0; x < H; ++x)
            EXPECT_EQ(at(x, y), src[x * W + (W - 1 - y)]);
    }
}

TEST(RotateRGBA, EverySizeAroundTheBlockSize) {
    // 4 x 4 blocks plus leftover columns and rows in every combination.
    for (int W : {1, 4, 7, 8, 9, 13}) {
        for (int H : {1, 3, 4, 6, 8, 11}) {
            const std::vector<uint32_t> src = NumberedRGBA(W, H);
            const auto* bytes = reinterpret_cast<const uint8_t*>(src.data());
            ImageBuffer out;
            for (int direction : {1, 3}) {
                ASSERT_TRUE(RotateRGBA(direction, W, H, bytes, out));
                for (int y = 0; y < W; ++y) {
                    for (int x = 0; x < H; ++x) {
                        uint32_t v;
                        std::memcpy(&v, out.pixels() + (y * H + x) * 4, 4);
                        const uint32_t want =
                            direction == 1 ? src[(H - 1 - x) * W + y] : src[x * W + (W - 1 - y)];
                        ASSERT_EQ(v, want) << W << "x" << H << " dir " << direction;
                    }
                }
            }
        }
    }
}

TEST(RotateRGBA, PaddedSourceStride) {
    const int W = 2, H = 2;
    const uint32_t padded[] = {1, 2, 0xdead, 3, 4, 0xbeef};
    ImageBuffer out;
    ASSERT_TRUE(RotateRGBA(1, W, H, reinterpret_cast<const uint8_t*>(padded), out, 12));
    uint32_t got[4];
    std::memcpy(got, out.pixels(), 16);
    EXPECT_EQ(got[0], 3u);
    EXPECT_EQ(got[1], 1u);
    EXPECT_EQ(got[2], 4u);
    EXPECT_EQ(got[3], 2u);
}

// Quarter turns written out per output pixel, for random pictures with padded rows.
std::vector<uint8_t> ReferenceTurn(bool uyvy, int direction, int W, int H, const uint8_t* src,
                                   int stride) {
    std::vector<uint8_t> out(static_cast<size_t>(W) * H * (uyvy ? 2 : 4));
    for (int y = 0; y < W; ++y) {      // output rows
        for (int x = 0; x < H; ++x) {  // output columns
            if (!uyvy) {
                const int sx = direction == 1 ? y : W - 1 - y;
                const int sy = direction == 1 ? H - 1 - x : x;
                std::memcpy(&out[(static_cast<size_t>(y) * H + x) * 4], src + sy * stride + sx * 4,
                            4);
                continue;
            }
            const int sx = direction == 1 ? W - 1 - y : y;
            const int sy = direction == 1 ? x : H - 1 - x;
            const uint8_t* a = src + (sy & ~1) * stride + (sx / 2) * 4;  // chroma of the 2 x 2
            uint8_t* o = &out[(static_cast<size_t>(y) * H + (x & ~1)) * 2];
            o[0] = static_cast<uint8_t>((a[0] + a[stride]) >> 1);
            o[2] = static_cast<uint8_t>((a[2] + a[stride + 2]) >> 1);
            o[1 + 2 * (x & 1)] = src[sy * stride + (sx / 2) * 4 + 1 + 2 * (sx & 1)];
        }
    }
    return out;
}

TEST(QuarterTurns, MatchTheReferenceAtEveryKernelLevel) {
    // Sizes around the 4 and 8 blocks and the cache tiles, in both layouts, with padded rows.
    struct Case {
        bool uyvy;
        int W, H, pad;
    } cases[] = {
        {true, 2, 2, 0},    {true, 18, 14, 4},   {true, 16, 16, 0},  {true, 70, 46, 8},
        {true, 134, 68, 0}, {true, 66, 130, 4},  {false, 1, 1, 0},   {false, 7, 9, 4},
        {false, 8, 8, 0},   {false, 37, 45, 12}, {false, 70, 33, 0}, {false, 131, 67, 4},
    };
    uint32_t seed = 5;
    for (const Case& c : cases) {
        const int stride = c.W * (c.uyvy ? 2 : 4) + c.pad;
        std::vector<uint8_t> src(static_cast<size_t>(stride) * c.H);
        for (auto& b : src)
            b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
        for (int direction : {1, c.uyvy ? 2 : 3}) {
            const std::vector<uint8_t> want =
                ReferenceTurn(c.uyvy, direction, c.W, c.H, src.data(), stride);
            for (const KernelLevel level : SupportedKernelLevels()) {
                ImageBuffer out;
                const QuarterTurnFn turn = QuarterTurnFor(c.uyvy, direction == 1 ? 1 : 3, level);
                ASSERT_TRUE(turn(c.W, c.H, src.data(), stride, out));
                ASSERT_EQ(out.byteSize, static_cast<int>(want.size()));
                for (size_t i = 0; i < want.size(); ++i) {
                    ASSERT_EQ(out.pixels()[i], want[i])
                        << (c.uyvy ? "UYVY " : "BGRA ") << c.W << "x" << c.H << " direction "
                        << direction << " byte " << i << " " << KernelLevelName(level);
                }
            }
        }
    }
}

TEST(UYVYInPlace, MirrorHalfTurnAndFlip) {
    // "H-Flip": [U1, a, V1, b][U2, c, V2, d] -> [U2, d, V2, c][U1, b, V1, a]
    std::vector<uint8_t> row = {1, 10, 2, 11, 3, 12, 4, 13};
    MirrorUYVY(4, 1, row.data());
    EXPECT_EQ(row, (std::vector<uint8_t>{3, 13, 4, 12, 1, 11, 2, 10}));

    // Odd number of macropixels: the middle one stays with its lumas in place.
    std::vector<uint8_t> odd = {1, 10, 2, 11, 3, 12, 4, 13, 5, 14, 6, 15};
    MirrorUYVY(6, 1, odd.data());
    EXPECT_EQ(odd, (std::vector<uint8_t>{5, 15, 6, 14, 3, 12, 4, 13, 1, 11, 2, 10}));

    // Half turn of a picture with odd rows (3 x 1 macropixels): same as reversing all units.
    std::vector<uint8_t> turn = {1, 10, 2, 11, 3, 12, 4, 13, 5, 14, 6, 15};
    TurnUYVY180(2, 3, turn.data());
    EXPECT_EQ(turn, (std::vector<uint8_t>{5, 15, 6, 14, 3, 12, 4, 13, 1, 11, 2, 10}));

    // Every luma of a larger picture ends up at the opposite point.
    const int W = 8, H = 6;
    const std::vector<uint8_t> src = NumberedUYVY(W, H);
    std::vector<uint8_t> f = src;
    TurnUYVY180(W, H, f.data());
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            EXPECT_EQ(LumaAt(f.data(), W, x, y), LumaAt(src.data(), W, W - 1 - x, H - 1 - y));
        }
    }
    f = src;
    FlipUYVY(W, H, f.data());
    for (int y = 0; y < H; ++y) {
        EXPECT_TRUE(std::equal(f.begin() + y * W * 2, f.begin() + (y + 1) * W * 2,
                               src.begin() + (H - 1 - y) * W * 2));
    }
}

TEST(RGBAInPlace, TransformsAndTheSmallPictureRule) {
    const int W = 5, H = 4;
    const std::vector<uint32_t> src = NumberedRGBA(W, H);
    std::vector<uint32_t> f = src;
    TurnRGBA180(W, H, reinterpret_cast<uint8_t*>(f.data()));
    for (int i = 0; i < W * H; ++i)
        EXPECT_EQ(f[i], src[W * H - 1 - i]);
    f = src;
    MirrorRGBA(W, H, reinterpret_cast<uint8_t*>(f.data()));
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x)
            EXPECT_EQ(f[y * W + x], src[y * W + W - 1 - x]);
    }
    f = src;
    FlipRGBA(W, H, reinterpret_cast<uint8_t*>(f.data()));
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x)
            EXPECT_EQ(f[y * W + x], src[(H - 1 - y) * W + x]);
    }

    // Fewer than 16 units: left alone.
    const std::vector<uint32_t> small = NumberedRGBA(3, 5);
    for (auto op : {TurnRGBA180, MirrorRGBA, FlipRGBA}) {
        f = small;
        op(3, 5, reinterpret_cast<uint8_t*>(f.data()), 0);
        EXPECT_EQ(f, small);
    }
    std::vector<uint8_t> uyvy = NumberedUYVY(6, 5);  // 15 macropixels
    const std::vector<uint8_t> before = uyvy;
    FlipUYVY(6, 5, uyvy.data());
    EXPECT_EQ(uyvy, before);
}

TEST(RGBAInPlace, RespectsAPaddedStride) {
    // 4 x 4 pixels, stride of 5 pixels: the padding column must not move.
    std::vector<uint32_t> f(20);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x)
            f[y * 5 + x] = x == 4 ? 0xEEEEEEEE : y * 4 + x;
    }
    TurnRGBA180(4, 4, reinterpret_cast<uint8_t*>(f.data()), 20);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(f[y * 5 + 4], 0xEEEEEEEEu);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(f[y * 5 + x], 15u - (y * 4 + x));
    }
}

}  // namespace
}  // namespace velmor
