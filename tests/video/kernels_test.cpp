// Every version of every kernel family against its reference version, on every width from 1 to 64
// and a few large odd ones, at every level this processor runs (video/kernel_level.h). The
// reference versions themselves are checked against their formulas by the tests of each
// operation.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "video/blend_rows.h"
#include "video/frame_transforms.h"
#include "video/kernel_level.h"
#include "video/key_split.h"
#include "video/preview_render.h"

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
    // Whole frames in the three modes, lines longer than the de-interlacer's blocks.
    for (int mode = 1; mode <= 3; ++mode) {
        ExpectLevelsAgree(
            Noise(4099 * 7, mode),
            [&](KernelLevel level, std::vector<uint8_t>& frame) {
                Deinterlace(mode, 4099, 7, 4099, frame.data(), DeinterlaceRowsFor(level));
            },
            "mode " + std::to_string(mode));
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

}  // namespace
}  // namespace velmor
