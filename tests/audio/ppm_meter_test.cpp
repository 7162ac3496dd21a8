#include "audio/ppm_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "audio/meter_measure.h"
#include "audio/meter_settings.h"
#include "video/text_rasteriser.h"

namespace velmor {
namespace {

TEST(MeterLevels, IntegerDbAndPositions) {
    struct Case {
        int level, dB, position;
    } cases[] = {
        {0, 0, 0},        {1, 0, 0},
        {2, 6, 1},        {256, 53, 15},
        {257, 54, 96},    {512, 59, 136},
        {3276, 76, 272},  {16385, 90, 384},
        {32768, 95, 384}, {INT32_MAX, 186 + 5, 384},  // beyond full scale: stays at the top
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LevelToDb(c.level), c.dB) << c.level;
        EXPECT_EQ(DbToPosition(c.dB, 384), c.position) << c.level;
    }
}

TEST(MeterLevels, SegmentLevels) {
    EXPECT_FLOAT_EQ(SegmentLevel(1.0f, -4.0f), 4.0f);  // SMPTE Normal: "0VU"
    EXPECT_FLOAT_EQ(SegmentLevel(0.0f, -4.0f), 0.0f);
    EXPECT_FLOAT_EQ(SegmentLevel(1e-9f, 0.0f), 0.0f);  // floor at u = -60
    EXPECT_FLOAT_EQ(SegmentLevel(std::pow(10.0f, -20.0f / 20), 0.0f), 44.0f / 48);
    EXPECT_FLOAT_EQ(SegmentLevel(std::pow(10.0f, 12.0f / 20), 0.0f), 7.5f);
    EXPECT_FLOAT_EQ(SegmentLevel(100.0f, 0.0f), 8.0f);
}

// One block of silence but for one sample of `peak` on the left and of -peak on the right.
float Block(PpmMeter& m, MeterLink& link, float peak, int ebuMode = 1,
            const MeterSettings& settings = {}) {
    std::vector<float> l(64, 0.0f), r(64, 0.0f);
    l[10] = peak;
    r[20] = -peak;
    m.MeterBlock(link, settings, ebuMode, l.data(), r.data(), 64);
    return l[10];
}

TEST(MeterBlock, SmpteFullScaleReachesTheYellowThreshold) {
    PpmMeter m;
    MeterLink link;
    m.SetOverlayEnabled(true);
    Block(m, link, 1.0f, /*ebuMode=*/0);
    const MeterBallistics& b = m.ballistics();
    EXPECT_EQ(m.smpteScale(), 1);
    EXPECT_FLOAT_EQ(link.meterScale.load(), 0.1f);
    EXPECT_EQ(b.hold(0), 272);
    EXPECT_EQ(b.hold(1), 272) << "negative peaks count";
    EXPECT_FLOAT_EQ(link.leftPeakPositive.load(), 1.0f);
    EXPECT_FLOAT_EQ(b.segmentLevel(0), 4.0f);
    EXPECT_FLOAT_EQ(b.dbOffset(), -4.0f);
    EXPECT_FALSE(m.TakeScreenOverload(0));
}

TEST(MeterBlock, MissingPlanesGainAndBadSamples) {
    PpmMeter m;
    MeterLink link;
    std::vector<float> l = {0.25f, -0.5f};
    const MeterSettings settings{};
    m.MeterBlock(link, settings, 1, l.data(), nullptr, 2, 2.0);
    EXPECT_FLOAT_EQ(l[0], 0.5f) << "the gain is written back";
    EXPECT_FLOAT_EQ(m.ballistics().peak(0), 1.0f);
    EXPECT_FLOAT_EQ(m.ballistics().peak(1), 0.0f);
    EXPECT_FLOAT_EQ(link.leftPeakPositive.load(), 0.5f);

    std::vector<float> bad = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(), -1e30f};
    m.MeterBlock(link, settings, 1, bad.data(), bad.data(), 3);
    EXPECT_EQ(m.ballistics().hold(0), 384);
    m.MeterBlock(link, settings, 1, nullptr, nullptr, 100);
    EXPECT_FLOAT_EQ(m.ballistics().peak(0), 0.0f);
}

// The mode and the layout are read from the stored choices; their bits say they changed: a new
// layout is placed again on the next frame and the one after.
TEST(MeterBlock, ChangeFlags) {
    PpmMeter m;
    MeterLink link;
    MeterSettings settings{};
    settings.meterMode = 1;
    settings.meterLayout = 1;
    link.meterChangeFlags = kMeterChangeMode | kMeterChangeLayout | kMeterChangeBit7;
    Block(m, link, 0.1f, 1, settings);
    EXPECT_EQ(link.meterChangeFlags.load(), kMeterChangePicture);
    EXPECT_EQ(link.meterRefreshFrames.load(), 1);
    link.meterChangeFlags = 0;
    Block(m, link, 0.1f);
    EXPECT_EQ(link.meterChangeFlags.load(), kMeterChangePicture) << "one refresh frame";
    EXPECT_EQ(link.meterRefreshFrames.load(), 0);
    link.meterChangeFlags = 0;
    Block(m, link, 0.1f);
    EXPECT_EQ(link.meterChangeFlags.load(), 0);
}

TEST(MeterOverload, Thresholds) {
    struct Case {
        int smpte, level;
        bool over;
    } cases[] = {{1, 30000, true}, {1, 29184, false}, {0, 24000, true}, {0, 23040, false}};
    auto count = [](MeterBallistics& b, bool screen) {
        int shown = 0;
        while (screen ? b.TakeScreenOverload(0) : b.TakeOverlayOverload(0))
            ++shown;
        return shown;
    };
    for (const Case& c : cases) {
        MeterBallistics b;
        MeterBallistics::Scale scale;
        scale.smpte = c.smpte != 0;
        b.SetLevels(c.level, 0, 0.0f, 0.0f, scale);
        EXPECT_FALSE(b.TakeScreenOverload(1));
        // The screen mark shows for 12 repaints, the overlay's for 18 pictures.
        EXPECT_EQ(count(b, true), c.over ? 12 : 0) << c.level;
        EXPECT_EQ(count(b, false), c.over ? 18 : 0) << c.level;
    }

    // vMix mode: a peak above +14.5 (SMPTE) lights the overlay mark without a high level.
    PpmMeter v;
    MeterLink link;
    MeterSettings vmix{};
    vmix.meterMode = 1;
    link.meterChangeFlags = kMeterChangeMode;
    v.SetOverlayEnabled(true);
    Block(v, link, 1.0f, /*ebuMode=*/0, vmix);  // L = 0 + 16
    EXPECT_TRUE(v.ballistics().TakeOverlayOverload(0));
    EXPECT_FALSE(v.TakeScreenOverload(0));
}

TEST(MeterTick, BallisticsAndHoldReset) {
    MeterBallistics b;
    b.SetLevels(32768, 0, 1.0f, 0.0f, {});  // position 384
    EXPECT_FALSE(b.TickOverlay(false)) << "the overlay bars' tick repaints only when in use";
    EXPECT_TRUE(b.TickScreen(false));
    EXPECT_EQ(b.shownLeft(), 384) << "immediate rise";
    b.SetLevels(0, 0, 0.0f, 0.0f, {});  // the tick asked for fresh holds: they drop to 0
    EXPECT_EQ(b.hold(0), 0);
    std::vector<int> falls;
    int last = b.shownLeft();
    for (int i = 0; i < 12; ++i) {
        b.TickScreen(false);
        falls.push_back(last - b.shownLeft());
        last = b.shownLeft();
    }
    EXPECT_EQ(falls, (std::vector<int>{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3}));
    // Within one step of the target it lands there and the fall starts slowly again.
    int s = 5, c = 9;
    MeterBallistics::FallStep(s, 3, c);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(c, 0);
}

class BoxRasteriser : public ITextRasteriser {
public:
    bool RasteriseLine(std::string_view utf8, int width, int height, int, uint8_t* bgra) override {
        texts.emplace_back(utf8);
        std::memset(bgra, 0, static_cast<size_t>(width) * height * 4);
        uint8_t* c = bgra + ((height / 2) * width + width / 2) * 4;
        c[0] = c[1] = c[2] = 255;
        return true;
    }
    std::vector<std::string> texts;
};

uint32_t PixelAt(const ImageBuffer& p, int x, int y) {
    uint32_t v;
    std::memcpy(&v, p.pixels() + (static_cast<size_t>(y) * p.width + x) * 4, 4);
    return v;
}

MeterBars Bars(int left, int right, bool overloadLeft = false) {
    MeterBars bars;
    bars.left = left;
    bars.right = right;
    bars.overloadLeft = overloadLeft;
    return bars;
}

TEST(MeterOverlay, VerticalLayoutAt1080p) {
    BoxRasteriser text;
    MeterPictures m(&text);
    // A full bar on the left, one and a half segments (72 units) on the right.
    m.Build(1, 1920, 1080, /*smpte=*/true, Bars(384, 72));
    const MeterPicture* pic = m.Acquire();
    ASSERT_EQ(pic->layout, 1);
    EXPECT_EQ(pic->frameWidth, 1920);
    EXPECT_EQ(pic->frameHeight, 1080);
    ASSERT_EQ(pic->picture.width, 120);
    ASSERT_EQ(pic->picture.height, 864);
    EXPECT_EQ(text.texts, (std::vector<std::string>{"-12", " - 8 ", " - 4 ", " +4 ", " +8 ",
                                                    " +12 ", "0dBu", "0VU"}));
    const ImageBuffer& p = pic->picture;
    const int s = (864 - 4) / 8;  // 107 rows a segment
    // Left bar: 8 segments from the bottom, colours 0..7.
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(PixelAt(p, 5, 864 - 2 - i * s - 1), MeterPictures::kColours[i]) << i;
    }
    // Right bar: one and a half segments, black above.
    EXPECT_EQ(PixelAt(p, 110, 864 - 3), MeterPictures::kColours[0]);
    EXPECT_EQ(PixelAt(p, 110, 864 - 2 - s - s / 2 + 1), MeterPictures::kColours[1]);
    EXPECT_EQ(PixelAt(p, 110, 864 - 2 - s - s / 2 - 2), 0xFF000000u);
    EXPECT_EQ(PixelAt(p, 110, 2), 0xFF000000u);
    // A label sits centred on a segment boundary: the white pixel of "-12" at boundary 1.
    EXPECT_EQ(PixelAt(p, 60, 864 - 2 - s) & 0xFFFFFF, 0xFFFFFFu);
}

TEST(MeterOverlay, HorizontalLayoutOverloadAndPortrait) {
    BoxRasteriser text;
    MeterPictures m(&text);
    m.Build(0, 1920, 1080, false, Bars(0, 0, /*overloadLeft=*/true));
    const ImageBuffer& p = m.Acquire()->picture;
    ASSERT_EQ(p.width, 1536);
    ASSERT_EQ(p.height, 108);
    const int s = (1536 - 4) / 8;
    EXPECT_EQ(PixelAt(p, 1536 - 3, 10), MeterPictures::kColours[8]) << "overload mark";
    EXPECT_EQ(PixelAt(p, 1536 - 3 - s / 4 - 1, 10), 0xFF000000u);
    EXPECT_EQ(PixelAt(p, 1536 - 3, 80), 0xFF000000u) << "right channel not overloaded";

    m.Build(0, 1080, 1920, false, Bars(0, 0));  // portrait: 1/20 of the height
    const MeterPicture* portrait = m.Acquire();
    EXPECT_EQ(portrait->picture.width, 864);
    EXPECT_EQ(portrait->picture.height, 96);
}

// The meter's overlay tick draws each overload mark once per picture, and only while the overlay
// is in use; the pictures follow the stored layout and the frame size it is given.
TEST(MeterOverlay, TheMeterBuildsItsPicturesOnTheOverlayTick) {
    PpmMeter m;
    MeterLink link;
    MeterSettings settings{};
    settings.meterLayout = 1;
    m.MeterTick(MeterTimer::OverlayBars, settings, 1920, 1080);
    EXPECT_TRUE(m.pictures().Acquire()->picture.empty()) << "overlay not in use";
    m.SetOverlayEnabled(true);
    m.ballistics().SetLevels(40000, 0, 2.0f, 0.0f, {});  // 18 overlay marks on the left
    EXPECT_TRUE(m.MeterTick(MeterTimer::OverlayBars, settings, 1920, 1080));
    const MeterPicture* pic = m.pictures().Acquire();
    EXPECT_EQ(pic->layout, 1);
    EXPECT_EQ(pic->picture.width, 120);
    int left = 0;
    while (m.ballistics().TakeOverlayOverload(0))
        ++left;
    EXPECT_EQ(left, 17);
}

TEST(MeterOverlay, TheHeldPictureIsNeverRedrawn) {
    MeterPictures m(nullptr);
    m.Build(0, 640, 360, false, Bars(0, 0));
    const MeterPicture* held = m.Acquire();
    const std::vector<uint8_t> before(held->picture.pixels(),
                                      held->picture.pixels() + held->picture.byteSize);
    for (int i = 0; i < 5; ++i)
        m.Build(0, 640, 360, false, Bars(384, 0));
    EXPECT_EQ(std::memcmp(before.data(), held->picture.pixels(), before.size()), 0);
    const MeterPicture* fresh = m.Acquire();
    EXPECT_NE(fresh, held);
    EXPECT_EQ(PixelAt(fresh->picture, 300, 10), MeterPictures::kColours[4]);
}

TEST(MeterOverlay, WaveformScrolls) {
    MeterPictures m(nullptr);
    MeterBars bars;
    bars.waveform = 384;
    m.Build(2, 1280, 720, false, bars);
    const ImageBuffer* p = &m.Acquire()->picture;
    ASSERT_EQ(p->width, 400);
    ASSERT_EQ(p->height, 90);
    const int step = (400 - 4) / 32;
    EXPECT_EQ(PixelAt(*p, 400 - step, 45), MeterPictures::kColours[3]);
    bars.waveform = 0;
    for (int i = 0; i < 12; ++i)
        m.Build(2, 1280, 720, false, bars);
    p = &m.Acquire()->picture;
    EXPECT_EQ(PixelAt(*p, 400 - step * 13, 45), MeterPictures::kColours[3])
        << "the first line moved left one step per update";
    EXPECT_EQ(PixelAt(*p, 400 - step, 45), 0xFF000000u);
}

TEST(MeterScreen, Geometry) {
    // 40 x 206 client, 3-pixel edges: area 200 high, span 180, 71 % line at 203 - 127 = 76.
    MeterScreenLayout g = MeterScreenGeometry(40, 206, 3, 100, 300, 384, false, true, true);
    ASSERT_EQ(g.rectCount, 4);
    EXPECT_EQ(g.rects[0].top, 203 - 100 * 180 / 384);
    EXPECT_EQ(g.rects[0].g, 170);
    EXPECT_EQ(g.rects[0].right, 37 / 2);
    EXPECT_EQ(g.rects[1].left, 37 / 2 + 2);
    EXPECT_EQ(g.rects[1].top, 203 - 300 * 180 / 384);
    EXPECT_EQ(g.rects[1].bottom, 203 - 180 * 71 / 100);
    EXPECT_EQ(g.rects[1].r, 205);
    EXPECT_EQ(g.rects[2].g, 187);
    EXPECT_EQ(g.rects[3].r, 238);
    EXPECT_EQ(g.rects[3].bottom, 203 - 180 - 2);
    ASSERT_EQ(g.labelCount, 3);
    EXPECT_STREQ(g.labels[0].text, "- 0 -");
    EXPECT_EQ(g.labels[0].y, 3 + 43 * 200 / 128);
    EXPECT_EQ(g.labels[0].x, (34 - 15) / 2);
}

}  // namespace
}  // namespace velmor
