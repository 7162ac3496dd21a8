// Every version of every kernel family against its reference version, on every width from 1 to 64
// and a few large odd ones, at every level this processor runs (video/kernel_level.h). The
// reference versions themselves are checked against their formulas by the tests of each
// operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ndi/ndi_types.h"
#include "video/blend_rows.h"
#include "video/frame_transforms.h"
#include "video/kernel_level.h"
#include "video/key_split.h"
#include "video/preview_render.h"
#include "video/proc_amp.h"

namespace velmor {
namespace {

std::vector<int> Widths() {
    std::vector<int> w;
    for (int i = 1; i <= 64; ++i)
        w.push_back(i);
    for (int i : {127, 1021, 1919, 4095})
        w.push_back(i);
    return w;
}

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> v(bytes);
    for (auto& b : v)
        b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return v;
}

// Runs `kernel(level, bytes)` on a copy of `input` at every level and compares each result with
// the reference level's.
template <typename Kernel>
void ExpectLevelsAgree(const std::vector<uint8_t>& input, Kernel kernel, const std::string& what) {
    std::vector<uint8_t> want = input;
    kernel(KernelLevel::Reference, want);
    for (const KernelLevel level : SupportedKernelLevels()) {
        std::vector<uint8_t> got = input;
        kernel(level, got);
        ASSERT_EQ(got, want) << what << " at " << KernelLevelName(level);
    }
}

TEST(Kernels, BlendRows) {
    for (int n : Widths()) {
        const std::vector<uint8_t> picture = Noise(static_cast<size_t>(n) * 4, n);
        for (bool uyvy : {false, true}) {
            // A UYVY row holds the picture's pixels in (n + 1) / 2 macropixels.
            const size_t rowBytes = uyvy ? static_cast<size_t>((n + 1) / 2) * 4 : n * 4u;
            ExpectLevelsAgree(
                Noise(rowBytes, 7 * n),
                [&](KernelLevel level, std::vector<uint8_t>& row) {
                    const BlendRowKernels& k = BlendRowsFor(level);
                    (uyvy ? k.uyvy : k.bgra)(row.data(), picture.data(), n);
                },
                (uyvy ? "UYVY blend, " : "BGRA blend, ") + std::to_string(n) + " pixels");
        }
    }
}

TEST(Kernels, ProcAmp) {
    // Tables that are no simple function of their index, with and without the pair tables.
    auto tables = std::make_unique<ProcAmpByteTables>();
    const std::vector<uint8_t> t = Noise(3 * 256, 99);
    std::copy(t.begin(), t.begin() + 256, tables->lumaTable);
    std::copy(t.begin() + 256, t.begin() + 512, tables->uTable);
    std::copy(t.begin() + 512, t.end(), tables->vTable);
    for (bool pairs : {false, true}) {
        if (pairs) DerivePairTables(*tables);
        for (int w : Widths()) {
            for (bool uyvy : {false, true}) {
                const int h = 3, stride = w * (uyvy ? 2 : 4) + 5;  // padding that must stay
                const uint32_t fourCC = uyvy ? uint32_t{NDIlib_FourCC_video_type_UYVY}
                                             : uint32_t{NDIlib_FourCC_video_type_BGRA};
                ExpectLevelsAgree(
                    Noise(static_cast<size_t>(stride) * h, w),
                    [&](KernelLevel level, std::vector<uint8_t>& f) {
                        ProcAmpFor(fourCC, level)(FrameView{f.data(), w, h, stride, fourCC},
                                                  *tables);
                    },
                    std::string(uyvy ? "UYVY" : "BGRA") + " proc amp, " + std::to_string(w) +
                        (pairs ? " pixels, pair tables" : " pixels"));
            }
        }
    }
    // The band form: bands in any order give the frame's result.
    for (bool uyvy : {false, true}) {
        const int w = 37, h = 11, stride = w * 4;
        const uint32_t fourCC = uyvy ? uint32_t{NDIlib_FourCC_video_type_UYVY}
                                     : uint32_t{NDIlib_FourCC_video_type_BGRA};
        for (const KernelLevel level : SupportedKernelLevels()) {
            std::vector<uint8_t> whole = Noise(static_cast<size_t>(stride) * h, 3), banded = whole;
            ProcAmpFor(fourCC, level)(FrameView{whole.data(), w, h, stride, fourCC}, *tables);
            const ProcAmpRowsFn rows = ProcAmpRowsFor(fourCC, level);
            const FrameView f{banded.data(), w, h, stride, fourCC};
            for (auto [first, end] : {std::pair{4, 9}, {0, 4}, {9, 11}})
                rows(f, first, end, *tables);
            EXPECT_EQ(banded, whole) << KernelLevelName(level);
        }
    }
}

TEST(Kernels, QuarterTurns) {
    for (int w : Widths()) {
        for (int h : {1, 2, 7, 8, 9, 17}) {
            if (int64_t{w} * h > 40000) continue;
            for (bool uyvy : {false, true}) {
                const int stride = w * (uyvy ? 2 : 4) + 4;  // padded source rows
                const std::vector<uint8_t> src = Noise(static_cast<size_t>(stride) * h, w * h);
                for (int mode : {1, 3}) {
                    ExpectLevelsAgree(
                        {},
                        [&](KernelLevel level, std::vector<uint8_t>& out) {
                            ImageBuffer turned;
                            ASSERT_TRUE(QuarterTurnFor(uyvy, mode, level)(w, h, src.data(), stride,
                                                                          turned));
                            out.assign(turned.pixels(), turned.pixels() + turned.byteSize);
                        },
                        std::string(uyvy ? "UYVY" : "BGRA") + " turn " + std::to_string(mode) +
                            ", " + std::to_string(w) + " x " + std::to_string(h));
                }
            }
        }
    }
}

// The turned picture of `src` from bands of `band` source rows, or whole when band is 0.
std::vector<uint8_t> Turned(bool uyvy, int mode, KernelLevel level, int w, int h,
                            const std::vector<uint8_t>& src, int stride, int band) {
    ImageBuffer out;
    EXPECT_TRUE(QuarterTurnFor(uyvy, mode, level)(w, h, src.data(), stride, out));
    if (band > 0) {
        std::fill(out.pixels(), out.pixels() + out.byteSize, 0xEE);
        const QuarterTurnBandFn turn = QuarterTurnBandFor(uyvy, mode, level);
        for (int first = 0; first < h; first += band)
            turn(w, h, src.data(), stride, out.pixels(), first, first + band);
    }
    return {out.pixels(), out.pixels() + out.byteSize};
}

TEST(Kernels, QuarterTurnBands) {
    // Bands of odd and even heights (a UYVY row pair split between two bands goes with the
    // second) give the whole turn, odd sides included.
    for (bool uyvy : {false, true}) {
        for (auto [w, h] : {std::pair{37, 29}, {36, 30}, {70, 41}}) {
            const int stride = w * (uyvy ? 2 : 4) + 12;
            const std::vector<uint8_t> src = Noise(static_cast<size_t>(stride) * h, w + h);
            for (int mode : {1, 3}) {
                for (const KernelLevel level : SupportedKernelLevels()) {
                    const std::vector<uint8_t> whole =
                        Turned(uyvy, mode, level, w, h, src, stride, 0);
                    for (int band : {1, 2, 3, 8, 13}) {
                        ASSERT_EQ(Turned(uyvy, mode, level, w, h, src, stride, band), whole)
                            << (uyvy ? "UYVY" : "BGRA") << " turn " << mode << ", " << w << " x "
                            << h << " in bands of " << band << " at " << KernelLevelName(level);
                    }
                }
            }
        }
    }
}

TEST(Kernels, QuarterTurnsOfLargePictures) {
    // Pictures large enough to be written past the caches: turned rows that start at every
    // 4-byte offset within a cache line, and rows of which every other one starts half way into
    // a line (as at 2160 lines).
    for (auto [uyvy, w, h] : {std::tuple{true, 1802, 1750},
                              {true, 1806, 1744},
                              {false, 1302, 1210},
                              {false, 1304, 1208}}) {
        const int stride = w * (uyvy ? 2 : 4) + 20;
        const std::vector<uint8_t> src = Noise(static_cast<size_t>(stride) * h, w);
        for (int mode : {1, 3}) {
            const std::vector<uint8_t> want =
                Turned(uyvy, mode, KernelLevel::Reference, w, h, src, stride, 0);
            for (const KernelLevel level : SupportedKernelLevels()) {
                ASSERT_TRUE(Turned(uyvy, mode, level, w, h, src, stride, 0) == want)
                    << (uyvy ? "UYVY" : "BGRA") << " turn " << mode << " at "
                    << KernelLevelName(level);
                ASSERT_TRUE(Turned(uyvy, mode, level, w, h, src, stride, 600) == want)
                    << (uyvy ? "UYVY" : "BGRA") << " turn " << mode << " in bands at "
                    << KernelLevelName(level);
            }
        }
    }
}

TEST(Kernels, InPlaceGeometry) {
    for (int w : Widths()) {
        for (int h : {1, 2, 5, 16}) {
            for (bool uyvy : {false, true}) {
                const int stride = w * (uyvy ? 2 : 4) + 8;
                for (int mode : {2, 4, 5}) {
                    ExpectLevelsAgree(
                        Noise(static_cast<size_t>(stride) * h, w + h),
                        [&](KernelLevel level, std::vector<uint8_t>& data) {
                            InPlaceFor(uyvy, mode, level)(w, h, data.data(), stride);
                        },
                        std::string(uyvy ? "UYVY" : "BGRA") + " mode " + std::to_string(mode) +
                            ", " + std::to_string(w) + " x " + std::to_string(h));
                }
            }
        }
    }
}

TEST(Kernels, InPlaceGeometryBands) {
    // The band forms against the in-place operation, band after band in order: the mirror in
    // place, the half turn and the vertical flip into another picture (rows of its own length),
    // small pictures that the operations leave alone included.
    for (int w : Widths()) {
        for (int h : {1, 2, 3, 5, 16, 17}) {
            for (bool uyvy : {false, true}) {
                const int bpp = uyvy ? 2 : 4;
                const int stride = w * bpp + 8;
                const std::vector<uint8_t> src = Noise(static_cast<size_t>(stride) * h, w * h);
                for (int mode : {2, 4, 5}) {
                    const std::string what = std::string(uyvy ? "UYVY" : "BGRA") + " mode " +
                                             std::to_string(mode) + ", " + std::to_string(w) +
                                             " x " + std::to_string(h);
                    std::vector<uint8_t> want = src;
                    InPlaceFor(uyvy, mode, KernelLevel::Reference)(w, h, want.data(), stride);
                    for (const KernelLevel level : SupportedKernelLevels()) {
                        for (int band : {1, 2, 3, 7}) {
                            if (mode == 4) {
                                std::vector<uint8_t> got = src;
                                for (int first = 0; first < h; first += band)
                                    MirrorBandFor(uyvy)(w, h, got.data(), stride, first,
                                                        first + band);
                                ASSERT_EQ(got, want) << what << " in bands of " << band;
                                continue;
                            }
                            const MoveBandFn move = MoveBandFor(uyvy, w, mode, level);
                            if (uyvy && w % 2) {
                                ASSERT_EQ(move, nullptr) << what;
                                continue;
                            }
                            const int outStride = w * bpp + 4;
                            std::vector<uint8_t> out(static_cast<size_t>(outStride) * h, 0xEE);
                            int finished = 0;
                            for (int first = 0; first < h; first += band) {
                                const int end = std::min(h, first + band);
                                const RowSpan rows = move(w, h, src.data(), stride, out.data(),
                                                          outStride, first, first + band);
                                ASSERT_EQ(rows.end - rows.first, end - first) << what;
                                finished += rows.end - rows.first;
                            }
                            ASSERT_EQ(finished, h) << what;
                            for (int y = 0; y < h; ++y) {
                                ASSERT_TRUE(std::equal(out.begin() + y * outStride,
                                                       out.begin() + y * outStride + w * bpp,
                                                       want.begin() + y * stride))
                                    << what << " in bands of " << band << " at "
                                    << KernelLevelName(level) << ", row " << y;
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(Kernels, DeinterlaceLines) {
    for (int n : Widths()) {
        const std::vector<uint8_t> a = Noise(n, n), b = Noise(n, 3 * n);
        ExpectLevelsAgree(
            Noise(n, 5 * n),
            [&](KernelLevel level, std::vector<uint8_t>& dst) {
                DeinterlaceRowsFor(level).average(dst.data(), a.data(), b.data(), n);
            },
            "average, " + std::to_string(n));
        ExpectLevelsAgree(
            Noise(n, 5 * n),
            [&](KernelLevel level, std::vector<uint8_t>& dst) {
                DeinterlaceRowsFor(level).blend(dst.data(), a.data(), b.data(), n);
            },
            "blend, " + std::to_string(n));
    }
    for (int n : Widths()) {
        const std::vector<uint8_t> below = Noise(n, 3 * n), carryIn = Noise(n, 7 * n);
        ExpectLevelsAgree(
            Noise(n, 5 * n),
            [&](KernelLevel level, std::vector<uint8_t>& line) {
                std::vector<uint8_t> carry = carryIn;
                DeinterlaceRowsFor(level).blendCarry(line.data(), carry.data(), below.data(), n);
                line.insert(line.end(), carry.begin(), carry.end());  // the carry is a result too
            },
            "blend with carry, " + std::to_string(n));
    }
    // Whole frames in the three modes, lines longer than the de-interlacer's blocks.
    for (int width : {4099, 16390}) {
        for (int mode = 1; mode <= 3; ++mode) {
            ExpectLevelsAgree(
                Noise(static_cast<size_t>(width) * 7, mode),
                [&](KernelLevel level, std::vector<uint8_t>& frame) {
                    Deinterlace(mode, width, 7, width, frame.data(), DeinterlaceRowsFor(level));
                },
                "mode " + std::to_string(mode) + ", " + std::to_string(width) + " bytes");
        }
    }
}

TEST(Kernels, DeinterlaceBands) {
    // Consecutive bands of any height, the carried line passed on, give the whole frame's result.
    const int stride = 61;
    for (int height : {1, 2, 3, 8, 9, 12}) {
        const std::vector<uint8_t> input = Noise(static_cast<size_t>(stride) * height, height);
        for (int mode = 1; mode <= 3; ++mode) {
            for (const KernelLevel level : SupportedKernelLevels()) {
                std::vector<uint8_t> whole = input;
                Deinterlace(mode, stride, height, stride, whole.data(), DeinterlaceRowsFor(level));
                for (int band : {1, 2, 3, 5}) {
                    std::vector<uint8_t> banded = input, carry(stride, 0xEE);
                    for (int first = 0; first < height; first += band) {
                        ASSERT_EQ(
                            DeinterlaceBand(mode, stride, height, stride, banded.data(), first,
                                            first + band, carry.data(), DeinterlaceRowsFor(level)),
                            1);
                    }
                    ASSERT_EQ(banded, whole)
                        << "mode " << mode << ", " << height << " lines in bands of " << band
                        << " at " << KernelLevelName(level);
                }
            }
        }
    }
}

TEST(Kernels, KeyRow) {
    for (int n : Widths()) {
        const std::vector<uint8_t> bgra = Noise(static_cast<size_t>(n) * 4, n);
        ExpectLevelsAgree(
            Noise(static_cast<size_t>(n) * 2, 2 * n),
            [&](KernelLevel level, std::vector<uint8_t>& key) {
                KeyRowFor(level)(bgra.data(), key.data(), n);
            },
            "key, " + std::to_string(n));
    }
}

TEST(Kernels, PreviewRows) {
    for (int n : Widths()) {
        // Halved: n macropixels give n pixels; full: n / 2 macropixels give n pixels.
        const std::vector<uint8_t> uyvy = Noise(static_cast<size_t>(n) * 4 + 32, n);
        ExpectLevelsAgree(
            std::vector<uint8_t>(static_cast<size_t>(n) * 3 + 16),
            [&](KernelLevel level, std::vector<uint8_t>& out) {
                PreviewRowsFor(level).halved(uyvy.data(), n, out.data());
            },
            "halved, " + std::to_string(n));
        ExpectLevelsAgree(
            std::vector<uint8_t>(static_cast<size_t>(n) * 3),
            [&](KernelLevel level, std::vector<uint8_t>& out) {
                PreviewRowsFor(level).full(uyvy.data(), n, out.data());
            },
            "full, " + std::to_string(n));
        for (int bpp : {24, 32}) {
            const std::vector<uint8_t> bitmap = Noise(static_cast<size_t>(n) * bpp / 8, n + bpp);
            ExpectLevelsAgree(
                std::vector<uint8_t>(static_cast<size_t>(n) * 4),
                [&](KernelLevel level, std::vector<uint8_t>& out) {
                    OpaqueRgb32For(level)(bitmap.data(), bpp,
                                          reinterpret_cast<uint32_t*>(out.data()), n);
                },
                "opaque " + std::to_string(bpp) + ", " + std::to_string(n));
        }
    }
}

// The waveform of a frame at `level`, as PreviewRenderer makes it.
std::vector<uint8_t> Waveform(KernelLevel level, const std::vector<uint8_t>& frame, int w, int h,
                              bool yuv, int graticule) {
    PreviewRenderer r(level);
    r.waveformOn = 1;
    r.graticuleType = graticule;
    const uint32_t fourCC =
        yuv ? uint32_t{NDIlib_FourCC_video_type_UYVY} : uint32_t{NDIlib_FourCC_video_type_BGRA};
    const int stride = w * (yuv ? 2 : 4) + 8;
    EXPECT_EQ(r.Render(frame.data(), w, h, stride, fourCC, 0.0f), 24);
    const PreviewBitmap* b = r.AcquireBitmap();
    return {b->pixels.get(), b->pixels.get() + static_cast<size_t>(b->width) * 270 * 3};
}

TEST(Kernels, WaveformTrace) {
    // Noise gives every count from none to past saturation; widths around the strips; four-byte
    // frames of over 720 lines use every fourth line. Counts pass 250 (where they are cut
    // back) in the frames of 600 and more lines.
    for (bool yuv : {true, false}) {
        for (auto [w, h] : {std::pair{2, 2}, {34, 9}, {62, 40}, {130, 600}, {66, 730}}) {
            const int stride = w * (yuv ? 2 : 4) + 8;
            const std::vector<uint8_t> frame = Noise(static_cast<size_t>(stride) * h, w * h);
            for (int graticule : {0, 1}) {
                const std::vector<uint8_t> want =
                    Waveform(KernelLevel::Reference, frame, w, h, yuv, graticule);
                for (const KernelLevel level : SupportedKernelLevels()) {
                    ASSERT_TRUE(Waveform(level, frame, w, h, yuv, graticule) == want)
                        << (yuv ? "UYVY " : "BGRA ") << w << " x " << h << " at "
                        << KernelLevelName(level);
                }
            }
        }
    }
    // A constant frame: every sample of a column on one point, far past 250.
    const std::vector<uint8_t> flat(static_cast<size_t>(40 * 2 + 8) * 1200, 90);
    for (const KernelLevel level : SupportedKernelLevels())
        EXPECT_TRUE(Waveform(level, flat, 40, 1200, true, 1) ==
                    Waveform(KernelLevel::Reference, flat, 40, 1200, true, 1));

    // Four-byte pixels whose luma is a whole number or just below one, where the rounding of
    // the defined double arithmetic decides: one sample per column (two lines), so every luma
    // shows as its own point.
    std::vector<uint8_t> edges;
    for (int b = 0; b < 256; ++b) {
        for (int g = 0; g < 256; ++g) {
            for (int r = 0; r < 256; ++r) {
                const int rest = (6142 * g + 1826 * r + 620 * b) % 10000;
                if (rest == 0 || rest == 9999) {
                    const uint8_t px[8] = {static_cast<uint8_t>(b),
                                           static_cast<uint8_t>(g),
                                           static_cast<uint8_t>(r),
                                           0,
                                           0,
                                           0,
                                           0,
                                           0};
                    edges.insert(edges.end(), px, px + 8);
                }
            }
        }
    }
    const int w = static_cast<int>(edges.size() / 4), stride = w * 4 + 8;
    ASSERT_LE(w, 8192);
    std::vector<uint8_t> frame(static_cast<size_t>(stride) * 2);
    std::copy(edges.begin(), edges.end(), frame.begin());
    const std::vector<uint8_t> want = Waveform(KernelLevel::Reference, frame, w, 2, false, 1);
    for (const KernelLevel level : SupportedKernelLevels())
        EXPECT_TRUE(Waveform(level, frame, w, 2, false, 1) == want) << KernelLevelName(level);
}

TEST(Kernels, WaveformTraceBands) {
    // Bands of sampled rows, one after another, give the trace of the whole frame.
    for (bool yuv : {true, false}) {
        const int w = 70, h = 800, n = w / 2, m = h / 2;
        const int64_t stride = w * (yuv ? 2 : 4);
        const std::vector<uint8_t> frame = Noise(static_cast<size_t>(stride) * h, 11);
        for (const KernelLevel level : SupportedKernelLevels()) {
            const WaveformTraceFn trace = WaveformTraceFor(level);
            std::vector<uint8_t> whole(static_cast<size_t>(n) * 270 * 3, 0), banded = whole;
            trace(frame.data(), w, h, stride, yuv, 0, m, whole.data());
            for (int first = 0; first < m; first += 37)
                trace(frame.data(), w, h, stride, yuv, first, first + 37, banded.data());
            EXPECT_TRUE(banded == whole) << (yuv ? "UYVY " : "BGRA ") << KernelLevelName(level);
        }
    }
}

}  // namespace
}  // namespace velmor
