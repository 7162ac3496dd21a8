// The texts of the Sources Found table, including what a source sending absurd values gets.
#include "discovery/scan_cells.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace velmor {
namespace {

struct VideoCase {
    int w, h;
    NDIlib_FourCC_video_type_e fourcc;
    int n, d;
    NDIlib_frame_format_type_e type;
    float aspect;
    VideoCells expected;
};

TEST(ScanCells, VideoFramesGiveTheTableTexts) {
    constexpr auto kP = NDIlib_frame_format_type_progressive;
    constexpr auto kI = NDIlib_frame_format_type_interleaved;
    constexpr auto kF1 = NDIlib_frame_format_type_field_1;
    constexpr auto kUyvy = NDIlib_FourCC_video_type_UYVY;
    constexpr auto kUyva = NDIlib_FourCC_video_type_UYVA;
    constexpr auto kBgra = NDIlib_FourCC_video_type_BGRA;
    constexpr auto kBgrx = NDIlib_FourCC_video_type_BGRX;
    constexpr auto kRgba = NDIlib_FourCC_video_type_RGBA;
    constexpr float k169 = 16.0f / 9.0f;
    constexpr int kMax = 2147483647;
    const char* const kHuge = "1000000015047466219876688855040.00:1";
    const VideoCase cases[] = {
        {1920, 1080, kUyvy, 30000, 1001, kI, k169, {"1920 x 1080", "59.94i", "1.78:1", ""}},
        {1280, 720, kUyvy, 50, 1, kP, k169, {"1280 x 720", "50.00p", "1.78:1", ""}},
        {1080, 1920, kBgra, 25, 1, kP, 9.0f / 16.0f, {"1080 x 1920", "25.00p", "1:1.78", "+Alpha"}},
        // Either field alone is a field rate too.
        {720, 576, kUyvy, 25, 1, kF1, 4.0f / 3.0f, {"720 x 576", "50.00i", "1.33:1", ""}},
        {640, 480, kRgba, 60, 1, kP, 1.0f, {"640 x 480", "60.00p", "1.00:1", "+Alpha"}},
        {640, 480, kUyva, 60, 1, kP, 1.0f, {"640 x 480", "60.00p", "1.00:1", "+Alpha"}},
        {640, 480, kBgrx, 60, 1, kP, 1.0f, {"640 x 480", "60.00p", "1.00:1", ""}},
        // Absurd values: texts, never a crash.
        {0, 0, kUyvy, 25, 0, kP, 0.0f, {"0 x 0", "", "1:inf", ""}},
        {-4, -2, kUyvy, -25, 1, kP, -2.0f, {"-4 x -2", "-25.00p", "1:-0.50", ""}},
        {kMax, 1, kUyvy, kMax, 1, kI, 1e30f, {"2147483647 x 1", "4294967296.00i", kHuge, ""}},
    };
    for (const VideoCase& c : cases) {
        NDIlib_video_frame_v2_t f{};
        f.xres = c.w;
        f.yres = c.h;
        f.FourCC = c.fourcc;
        f.frame_rate_N = c.n;
        f.frame_rate_D = c.d;
        f.frame_format_type = c.type;
        f.picture_aspect_ratio = c.aspect;
        EXPECT_EQ(VideoCellsOf(f), c.expected) << c.w << "x" << c.h << " " << c.n << "/" << c.d;
    }
    // Not a number stays a text as well.
    EXPECT_NE(AspectCell(std::numeric_limits<float>::quiet_NaN()).find("nan"), std::string::npos);
}

TEST(ScanCells, AudioFramesGiveChannelsAndKilohertz) {
    const struct {
        int channels, rate;
        const char* text;
    } cases[] = {
        {2, 48000, "2 Ch - 48.0 KHz"},   {1, 44100, "1 Ch - 44.1 KHz"},
        {16, 96000, "16 Ch - 96.0 KHz"}, {0, 0, "0 Ch - 0.0 KHz"},
        {-1, -8000, "-1 Ch - -8.0 KHz"},
    };
    for (const auto& c : cases) {
        NDIlib_audio_frame_v2_t a{};
        a.no_channels = c.channels;
        a.sample_rate = c.rate;
        EXPECT_EQ(AudioCell(a), c.text);
    }
}

}  // namespace
}  // namespace velmor
