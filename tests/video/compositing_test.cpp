#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "video/image_buffer.h"
#include "video/kernel_level.h"
#include "video/sequence_name.h"
#include "video/text_rasteriser.h"
#include "video/timecode_burn_in.h"

namespace velmor {
namespace {

// A BGRA picture whose pixel (x, y) is B = x, G = y, R = 200, A = alpha.
ImageBuffer Gradient(int w, int h, uint8_t alpha) {
    ImageBuffer p;
    EXPECT_TRUE(p.FillColour(w, h, 200, 0, 0, alpha));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            p.pixels()[(y * w + x) * 4 + 0] = static_cast<uint8_t>(x);
            p.pixels()[(y * w + x) * 4 + 1] = static_cast<uint8_t>(y);
        }
    }
    return p;
}

std::vector<uint8_t> Canvas(int w, int h, uint8_t fill = 0) {
    return std::vector<uint8_t>(static_cast<size_t>(w) * h * 4, fill);
}

const uint8_t* Px(const std::vector<uint8_t>& c, int W, int x, int y) {
    return &c[(static_cast<size_t>(y) * W + x) * 4];
}

TEST(ImageBuffer, CopyConvertSolidAndFill) {
    ImageBuffer src;
    ASSERT_TRUE(src.FillColour(3, 2, 255, 255, 255, 7));
    EXPECT_EQ(src.byteSize, 24);
    EXPECT_EQ(src.bitsPerPixel, 32);
    EXPECT_EQ(src.pixelKind, kPixelBGRA);
    EXPECT_EQ(src.fillColour[3], 7);

    ImageBuffer copy;
    ASSERT_TRUE(copy.CopyRGBAdataFrom(src));
    EXPECT_EQ(copy.width, 3);
    EXPECT_EQ(std::memcmp(copy.pixels(), src.pixels(), 24), 0);

    copy.ConvertToUYVA();
    EXPECT_EQ(copy.pixelKind, kPixelUYVA);
    // White: U = 255*0.439 - (255*0.148 + 255*0.291) + 128 = 128, Y = 235, V = 128.
    EXPECT_EQ(copy.pixels()[0], 128);
    EXPECT_EQ(copy.pixels()[1], 235);
    EXPECT_EQ(copy.pixels()[2], 128);
    EXPECT_EQ(copy.pixels()[3], 7);

    // A UYVA source is refused and nothing changes.
    ImageBuffer other;
    ASSERT_TRUE(other.FillColour(1, 1, 1, 2, 3, 4));
    EXPECT_FALSE(other.CopyRGBAdataFrom(copy));
    EXPECT_EQ(other.width, 1);
    EXPECT_EQ(other.pixels()[0], 3);

    copy.MakeSolid();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(copy.pixels()[i * 4 + 3], 255);

    ImageBuffer black;
    ASSERT_TRUE(black.FillColour(2, 1, 0, 0, 0, 255));
    ImageBuffer pureRed;
    ASSERT_TRUE(pureRed.FillColour(1, 1, 255, 0, 0, 255));
    pureRed.ConvertToUYVA();
    // R 255: U = -(37.74) + 128 = 90.26 -> 90, Y = 65.535 + 16 -> 81, V = 111.945 + 128 -> 239.
    EXPECT_EQ(pureRed.pixels()[0], 90);
    EXPECT_EQ(pureRed.pixels()[1], 81);
    EXPECT_EQ(pureRed.pixels()[2], 239);
}

TEST(ImageBuffer, RefusesImpossibleSizes) {
    ImageBuffer p;
    EXPECT_FALSE(p.FillColour(-1, 5, 0, 0, 0, 0));
    EXPECT_TRUE(p.empty());
    EXPECT_FALSE(p.FillColour(100000, 100000, 0, 0, 0, 0));
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.byteSize, 0);
}

struct AnchorCase {
    int anchor, x, y, wantX, wantY;
};

TEST(DrawOnto, AnchorsPlaceThePicture) {
    const int W = 40, H = 32, w = 6, h = 4;
    const AnchorCase cases[] = {
        {0, 3, 5, 3, 5},   {6, 3, 5, 3, 5},
        {1, 3, 5, 17, 5},  {2, 3, 5, 3, 14},
        {3, 3, 5, 17, 14}, {4, 10, 10, 7, 8},
        {5, 3, 5, 17, 23}, {7, 3, 5, 31, 5},
        {8, 3, 5, 3, 19},  {9, 3, 5, 31, 19},
        {10, 3, 5, 3, 23}, {11, 0, 0, 34, 28},  // bottom-right corner on the frame's corner
        {42, 3, 5, 3, 5},
    };
    const ImageBuffer pic = Gradient(w, h, 255);
    for (const AnchorCase& c : cases) {
        std::vector<uint8_t> canvas = Canvas(W, H);
        pic.DrawOnto(c.x, c.y, c.anchor, kDrawCopy, canvas.data(), kPixelBGRA, W, H);
        const uint8_t* tl = Px(canvas, W, c.wantX, c.wantY);
        EXPECT_EQ(tl[2], 200) << "anchor " << c.anchor;
        EXPECT_EQ(tl[0], 0);
        const uint8_t* br = Px(canvas, W, c.wantX + w - 1, c.wantY + h - 1);
        EXPECT_EQ(br[0], w - 1) << "anchor " << c.anchor;
        EXPECT_EQ(br[1], h - 1);
        int drawn = 0;
        for (size_t i = 2; i < canvas.size(); i += 4)
            drawn += canvas[i] == 200;
        EXPECT_EQ(drawn, w * h) << "anchor " << c.anchor;
    }
}

TEST(DrawOnto, ClipsAtEveryEdge) {
    const int W = 16, H = 8;
    const ImageBuffer pic = Gradient(20, 6, 255);
    std::vector<uint8_t> canvas = Canvas(W, H);
    pic.DrawOnto(-10, -2, 0, kDrawCopy, canvas.data(), kPixelBGRA, W, H);
    EXPECT_EQ(Px(canvas, W, 0, 0)[0], 10) << "drawn from picture column 10";
    EXPECT_EQ(Px(canvas, W, 0, 0)[1], 2);
    EXPECT_EQ(Px(canvas, W, 9, 3)[0], 19);
    EXPECT_EQ(Px(canvas, W, 10, 0)[2], 0) << "only x + w = 10 columns";
    EXPECT_EQ(Px(canvas, W, 0, 4)[2], 0) << "only y + h = 4 rows";

    canvas = Canvas(W, H);
    pic.DrawOnto(12, 5, 0, kDrawCopy, canvas.data(), kPixelBGRA, W, H);
    EXPECT_EQ(Px(canvas, W, 15, 7)[0], 3);
    EXPECT_EQ(Px(canvas, W, 11, 7)[2], 0);

    // Entirely outside, or an empty picture, or mismatched kinds: nothing at all.
    const std::vector<uint8_t> blank = Canvas(W, H);
    pic.DrawOnto(W, 0, 0, kDrawCopy, canvas.data(), kPixelBGRA, W, H);
    pic.DrawOnto(-20, 0, 0, kDrawCopy, canvas.data(), kPixelBGRA, W, H);
    canvas = blank;
    pic.DrawOnto(0, 0, 0, kDrawCopy, canvas.data(), kPixelUYVY, W, H);
    ImageBuffer().DrawOnto(0, 0, 0, kDrawCopy, canvas.data(), kPixelBGRA, W, H);
    EXPECT_EQ(canvas, blank);
}

TEST(DrawOnto, BlendOnBGRA) {
    struct Case {
        uint8_t pic, alpha, dst, dstAlpha, wantColour, wantAlpha;
    } cases[] = {
        {200, 0, 50, 90, 50, 90},      // alpha 0 changes nothing
        {200, 255, 50, 0, 200, 255},   // alpha 255 replaces and makes the destination opaque
        {200, 128, 50, 0, 125, 128},   // (200*128 + 50*127) / 255 = 125.3
        {255, 100, 0, 100, 100, 161},  // 255 - (155*155)/255 = 255 - 94
    };
    for (const Case& c : cases) {
        ImageBuffer p;
        ASSERT_TRUE(p.FillColour(1, 1, c.pic, c.pic, c.pic, c.alpha));
        uint8_t d[4] = {c.dst, c.dst, c.dst, c.dstAlpha};
        p.DrawOnto(0, 0, 0, kDrawBlend, d, kPixelBGRA, 1, 1);
        EXPECT_EQ(d[0], c.wantColour) << int(c.alpha);
        EXPECT_EQ(d[2], c.wantColour);
        EXPECT_EQ(d[3], c.wantAlpha);
    }
}

TEST(DrawOnto, WideBlendMatchesTheFormulaForEveryPixel) {
    // Rows long enough for the vector path and its scalar tail; all alpha values occur.
    const int W = 37, H = 9;
    ImageBuffer pic;
    ASSERT_TRUE(pic.FillColour(W, H, 0, 0, 0, 0));
    std::vector<uint8_t> canvas = Canvas(W, H);
    uint32_t seed = 1;
    auto next = [&] { return static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
    for (int i = 0; i < W * H * 4; ++i)
        pic.pixels()[i] = next(), canvas[i] = next();
    pic.pixels()[3] = 0, pic.pixels()[7] = 255;
    const std::vector<uint8_t> before = canvas;
    pic.DrawOnto(0, 0, 0, kDrawBlend, canvas.data(), kPixelBGRA, W, H);
    for (int i = 0; i < W * H; ++i) {
        const uint8_t* s = pic.pixels() + i * 4;
        const uint8_t* d = &before[i * 4];
        const int a = s[3];
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(canvas[i * 4 + c], (s[c] * a + d[c] * (255 - a)) / 255) << i;
        }
        ASSERT_EQ(canvas[i * 4 + 3], 255 - ((255 - d[3]) * (255 - a)) / 255) << i;
    }
}

ImageBuffer UYVA(std::vector<std::array<uint8_t, 4>> pixels) {
    ImageBuffer p;
    EXPECT_TRUE(p.FillColour(static_cast<int>(pixels.size()), 1, 0, 0, 0, 0));
    for (size_t i = 0; i < pixels.size(); ++i)
        std::memcpy(p.pixels() + i * 4, pixels[i].data(), 4);
    p.pixelKind = kPixelUYVA;
    return p;
}

TEST(DrawOnto, UYVYDestinationCopyAndBlend) {
    // 3 pixels at x = 5 start in the macropixel of pixels 4 and 5.
    const ImageBuffer pic = UYVA({{100, 50, 110, 255}, {120, 60, 130, 255}, {140, 70, 150, 255}});
    std::vector<uint8_t> row(8 * 2, 0);
    for (int m = 0; m < 4; ++m) {
        row[m * 4 + 0] = 20, row[m * 4 + 1] = 1, row[m * 4 + 2] = 40, row[m * 4 + 3] = 2;
    }
    std::vector<uint8_t> d = row;
    pic.DrawOnto(5, 0, 0, kDrawCopy, d.data(), kPixelUYVY, 8, 1);
    const std::vector<uint8_t> wantCopy = {20,  1,  40,  2,  20, 1,  40, 2,  // untouched
                                           110, 50, 120, 60, 80, 70, 95, 2};
    EXPECT_EQ(d, wantCopy);

    // Blend: Y0 by the first alpha, chroma by the mean alpha, Y1 by the second alpha.
    const ImageBuffer half = UYVA({{100, 200, 100, 255}, {200, 100, 200, 1}});
    d = row;
    half.DrawOnto(0, 0, 0, kDrawBlend, d.data(), kPixelUYVY, 8, 1);
    EXPECT_EQ(d[1], 200);
    EXPECT_EQ(d[0], (150 * 128 + 20 * 127) / 255);
    EXPECT_EQ(d[2], (150 * 128 + 40 * 127) / 255);
    EXPECT_EQ(d[3], (100 * 1 + 2 * 254) / 255);
    // Odd last pixel blends its own chroma with its own alpha; transparent leaves all.
    const ImageBuffer one = UYVA({{220, 90, 10, 0}});
    d = row;
    one.DrawOnto(2, 0, 0, kDrawBlend, d.data(), kPixelUYVY, 8, 1);
    EXPECT_EQ(d, row);
}

TEST(DrawOnto, WideUYVYBlendMatchesTheFormula) {
    const int w = 37, W = 44, H = 3;  // 18 pairs and an odd last pixel, drawn at x = 3
    ImageBuffer pic;
    ASSERT_TRUE(pic.FillColour(w, H, 0, 0, 0, 0));
    pic.pixelKind = kPixelUYVA;
    std::vector<uint8_t> canvas(static_cast<size_t>(W) * H * 2);
    uint32_t seed = 3;
    auto next = [&] { return static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
    for (int i = 0; i < w * H * 4; ++i)
        pic.pixels()[i] = next();
    for (auto& c : canvas)
        c = next();
    const std::vector<uint8_t> before = canvas;
    pic.DrawOnto(3, 0, 0, kDrawBlend, canvas.data(), kPixelUYVY, W, H);
    auto mix = [](int src, int a, int dst) { return (src * a + dst * (255 - a)) / 255; };
    for (int y = 0; y < H; ++y) {
        const uint8_t* row = pic.pixels() + y * w * 4;
        const uint8_t* old = &before[static_cast<size_t>(y) * W * 2 + 2 * 2];  // macropixel 1
        const uint8_t* now = &canvas[static_cast<size_t>(y) * W * 2 + 2 * 2];
        for (int k = 0; k < w / 2; ++k) {
            const uint8_t* f = row + k * 8;
            const uint8_t* o = old + k * 4;
            const int m = (f[3] + f[7]) >> 1;
            ASSERT_EQ(now[k * 4 + 0], mix((f[0] + f[4]) >> 1, m, o[0])) << y << " " << k;
            ASSERT_EQ(now[k * 4 + 1], mix(f[1], f[3], o[1]));
            ASSERT_EQ(now[k * 4 + 2], mix((f[2] + f[6]) >> 1, m, o[2]));
            ASSERT_EQ(now[k * 4 + 3], mix(f[5], f[7], o[3]));
        }
        const uint8_t* f = row + (w - 1) * 4;
        const uint8_t* o = old + (w / 2) * 4;
        EXPECT_EQ(now[(w / 2) * 4 + 0], mix(f[0], f[3], o[0]));
        EXPECT_EQ(now[(w / 2) * 4 + 1], mix(f[1], f[3], o[1]));
        EXPECT_EQ(now[(w / 2) * 4 + 3], o[3]);
    }
    EXPECT_EQ(std::memcmp(canvas.data(), before.data(), 4), 0) << "macropixel 0 untouched";
}

TEST(DrawOnto, UYVYNeverWritesPastAnOddWidth) {
    const ImageBuffer pic = UYVA({{1, 2, 3, 255}, {4, 5, 6, 255}, {7, 8, 9, 255}});
    std::vector<uint8_t> d(5 * 2 + 4, 0xAB);  // 5 pixels wide plus a guard
    pic.DrawOnto(2, 0, 0, kDrawCopy, d.data(), kPixelUYVY, 5, 1);
    for (size_t i = 10; i < d.size(); ++i)
        EXPECT_EQ(d[i], 0xAB);
}

// The blend written out per destination pixel, for any placement: picture column c lands on
// destination pixel c + off, a UYVY macropixel takes two picture pixels (chroma by the mean alpha)
// or, for the picture's odd last column, one.
void ReferenceBlend(const ImageBuffer& pic, int x, int y, PixelKind kind, uint8_t* dst, int W,
                    int H, int stride) {
    auto mix = [](int s, int a, int d) {
        return static_cast<uint8_t>((s * a + d * (255 - a)) / 255);
    };
    for (int Y = std::max(0, y); Y < std::min(H, y + pic.height); ++Y) {
        const uint8_t* row = pic.pixels() + static_cast<size_t>(Y - y) * pic.width * 4;
        uint8_t* d = dst + static_cast<size_t>(Y) * stride;
        if (kind == kPixelBGRA) {
            for (int X = std::max(0, x); X < std::min(W, x + pic.width); ++X) {
                const uint8_t* f = row + (X - x) * 4;
                uint8_t* o = d + X * 4;
                for (int c = 0; c < 3; ++c)
                    o[c] = mix(f[c], f[3], o[c]);
                o[3] = static_cast<uint8_t>(255 - (255 - o[3]) * (255 - f[3]) / 255);
            }
            continue;
        }
        const int off = x >= 0 ? x & ~1 : x;
        for (int m = 0; m < W / 2; ++m) {
            const int c = 2 * m - off;
            if (c < 0 || c >= pic.width) continue;
            const uint8_t* f = row + c * 4;
            uint8_t* o = d + m * 4;
            if (c + 1 < pic.width) {
                const int a = (f[3] + f[7]) >> 1;
                o[0] = mix((f[0] + f[4]) >> 1, a, o[0]);
                o[1] = mix(f[1], f[3], o[1]);
                o[2] = mix((f[2] + f[6]) >> 1, a, o[2]);
                o[3] = mix(f[5], f[7], o[3]);
            } else {
                o[0] = mix(f[0], f[3], o[0]);
                o[1] = mix(f[1], f[3], o[1]);
                o[2] = mix(f[2], f[3], o[2]);
            }
        }
    }
}

TEST(DrawOnto, BlendMatchesTheReferenceWithAndWithoutAVX2) {
    struct Case {
        PixelKind kind;
        int w, h, x, y, W, H, pad;
    } cases[] = {
        // UYVY: 35 pairs and an odd last pixel at an odd x (drawn from the even pixel before).
        {kPixelUYVY, 71, 3, 1, 2, 80, 8, 6},
        {kPixelUYVY, 67, 4, -5, -2, 50, 5, 0},   // clipped left and top: starts mid-picture
        {kPixelUYVY, 40, 3, 30, 0, 61, 4, 0},    // clipped by an odd width
        {kPixelUYVY, 333, 9, 2, 1, 341, 11, 2},  // every alpha, long rows
        {kPixelUYVY, 3, 1, 0, 0, 4, 1, 0},
        // BGRA: eight-, four- and one-pixel steps.
        {kPixelBGRA, 71, 3, 3, 2, 80, 8, 4},
        {kPixelBGRA, 67, 4, -5, -2, 50, 5, 0},
        {kPixelBGRA, 333, 9, 2, 1, 341, 11, 8},
        {kPixelBGRA, 3, 1, 0, 0, 4, 1, 0},
    };
    uint32_t seed = 9;
    auto next = [&] { return static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
    for (const Case& c : cases) {
        ImageBuffer pic;
        ASSERT_TRUE(pic.FillColour(c.w, c.h, 0, 0, 0, 0));
        for (int i = 0; i < c.w * c.h; ++i) {
            uint8_t* p = pic.pixels() + i * 4;
            p[0] = next(), p[1] = next(), p[2] = next();
            p[3] = static_cast<uint8_t>(i * 167 + (next() & 1));  // all 256 values every 256
        }
        if (c.kind == kPixelUYVY) pic.pixelKind = kPixelUYVA;
        const int stride = c.W * (c.kind == kPixelUYVY ? 2 : 4) + c.pad;
        std::vector<uint8_t> before(static_cast<size_t>(stride) * c.H);
        for (auto& b : before)
            b = next();
        std::vector<uint8_t> want = before;
        ReferenceBlend(pic, c.x, c.y, c.kind, want.data(), c.W, c.H, stride);
        for (const KernelLevel level : SupportedKernelLevels()) {
            std::vector<uint8_t> got = before;
            pic.DrawOnto(c.x, c.y, kAnchorTopLeft, kDrawBlend, got.data(), c.kind, c.W, c.H, stride,
                         BlendRowsFor(level));
            for (size_t i = 0; i < got.size(); ++i) {
                ASSERT_EQ(got[i], want[i])
                    << "kind " << static_cast<int>(c.kind) << " " << c.w << "x" << c.h << " at "
                    << c.x << "," << c.y << " byte " << i << " " << KernelLevelName(level);
            }
        }
    }
}

TEST(DrawOnto, BandAfterBandDrawsWhatOneCallDraws) {
    // Every anchor (some place the picture from the frame's height), pictures partly off each
    // edge, copy and blend, on both kinds of frame, in bands of several heights.
    uint32_t seed = 5;
    auto next = [&] { return static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
    const int W = 41, H = 37;
    for (const PixelKind kind : {kPixelBGRA, kPixelUYVY}) {
        ImageBuffer pic;
        ASSERT_TRUE(pic.FillColour(13, 11, 0, 0, 0, 0));
        for (int i = 0; i < pic.byteSize; ++i)
            pic.pixels()[i] = next();
        if (kind == kPixelUYVY) pic.pixelKind = kPixelUYVA;
        const int stride = W * (kind == kPixelUYVY ? 2 : 4) + 4;
        std::vector<uint8_t> before(static_cast<size_t>(stride) * H);
        for (auto& b : before)
            b = next();
        for (int anchor = 0; anchor <= 11; ++anchor) {
            for (auto [x, y] : {std::pair{3, 4}, {-5, -6}, {35, 30}, {10, 36}}) {
                for (int mode : {kDrawBlend, kDrawCopy}) {
                    std::vector<uint8_t> want = before;
                    pic.DrawOnto(x, y, anchor, mode, want.data(), kind, W, H, stride);
                    for (int band : {1, 4, 7, 16}) {
                        std::vector<uint8_t> got = before;
                        for (int first = 0; first < H; first += band) {
                            pic.DrawOnto(x, y, anchor, mode, got.data(), kind, W, H, stride,
                                         BestBlendRows(), {first, first + band});
                        }
                        ASSERT_EQ(got, want)
                            << "kind " << static_cast<int>(kind) << " anchor " << anchor << " at "
                            << x << "," << y << " mode " << mode << " in bands of " << band;
                    }
                }
            }
        }
    }
}

class FakeRasteriser : public ITextRasteriser {
public:
    bool RasteriseLine(std::string_view utf8, int width, int height, int fontHeight,
                       uint8_t* bgra) override {
        last = std::string(utf8);
        lastFontHeight = fontHeight;
        std::memset(bgra, 0, static_cast<size_t>(width) * height * 4);
        // A "glyph": the centre pixel grey.
        uint8_t* c = bgra + ((height / 2) * width + width / 2) * 4;
        c[0] = c[1] = c[2] = 180;
        return true;
    }
    std::string last;
    int lastFontHeight = 0;
};

TEST(RenderText, AlphaRule) {
    FakeRasteriser r;
    struct Case {
        int alpha;
        uint8_t background, text;
    } cases[] = {{175, 175, 255}, {0, 0, 255}, {8, 255, 255}, {255, 255, 255}};
    for (const Case& c : cases) {
        ImageBuffer p;
        ASSERT_TRUE(p.FillColour(5, 10, 0, 0, 0, 0));
        ASSERT_TRUE(p.RenderText("12:00", c.alpha, r));
        EXPECT_EQ(r.lastFontHeight, 7);
        EXPECT_EQ(p.pixels()[3], c.background) << c.alpha;
        EXPECT_EQ(p.pixels()[(5 * 5 + 2) * 4 + 3], c.text) << c.alpha;
    }
    ImageBuffer none;
    EXPECT_FALSE(none.RenderText("x", 0, r));
}

TEST(SplitSequenceName, Cases) {
    struct Case {
        const char* path;
        bool result;
        const char* prefix;
        const char* stem;
        const char* ext;
        int number, digits;
    } cases[] = {
        {"/m/img000123.png", true, "/m/img0", "img0", ".png", 123, 5},
        {"/m/shot7.tif", true, "/m/shot", "shot", ".tif", 7, 1},
        {"clip0042.jpg", true, "clip", "clip", ".jpg", 42, 4},
        {"12.png", true, "", "", ".png", 12, 2},
        {"/a.b/logo.png", false, "/a.b/logo", "logo", ".png", 0, 0},
        {"/dir/frame99", true, "/dir/frame", "frame", "", 99, 2},
        {"/dir9/", false, "/dir9/", "", "", 0, 0},
        {"", false, "", "", "", 0, 0},
    };
    for (const Case& c : cases) {
        SequenceName n;
        EXPECT_EQ(SplitSequenceName(c.path, n), c.result) << c.path;
        EXPECT_EQ(n.sequencePrefix, c.prefix) << c.path;
        EXPECT_EQ(n.sequenceStem, c.stem) << c.path;
        EXPECT_EQ(n.sequenceExtension, c.ext) << c.path;
        EXPECT_EQ(n.firstNumber, c.number) << c.path;
        EXPECT_EQ(n.numberDigits, c.digits) << c.path;
        EXPECT_EQ(n.endsWithNumber, c.result ? 1 : 0) << c.path;
    }
}

TEST(Timecode, Digits) {
    const int64_t t = 37'233'000'000;  // 1 h 2 min 3.3 s
    EXPECT_EQ(TimecodeGlyphs(t, 25.0f, 400'000),
              (std::array<int, 11>{0, 1, 10, 0, 2, 10, 0, 3, 10, 0, 7}));
    EXPECT_EQ(TimecodeGlyphs(t, 0.5f, 400'000),
              (std::array<int, 11>{0, 1, 10, 0, 2, 10, 0, 3, 10, 1, 1}));
    // 25 h wraps to 01; negative and zero-duration inputs stay within the glyphs.
    EXPECT_EQ(TimecodeGlyphs(int64_t{25} * 3600 * 10'000'000, 25.0f, 400'000)[1], 1);
    for (int g : TimecodeGlyphs(-5, 25.0f, 400'000))
        EXPECT_EQ(g == 10 ? 0 : g, 0);
    for (int g : TimecodeGlyphs(t, 25.0f, 0))
        EXPECT_LE(g, 10);
}

TEST(Timecode, BurnInPlacesGlyphsOnBothKinds) {
    ImageBuffer glyphs[kDigitImageCount];
    for (int i = 0; i <= kColonGlyph; ++i) {
        const int w = i == kColonGlyph ? 24 : 56;
        ASSERT_TRUE(glyphs[i].FillColour(w, 72, 255, 255, 255, 0));
        glyphs[i].pixels()[0] = static_cast<uint8_t>(i);  // mark each glyph's top-left B
    }
    ASSERT_TRUE(PrepareDigitImages(glyphs));
    EXPECT_EQ(glyphs[11].pixelKind, kPixelUYVA);
    EXPECT_EQ(glyphs[11].pixels()[3], 255) << "made solid";

    const int W = 640, H = 360;
    std::vector<uint8_t> frame = Canvas(W, H);
    BurnInTimecode(FrameView{frame.data(), W, H, W * 4, NDIlib_FourCC_video_type_BGRA},
                   37'233'000'000, 25.0f, 400'000, glyphs);
    const int x0 = (W - 520) / 2, y0 = H - H / 8 - 72;
    const int offsets[11] = {0, 56, 112, 136, 192, 248, 272, 328, 384, 408, 464};
    const int want[11] = {0, 1, 10, 0, 2, 10, 0, 3, 10, 0, 7};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(Px(frame, W, x0 + offsets[i], y0)[0], want[i]) << i;
        EXPECT_EQ(Px(frame, W, x0 + offsets[i], y0)[2], 255);
    }
    EXPECT_EQ(Px(frame, W, x0, y0 + 72)[2], 0);
    EXPECT_EQ(Px(frame, W, x0 + 520, y0)[2], 0);

    std::vector<uint8_t> uyvy(static_cast<size_t>(W) * H * 2, 16);
    BurnInTimecode(FrameView{uyvy.data(), W, H, W * 2, NDIlib_FourCC_video_type_UYVY},
                   37'233'000'000, 25.0f, 400'000, glyphs);
    EXPECT_EQ(uyvy[(static_cast<size_t>(y0) * W + x0 + 10) * 2 + 1], 235);

    // A frame narrower than the row is clipped, and other FourCCs are left alone.
    std::vector<uint8_t> small = Canvas(100, 100);
    BurnInTimecode(FrameView{small.data(), 100, 100, 400, NDIlib_FourCC_video_type_BGRA}, 0, 25.0f,
                   400'000, glyphs);
    std::vector<uint8_t> nv12(100 * 150, 7);
    BurnInTimecode(FrameView{nv12.data(), 100, 100, 100, NDIlib_FourCC_video_type_NV12}, 0, 25.0f,
                   400'000, glyphs);
    EXPECT_EQ(nv12, std::vector<uint8_t>(100 * 150, 7));
}

}  // namespace
}  // namespace velmor
