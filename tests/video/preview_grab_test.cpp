#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ndi/ndi_types.h"
#include "video/frame_grab.h"
#include "video/kernel_level.h"
#include "video/preview_render.h"

namespace velmor {
namespace {

std::vector<uint8_t> SolidUYVY(int w, int h, uint8_t u, uint8_t y, uint8_t v) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (size_t i = 0; i < f.size(); i += 4)
        f[i] = u, f[i + 1] = y, f[i + 2] = v, f[i + 3] = y;
    return f;
}

TEST(PreviewRender, HalvedAndFullSampling) {
    PreviewRenderer r;
    const std::vector<uint8_t> hd = SolidUYVY(1920, 1080, 128, 235, 128);
    EXPECT_EQ(r.Render(hd.data(), 1920, 1080, 3840, NDIlib_FourCC_video_type_UYVY, 16.0f / 9.0f),
              24);
    const PreviewBitmap* b = r.AcquireBitmap();
    EXPECT_EQ(b->width, 960);
    EXPECT_EQ(b->height, 540);
    EXPECT_EQ(b->aspectClass, 0);
    EXPECT_EQ(b->pixels[0], 254);  // (235 - 16) * 1.164 = 254.9, truncated

    const std::vector<uint8_t> sd = SolidUYVY(640, 480, 128, 16, 128);
    EXPECT_EQ(r.Render(sd.data(), 640, 480, 1280, NDIlib_FourCC_video_type_UYVY, 4.0f / 3.0f), 24);
    b = r.AcquireBitmap();
    EXPECT_EQ(b->width, 640);
    EXPECT_EQ(b->height, 480);
    EXPECT_EQ(b->aspectClass, 1);
    EXPECT_EQ(b->pixels[640 * 3 * 479 + 639 * 3 + 1], 0);
}

TEST(PreviewRender, YuvFormulasPerSampling) {
    struct Case {
        uint8_t u, y, v;
        bool halved;
        uint8_t b, g, r;
    } cases[] = {
        // u = 100, v = 60 (from 228, 188): halved B = 100*2.115 + y, full 100*2.112 + y.
        {28, 126, 188, 1, 0, 117, 235},  // B < 0 clamps to 0; G = 128.04 - 32.04 + 21.3
        {228, 16, 68, 1, 211, 10, 0},    // B = 211.5, G = 32.04 - 21.3 = 10.74, R < 0
        {228, 16, 68, 0, 211, 10, 0},    // full: B = 211.2, G = 31.98 - 21.3
        {128, 235, 128, 0, 254, 254, 254},
        // G lands on a whole number in exact arithmetic: the double's rounding gives one less.
        {0, 38, 36, 1, 0, 101, 0},
        {0, 47, 50, 1, 0, 104, 0},
        {0, 56, 64, 1, 0, 107, 0},
    };
    for (const Case& c : cases) {
        PreviewRenderer r;
        const int w = c.halved ? 642 : 4;
        const std::vector<uint8_t> f = SolidUYVY(w, 2, c.u, c.y, c.v);
        ASSERT_EQ(r.Render(f.data(), w, 2, w * 2, NDIlib_FourCC_video_type_UYVY, 0.0f), 24);
        const uint8_t* p = r.AcquireBitmap()->pixels.get();
        EXPECT_EQ(p[0], c.b) << int(c.u) << " " << c.halved;
        EXPECT_EQ(p[1], c.g) << int(c.u) << " " << c.halved;
        EXPECT_EQ(p[2], c.r) << int(c.u) << " " << c.halved;
    }
}

// The conversion as defined, in double precision, truncated and clamped.
uint8_t Clamped(double v) {
    return static_cast<uint8_t>(v < 0.0 ? 0 : v > 255.0 ? 255 : static_cast<int>(v));
}

TEST(PreviewRender, EveryYuvTripleMatchesTheDoubleFormula) {
    // For each U, one frame holds every (Y, V) pair; rows of 515 (halved) and 518 (full) pixels
    // leave a few pixels past the vector loops. Checked with and without the AVX2 kernels.
    for (const bool halved : {true, false}) {
        const double kB = halved ? 2.115 : 2.112, kG = halved ? 0.534 : 0.533;
        const int width = halved ? 1030 : 518, height = halved ? 256 : 128;
        const int n = halved ? width / 2 : width;  // output pixels per row
        const int rows = halved ? height / 2 : height;
        std::vector<uint8_t> f(static_cast<size_t>(width) * height * 2);
        std::vector<uint8_t> want(static_cast<size_t>(n) * rows * 3);
        for (int u = 0; u < 256; ++u) {
            for (int r = 0; r < rows; ++r) {
                for (int x = 0; x < n; ++x) {
                    const int i = r * n + x;
                    const int y = halved ? (i >> 8) & 255 : ((i >> 9) * 2 + (x & 1)) & 255;
                    const int v = halved ? i & 255 : (i >> 1) & 255;
                    // Halved: macropixel x of source row 2r; full: pixel x of row r.
                    uint8_t* m = halved ? &f[(static_cast<size_t>(2 * r) * width + 2 * x) * 2]
                                        : &f[(static_cast<size_t>(r) * width + (x & ~1)) * 2];
                    m[0] = static_cast<uint8_t>(u);
                    m[2] = static_cast<uint8_t>(v);
                    m[halved || !(x & 1) ? 1 : 3] = static_cast<uint8_t>(y);
                    const double yy = (y - 16) * 1.164;
                    uint8_t* w = &want[static_cast<size_t>(i) * 3];
                    w[0] = Clamped((u - 128) * kB + yy);
                    w[1] = Clamped((y - 16) * 1.164 - (v - 128) * kG - (u - 128) * 0.213);
                    w[2] = Clamped((v - 128) * 1.793 + yy);
                }
            }
            for (const KernelLevel level : SupportedKernelLevels()) {
                PreviewRenderer pr(level);
                ASSERT_EQ(pr.Render(f.data(), width, height, width * 2,
                                    NDIlib_FourCC_video_type_UYVY, 0.0f),
                          24);
                const PreviewBitmap* b = pr.AcquireBitmap();
                ASSERT_EQ(b->width, n);
                const uint8_t* got = b->pixels.get();
                const auto bad = std::mismatch(want.begin(), want.end(), got).first;
                ASSERT_TRUE(bad == want.end())
                    << (halved ? "halved" : "full") << " U " << u << " pixel "
                    << (bad - want.begin()) / 3 << " channel " << (bad - want.begin()) % 3 << ": "
                    << int(got[bad - want.begin()]) << " instead of " << int(*bad) << " "
                    << KernelLevelName(level);
            }
        }
    }
}

TEST(PreviewRender, FourByteFramesAreCopied) {
    PreviewRenderer r;
    std::vector<uint32_t> f(8 * 2);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = static_cast<uint32_t>(i);
    ASSERT_EQ(r.Render(reinterpret_cast<uint8_t*>(f.data()), 8, 2, 32,
                       NDIlib_FourCC_video_type_BGRA, 4.0f),
              32);
    const PreviewBitmap* b = r.AcquireBitmap();
    EXPECT_EQ(std::memcmp(b->pixels.get(), f.data(), 64), 0);

    // Halved: every other pixel of every other line.
    std::vector<uint32_t> wide(1282 * 4);
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<uint32_t>(i);
    ASSERT_EQ(r.Render(reinterpret_cast<uint8_t*>(wide.data()), 1282, 4, 1282 * 4,
                       NDIlib_FourCC_video_type_BGRA, 0.0f),
              32);
    b = r.AcquireBitmap();
    EXPECT_EQ(b->width, 641);
    EXPECT_EQ(b->height, 2);
    uint32_t px;
    std::memcpy(&px, b->pixels.get() + (641 + 3) * 4, 4);
    EXPECT_EQ(px, 2u * 1282 + 6);
}

TEST(PreviewRender, AspectClassesAndTheBackground) {
    PreviewRenderer r;
    const std::vector<uint8_t> f = SolidUYVY(16, 16, 128, 100, 128);
    struct Step {
        float aspect;
        int cls;
        bool dirty;
    } steps[] = {
        {16.0f / 9.0f, 0, true},  // the first paint always fills the background
        {16.0f / 9.0f, 0, false}, {4.0f / 3.0f, 1, true},
        {4.0f / 3.0f, 1, false},  {2.39f, 1, true},  // another ratio of class 1
        {9.0f / 16.0f, 2, true},  {9.0f / 16.0f, 2, false},
        {16.0f / 9.0f, 0, false},  // the picture covers the control: nothing to clear
        {0.0f, 1, true},           // no ratio given: width / height, here 1
    };
    for (const Step& s : steps) {
        ASSERT_EQ(r.Render(f.data(), 16, 16, 32, NDIlib_FourCC_video_type_UYVY, s.aspect), 24);
        EXPECT_EQ(r.AcquireBitmap()->aspectClass, s.cls) << s.aspect;
        EXPECT_EQ(r.TakeBackgroundDirty(), s.dirty) << s.aspect;
    }
    EXPECT_FLOAT_EQ(r.AcquireBitmap()->lastAspect, 1.0f);
}

TEST(PreviewRender, RefusesWhatItCannotRead) {
    PreviewRenderer r;
    std::vector<uint8_t> f(64);
    EXPECT_EQ(r.Render(nullptr, 4, 4, 8, NDIlib_FourCC_video_type_UYVY, 1.0f), 0);
    EXPECT_EQ(r.Render(f.data(), 4, 4, 8, NDIlib_FourCC_video_type_NV12, 1.0f), 0);
    EXPECT_EQ(r.Render(f.data(), 4, 4, 4, NDIlib_FourCC_video_type_UYVY, 1.0f), 0)
        << "stride shorter than a line";
    EXPECT_EQ(r.AcquireBitmap()->bitsPerPixel, 0);
}

TEST(Waveform, TraceRowsGraticulesAndSaturation) {
    PreviewRenderer r;
    r.waveformOn = 1;
    r.graticuleType = 1;
    const int W = 64, H = 8;
    std::vector<uint8_t> f = SolidUYVY(W, H, 128, 235, 128);
    ASSERT_EQ(r.Render(f.data(), W, H, W * 2, NDIlib_FourCC_video_type_UYVY, 0.0f), 24);
    const PreviewBitmap* b = r.AcquireBitmap();
    ASSERT_EQ(b->width, 32);
    ASSERT_EQ(b->height, 270);
    EXPECT_TRUE(b->waveform);
    auto green = [&](int row, int x) { return b->pixels[(row * 32 + x) * 3 + 1]; };
    // 4 sampled lines hit row 29 four times: 63, 126, 189, 252.
    EXPECT_EQ(green(29, 0), 252);
    for (int row : {30, 51, 73, 95, 117, 139, 161, 183, 205, 227, 249}) {
        EXPECT_EQ(green(row, 5), 0x60) << row;
        EXPECT_EQ(b->pixels[(row * 32 + 5) * 3 + 2], 0x40);
    }
    EXPECT_EQ(green(31, 5), 0);

    f = SolidUYVY(W, H, 128, 16, 128);
    r.graticuleType = 0;
    ASSERT_EQ(r.Render(f.data(), W, H, W * 2, NDIlib_FourCC_video_type_UYVY, 0.0f), 24);
    b = r.AcquireBitmap();
    EXPECT_EQ(green(248, 3), 252);
    for (int row : {30, 61, 92, 123, 155, 186, 217, 249})
        EXPECT_EQ(green(row, 3), 0x60) << row;
    EXPECT_EQ(green(51, 3), 0);

    // Four hits on a graticule line stop at 222 (96, 159, 222, then no more).
    f = SolidUYVY(W, H, 128, 234, 128);
    ASSERT_EQ(r.Render(f.data(), W, H, W * 2, NDIlib_FourCC_video_type_UYVY, 0.0f), 24);
    b = r.AcquireBitmap();
    EXPECT_EQ(green(30, 7), 222);

    // Luma 0 lands on row 264.
    f = SolidUYVY(W, 2, 128, 0, 128);
    ASSERT_EQ(r.Render(f.data(), W, 2, W * 2, NDIlib_FourCC_video_type_UYVY, 0.0f), 24);
    b = r.AcquireBitmap();
    EXPECT_EQ(green(264, 0), 63);
}

TEST(Waveform, FourByteLumaAndTallFrames) {
    PreviewRenderer r;
    r.waveformOn = 1;
    // G = 255 only: 255*0.6142 + 16 = 172.6 -> L 172 -> row (83*255)/256 + 10 = 92.
    const int W = 4, H = 724;  // m = 362 > 360: every fourth line, 181 samples per column
    std::vector<uint32_t> f(static_cast<size_t>(W) * H, 0x0000FF00u);
    f[2] = 0;  // line 0, pixel 2 black: L = 16 -> row 248
    ASSERT_EQ(r.Render(reinterpret_cast<uint8_t*>(f.data()), W, H, W * 4,
                       NDIlib_FourCC_video_type_BGRA, 0.0f),
              24);
    const PreviewBitmap* b = r.AcquireBitmap();
    EXPECT_EQ(b->pixels[(92 * 2 + 0) * 3 + 1], 252);
    EXPECT_EQ(b->pixels[(248 * 2 + 1) * 3 + 1], 63);  // one sample, just above the line at 249
}

TEST(PaintGeometry, DestinationRectangles) {
    EXPECT_EQ(PreviewDestRect(0, 0.0f, 640, 360), (PaintRect{0, 0, 640, 360}));
    EXPECT_EQ(PreviewDestRect(2, 0.0f, 640, 360), (PaintRect{219, 0, 202, 360}));
    EXPECT_EQ(PreviewDestRect(1, 4.0f / 3.0f, 640, 360), (PaintRect{80, 0, 480, 360}));
    EXPECT_EQ(PreviewDestRect(1, 2.39f, 640, 360), (PaintRect{0, 46, 640, 267}));
    EXPECT_EQ(TimeTextPosition(640, 360), (PaintRect{292, 288, 0, 0}));
    EXPECT_EQ(TallyPenWidth(360), 5);
    EXPECT_EQ(TallyPenWidth(100), 2);
}

TEST(PaintGeometry, WaveformScaleLabels) {
    const auto volts = WaveformScaleLabels(0, 960, 540);
    ASSERT_EQ(volts.size(), 9u);
    EXPECT_EQ(volts[0].text, "960x540  ");
    EXPECT_EQ(volts[0].y, 10);
    EXPECT_EQ(volts[1].text, "1.0");
    const int vy[7] = {70, 112, 154, 195, 237, 279, 321};
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(volts[k + 2].y, vy[k]);
        EXPECT_EQ(volts[k + 2].text.substr(0, 2), " .");
        EXPECT_EQ(volts[k + 2].text.substr(2), std::to_string(9 - k));
    }
    const auto pct = WaveformScaleLabels(1, 960, 540);
    ASSERT_EQ(pct.size(), 11u);
    EXPECT_EQ(pct[0].text, "100");
    const int py[9] = {58, 87, 116, 145, 175, 204, 233, 262, 291};
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(pct[k + 1].y, py[k]);
        EXPECT_EQ(pct[k + 1].text.substr(0, 1), " ");
        EXPECT_EQ(pct[k + 1].text.substr(1), std::to_string(90 - 10 * k));
    }
    EXPECT_EQ(pct[10].text, "  0");
    EXPECT_EQ(pct[10].y, 321);
    for (const auto& l : pct)
        EXPECT_EQ(l.x, 5);
}

TEST(FrameGrab, UYVYColours) {
    struct Case {
        uint8_t y;
        uint8_t b, g, r;
    } cases[] = {{16, 0, 0, 0}, {235, 255, 255, 255}, {126, 129, 128, 128}};
    for (const Case& c : cases) {
        ImageBuffer grab;
        ASSERT_TRUE(grab.Reshape(2, 1, kPixelUYVY));
        const uint8_t px[4] = {128, c.y, 128, c.y};
        std::memcpy(grab.pixels(), px, 4);
        ImageBuffer out;
        ASSERT_TRUE(FrameToImage(grab, out));
        ASSERT_EQ(out.width, 2);
        for (int p = 0; p < 2; ++p) {
            EXPECT_EQ(out.pixels()[p * 4 + 0], c.b) << int(c.y);
            EXPECT_EQ(out.pixels()[p * 4 + 1], c.g) << int(c.y);
            EXPECT_EQ(out.pixels()[p * 4 + 2], c.r) << int(c.y);
            EXPECT_EQ(out.pixels()[p * 4 + 3], 255);
        }
    }
}

TEST(FrameGrab, OddUyvyWidthsRepeatTheLastPixelRowByRow) {
    // Three pixels a row: one macropixel, then half of one (U, Y and no V).
    ImageBuffer grab;
    ASSERT_TRUE(grab.Reshape(3, 2, kPixelUYVY));
    const uint8_t rows[12] = {128, 16,  128, 235, 128, 126,  // black, white, (U 128, Y 126)
                              128, 235, 128, 16,  90,  60};
    std::memcpy(grab.pixels(), rows, sizeof rows);
    ImageBuffer out;
    ASSERT_TRUE(out.Reshape(3, 2, kPixelBGRA));
    std::memset(out.pixels(), 0xEE, static_cast<size_t>(out.byteSize));
    ASSERT_TRUE(FrameToImage(grab, out));
    auto pixel = [&](int x, int y) {
        const uint8_t* p = out.pixels() + (y * 3 + x) * 4;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<int>{0, 0, 0, 255}));
    EXPECT_EQ(pixel(1, 0), (std::vector<int>{255, 255, 255, 255}));
    EXPECT_EQ(pixel(2, 0), pixel(1, 0)) << "the last column repeats the one before it";
    EXPECT_EQ(pixel(0, 1), (std::vector<int>{255, 255, 255, 255})) << "rows start afresh";
    EXPECT_EQ(pixel(1, 1), (std::vector<int>{0, 0, 0, 255}));
    EXPECT_EQ(pixel(2, 1), pixel(1, 1));

    ASSERT_TRUE(grab.Reshape(1, 1, kPixelUYVY));
    grab.pixels()[0] = 128;
    grab.pixels()[1] = 126;
    ASSERT_TRUE(FrameToImage(grab, out));
    EXPECT_EQ(std::vector<int>(out.pixels(), out.pixels() + 4),
              (std::vector<int>{129, 128, 128, 255}));
}

TEST(FrameGrab, BGRAAlphaIsDroppedAndEmptyFails) {
    ImageBuffer grab;
    ASSERT_TRUE(grab.FillColour(2, 2, 10, 20, 30, 0));
    ImageBuffer out;
    ASSERT_TRUE(FrameToImage(grab, out));
    EXPECT_EQ(out.pixels()[0], 30);
    EXPECT_EQ(out.pixels()[2], 10);
    EXPECT_EQ(out.pixels()[3], 255);
    EXPECT_FALSE(FrameToImage(ImageBuffer(), out));
    EXPECT_TRUE(out.empty());
}

TEST(FrameGrab, FileNames) {
    std::tm date{};
    date.tm_year = 126, date.tm_mon = 11, date.tm_mday = 9;
    std::tm time{};
    time.tm_hour = 7, time.tm_min = 5, time.tm_sec = 3;
    GrabNaming n;
    n.baseName = "Studio";
    n.grabFolder = "/srv/grabs";
    EXPECT_EQ(GrabFilePath(n, 0, date, time), "/srv/grabs/Studio-1-20261209-070503.png");
    n.useBaseName = 0;
    n.grabFolder.clear();
    n.addDate = n.addTime = 0;
    n.formatIndex = 0;
    EXPECT_EQ(GrabFilePath(n, 0, date, time), "VelmorGrab-1.bmp");
    n.useBaseName = 1;
    n.baseName.clear();
    n.formatIndex = 2;
    EXPECT_EQ(GrabFilePath(n, 0, date, time), "-1.jpg");
    n.addTime = 1;
    n.formatIndex = 99;
    n.grabFolder = "/tmp/";
    EXPECT_EQ(GrabFilePath(n, 4, date, time), "/tmp/-5-070503.png");
}

}  // namespace
}  // namespace velmor
