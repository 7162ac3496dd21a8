#include "video/proc_amp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace velmor {
namespace {

std::unique_ptr<ProcAmpTables> Build(const ProcAmpSettings& s) {
    auto t = std::make_unique<ProcAmpTables>();
    FullRebuild(*t, s);
    return t;
}

ProcAmpSettings With(int32_t ProcAmpSettings::*field, int32_t value) {
    ProcAmpSettings s;
    s.*field = value;
    return s;
}

TEST(ProcAmpTables, NeutralIsIdentityInBothOrders) {
    for (int order : {0, 1}) {
        ProcAmpSettings s;
        s.fxOrder = order;
        const auto t = Build(s);
        for (int i = 0; i < 1024; ++i)
            EXPECT_EQ(t->lumaCurve10[i], std::min(i, 1021)) << i;
        for (int i = 0; i < 256; ++i) {
            EXPECT_EQ(t->lumaTable[i], i);
            EXPECT_EQ(t->uTable[i], i);
            EXPECT_EQ(t->vTable[i], i);
        }
    }
}

TEST(ProcAmpTables, BlackLevelAndGain) {
    auto t = Build(With(&ProcAmpSettings::blackLevel, 0));
    for (int i = 0; i < 1024; ++i)
        EXPECT_EQ(t->lumaCurve10[i], std::min(i + 200, 1021));
    EXPECT_EQ(t->lumaTable[0], 50);

    t = Build(With(&ProcAmpSettings::blackLevel, 255));
    for (int i = 0; i < 1024; ++i)
        EXPECT_EQ(t->lumaCurve10[i], std::max(i - 820, 0));

    t = Build(With(&ProcAmpSettings::gain, -50));
    EXPECT_EQ(t->lumaTable[16], 16);
    EXPECT_EQ(t->lumaTable[100], 198);
    EXPECT_EQ(t->lumaTable[255], 255);
}

TEST(ProcAmpTables, ShapeCurves) {
    const auto t = Build(ProcAmpSettings{});
    EXPECT_EQ(t->gammaLowerCurve[64], 63);
    EXPECT_EQ(t->gammaLiftCurve[64], 64);
    EXPECT_EQ(t->gammaLiftCurve[1023], 940);
    EXPECT_EQ(t->contrastUpCurve[1000], 940);
    EXPECT_EQ(t->contrastDownCurve[0], 64);
    EXPECT_EQ(t->contrastDownCurve[1023], 1023);

    auto c = Build(With(&ProcAmpSettings::contrast, 0));
    for (int i = 0; i < 1022; ++i)
        EXPECT_EQ(c->lumaCurve10[i], c->contrastUpCurve[i]) << i;
    c = Build(With(&ProcAmpSettings::contrast, 100));
    for (int i = 0; i < 1022; ++i)
        EXPECT_EQ(c->lumaCurve10[i], c->contrastDownCurve[i]) << i;
    for (int i = 502; i <= 511; ++i)
        EXPECT_EQ(c->lumaCurve10[i], 502);
}

TEST(ProcAmpTables, EffectOrderMatters) {
    ProcAmpSettings s;
    s.gamma = 0;
    s.contrast = 0;
    s.fxOrder = 0;
    EXPECT_EQ(Build(s)->lumaTable[128], 175);
    s.fxOrder = 1;
    EXPECT_EQ(Build(s)->lumaTable[128], 195);
}

TEST(ProcAmpTables, Chroma) {
    auto t = Build(With(&ProcAmpSettings::colourSat, 100));
    EXPECT_EQ(t->uTable[0], 99);
    EXPECT_EQ(t->vTable[0], 99);
    t = Build(With(&ProcAmpSettings::uLevelShift, 0));
    EXPECT_EQ(t->uTable[127], 152);
    EXPECT_EQ(t->vTable[127], 127);
    t = Build(With(&ProcAmpSettings::vLevelShift, 0));
    EXPECT_EQ(t->vTable[127], 102);
    t = Build(With(&ProcAmpSettings::colourSat, 0));  // k = 456: clamps at both ends
    EXPECT_EQ(t->uTable[0], 0);
    EXPECT_EQ(t->uTable[255], 255);
}

TEST(ProcAmpTables, CurveStaysInRangeOverTheSliderRangesAndBeyond) {
    // Every stage indexes a 1024-entry curve; out-of-range values from files are limited.
    auto t = std::make_unique<ProcAmpTables>();
    BuildShapeCurves(*t);
    const int blacks[] = {-100000, 0, 50, 255, 100000};
    const int gains[] = {-1000, -50, 0, 50, 1000};
    const int contrasts[] = {INT32_MIN, 0, 25, 75, 100, 180, 255, INT32_MAX};
    const int gammas[] = {-5, 0, 30, 70, 100, 1000};
    for (int order : {0, 1}) {
        for (int b : blacks) {
            for (int g : gains) {
                for (int c : contrasts) {
                    for (int gm : gammas) {
                        ProcAmpSettings s;
                        s.blackLevel = b, s.gain = g, s.contrast = c, s.gamma = gm;
                        s.fxOrder = order;
                        BuildLumaTables(*t, s);
                        const auto [lo, hi] =
                            std::minmax_element(t->lumaCurve10, t->lumaCurve10 + 1024);
                        ASSERT_LE(*hi, 1021) << b << " " << g << " " << c << " " << gm;
                        ASSERT_GE(*lo, 0);
                    }
                }
            }
        }
    }
    ProcAmpSettings wild;
    wild.colourSat = INT32_MAX;
    wild.uLevelShift = INT32_MIN;
    BuildUTable(*t, wild);  // limited to saturation 100 and shift 0: no overflow
    EXPECT_EQ(t->uTable[127], (25 * 56 >> 8) + 127);
}

TEST(ProcAmp, LinkingActiveFlagAndBypass) {
    ProcAmp p;
    EXPECT_EQ(p.active.load(), 0);
    p.SetUvLinking(2);
    p.SetParam(ProcAmpParam::kULevel, 30);
    EXPECT_EQ(p.settings.vLevelShift, 70);
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kULevel, p.settings), "+10");
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kVLevel, p.settings), "+10");
    EXPECT_EQ(p.tables().uTable[127], 137);
    EXPECT_EQ(p.tables().vTable[127], 137);
    EXPECT_EQ(p.active.load(), 1);

    p.SetUvLinking(1);  // Standard applies at once: V follows U
    EXPECT_EQ(p.settings.vLevelShift, 30);
    p.SetParam(ProcAmpParam::kVLevel, 50);
    EXPECT_EQ(p.settings.uLevelShift, 50);
    EXPECT_EQ(p.active.load(), 0);

    p.SetParam(ProcAmpParam::kGamma, 20);
    ASSERT_EQ(p.active.load(), 1);
    p.PressBypass();
    EXPECT_EQ(p.active.load(), 0);
    p.SetParam(ProcAmpParam::kGamma, 50);  // not recomputed while held
    EXPECT_EQ(p.active.load(), 0);
    p.ReleaseBypass();
    EXPECT_EQ(p.active.load(), 1) << "the value saved at the press returns";
}

TEST(ProcAmp, PartialRebuildsMatchAFullRebuildAndArePublished) {
    ProcAmp p;
    const ProcAmpByteTables* first = p.AcquireTables();
    EXPECT_EQ(first->lumaTable[77], 77);
    p.SetParam(ProcAmpParam::kContrast, 0);
    p.SetParam(ProcAmpParam::kGamma, 0);
    p.SetFxOrder(1);
    p.SetParam(ProcAmpParam::kColourSat, 100);
    p.SetParam(ProcAmpParam::kULevel, 0);
    const auto full = Build(p.settings);
    const ProcAmpByteTables* seen = p.AcquireTables();
    EXPECT_EQ(seen->lumaTable[128], 195);
    EXPECT_TRUE(std::equal(full->lumaTable, full->lumaTable + 768, seen->lumaTable));
}

TEST(ProcAmp, DisplayTexts) {
    ProcAmpSettings s;
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kBlackLevel, s), "+0");
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kGain, s), "100.0%");
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kColourSat, s), "100.0%");
    s.gain = -50;
    s.colourSat = 100;
    s.contrast = 255;
    s.vLevelShift = 0;
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kGain, s), "217.2%");
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kColourSat, s), "21.9%");
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kContrast, s), "-205");
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kVLevel, s), "-25");
    s.colourSat = 0;
    EXPECT_EQ(ProcAmpDisplayText(ProcAmpParam::kColourSat, s), "178.1%");
}

TEST(ApplyProcAmp, UYVYBytesAndBGRAAlphaOnly) {
    ProcAmpByteTables t;
    for (int i = 0; i < 256; ++i) {
        t.lumaTable[i] = static_cast<uint8_t>(i + 1);
        t.uTable[i] = static_cast<uint8_t>(i + 2);
        t.vTable[i] = static_cast<uint8_t>(i + 3);
    }
    // 2 x 2 UYVY with a padded stride of 8 bytes.
    uint8_t uyvy[16] = {10, 20, 30, 40, 9, 9, 9, 9, 50, 60, 70, 80, 9, 9, 9, 9};
    ApplyProcAmp(FrameView{uyvy, 2, 2, 8, NDIlib_FourCC_video_type_UYVY}, t);
    const uint8_t wantU[16] = {12, 21, 33, 41, 9, 9, 9, 9, 52, 61, 73, 81, 9, 9, 9, 9};
    EXPECT_TRUE(std::equal(uyvy, uyvy + 16, wantU));

    uint8_t bgra[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ApplyProcAmp(FrameView{bgra, 2, 1, 8, NDIlib_FourCC_video_type_BGRA}, t);
    const uint8_t wantB[8] = {1, 2, 3, 5, 5, 6, 7, 9};
    EXPECT_TRUE(std::equal(bgra, bgra + 8, wantB));

    // The pair tables give the same bytes as the byte tables.
    auto paired = std::make_unique<ProcAmpByteTables>(t);
    DerivePairTables(*paired);
    std::vector<uint8_t> a(64 * 4), b;
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<uint8_t>(i * 37 + 11);
    b = a;
    ApplyProcAmp(FrameView{a.data(), 32, 4, 64, NDIlib_FourCC_video_type_UYVY}, t);
    ApplyProcAmp(FrameView{b.data(), 32, 4, 64, NDIlib_FourCC_video_type_UYVY}, *paired);
    EXPECT_EQ(a, b);

    uint8_t other[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ApplyProcAmp(FrameView{other, 2, 1, 8, NDIlib_FourCC_video_type_NV12}, t);
    EXPECT_EQ(other[3], 4);
}

}  // namespace
}  // namespace velmor
