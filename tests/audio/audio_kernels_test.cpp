// The audio block kernels: the reference versions against the arithmetic the audio path and the
// meter are defined by (written out sample by sample), and every level this processor runs against
// the reference, bit for bit, on every length from 0 to 64 and a few large odd ones, with the
// samples that matter (NaN, infinities, the float range's ends, signed zeros, subnormals). The
// block plan over every channel count up to 32 against a plain reading of the map, mono mix and
// gain.
#include "audio/audio_kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "audio/audio_plan.h"

namespace velmor {
namespace {

std::vector<int> Lengths() {
    std::vector<int> n;
    for (int i = 0; i <= 64; ++i)
        n.push_back(i);
    for (int i : {127, 1001, 1921, 4801})
        n.push_back(i);
    return n;
}

// Samples of every kind: ordinary values, then now and then one that is not.
std::vector<float> Samples(int n, uint32_t seed) {
    static const float kOdd[] = {std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 FLT_MAX,
                                 -FLT_MAX,
                                 0.0f,
                                 -0.0f,
                                 1e-40f,
                                 -1e-40f,
                                 3.0e38f};
    std::vector<float> v(static_cast<size_t>(n));
    for (float& s : v) {
        seed = seed * 1664525u + 1013904223u;
        if ((seed >> 28) == 0) {
            s = kOdd[(seed >> 8) % std::size(kOdd)];
        } else {
            s = (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f) * 1.5f;
        }
    }
    return v;
}

// The same bits, with every NaN alike.
::testing::AssertionResult SameBits(const std::vector<float>& got, const std::vector<float>& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < got.size(); ++i) {
        const bool bothNan = std::isnan(got[i]) && std::isnan(want[i]);
        if (!bothNan && std::bit_cast<uint32_t>(got[i]) != std::bit_cast<uint32_t>(want[i]))
            return ::testing::AssertionFailure()
                   << "sample " << i << ": " << got[i] << " instead of " << want[i];
    }
    return ::testing::AssertionSuccess();
}

// The gains of the Audio Map window's menu, unity, and the values that mean "copy".
const double kGains[] = {0.0, 1.0, 0.1, 0.5011872336272722, 1.9952623149688795, 10.0};

TEST(AudioKernels, ReferencesDoTheExpectedArithmetic) {
    const AudioKernels& k = AudioKernelsFor(KernelLevel::Reference);
    const std::vector<float> a = {0.5f, -0.25f, std::nanf(""), 3.0e38f, -3.0e38f, 1.0f};
    const std::vector<float> b = {0.25f, 0.25f, 1.0f, 3.0e38f, 0.0f, -1.0f};
    std::vector<float> out(a.size());
    k.scale(a.data(), out.data(), 6, 10.0);
    EXPECT_TRUE(SameBits(out, {5.0f, -2.5f, 0.0f, FLT_MAX, -FLT_MAX, 10.0f}))
        << "a NaN is silence, beyond the float range its end";
    k.half(a.data(), out.data(), 2);
    EXPECT_EQ(out[0], 0.25f);
    k.mix(a.data(), b.data(), out.data(), 2);
    EXPECT_EQ(out[0], 0.375f);
    EXPECT_EQ(out[1], 0.0f);
    // The sum is made in float: 3e38 + 3e38 is infinite before the gain, and stays at the top.
    k.mixScaled(a.data(), b.data(), out.data(), 6, 0.5);
    EXPECT_TRUE(SameBits(out, {static_cast<float>(0.75 * 0.5 * 0.5), 0.0f, 0.0f, FLT_MAX,
                               static_cast<float>(-3.0e38 * 0.25), 0.0f}));
    const PlanePeak peak = k.peak(b.data(), 6);
    EXPECT_EQ(peak.positive, 3.0e38f);
    EXPECT_EQ(peak.peak, 3.0e38f);
    const float quiet[] = {-0.5f, std::nanf(""), 0.25f};
    const PlanePeak q = k.peak(quiet, 3);
    EXPECT_EQ(q.positive, 0.25f);
    EXPECT_EQ(q.peak, 0.5f) << "a negative peak counts; a NaN is passed over";
    EXPECT_EQ(k.peak(quiet, 0).peak, 0.0f);
}

TEST(AudioKernels, EveryLevelGivesTheReferenceBits) {
    const AudioKernels& ref = AudioKernelsFor(KernelLevel::Reference);
    for (const KernelLevel level : SupportedKernelLevels()) {
        const AudioKernels& k = AudioKernelsFor(level);
        for (int n : Lengths()) {
            SCOPED_TRACE(std::string(KernelLevelName(level)) + ", " + std::to_string(n));
            const std::vector<float> a = Samples(n, 11u * n + 1), b = Samples(n, 7u * n + 3);
            std::vector<float> want(n + 1, 42.0f), got(n + 1, 42.0f);  // one beyond: untouched
            for (double gain : kGains) {
                ref.scale(a.data(), want.data(), n, gain);
                k.scale(a.data(), got.data(), n, gain);
                ASSERT_TRUE(SameBits(got, want)) << "scale by " << gain;
                ref.mixScaled(a.data(), b.data(), want.data(), n, gain);
                k.mixScaled(a.data(), b.data(), got.data(), n, gain);
                ASSERT_TRUE(SameBits(got, want)) << "mono mix by " << gain;
            }
            ref.half(a.data(), want.data(), n);
            k.half(a.data(), got.data(), n);
            ASSERT_TRUE(SameBits(got, want)) << "half";
            ref.mix(a.data(), b.data(), want.data(), n);
            k.mix(a.data(), b.data(), got.data(), n);
            ASSERT_TRUE(SameBits(got, want)) << "mono mix";
            const PlanePeak p = k.peak(a.data(), n), r = ref.peak(a.data(), n);
            ASSERT_TRUE(SameBits({p.positive, p.peak}, {r.positive, r.peak})) << "peak";
            // In place, as the monitor's preview scales the tapped planes.
            std::vector<float> inPlace = a;
            k.scale(inPlace.data(), inPlace.data(), n, 2.0);
            ref.scale(a.data(), want.data(), n, 2.0);
            ASSERT_TRUE(SameBits(inPlace, std::vector<float>(want.begin(), want.begin() + n)));
        }
    }
}

// Output i as the audio path writes it, one sample at a time.
std::vector<float> ExpectedOutput(const std::vector<std::vector<float>>& in,
                                  const std::array<int8_t, 32>& map, bool mono, double gain, int n,
                                  int i, int available, int outSamples) {
    const bool useGain = gain != 0.0 && gain != 1.0;
    auto present = [n](int m) { return m >= 0 && m < n; };
    std::vector<float> out(static_cast<size_t>(outSamples), 0.0f);
    const int owner = (mono && i == 1) ? 0 : i;
    for (int j = 0; j < available; ++j) {
        float v = 0.0f;
        if (mono && owner == 0) {
            const int a = map[0], b = map[1];
            if (present(a) && present(b)) {
                const float sum = in[a][j] + in[b][j];
                v = useGain ? Narrowed(static_cast<double>(sum) * gain * 0.5) : sum * 0.5f;
            } else if (present(a) || present(b)) {
                const float x = in[present(a) ? a : b][j];
                v = useGain ? Narrowed(static_cast<double>(x) * gain * 0.5) : x * 0.5f;
            }
        } else if (present(map[static_cast<size_t>(i)])) {
            const float x = in[map[static_cast<size_t>(i)]][j];
            v = useGain ? Narrowed(static_cast<double>(x) * gain) : x;
        }
        out[static_cast<size_t>(j)] = v;
    }
    return out;
}

TEST(AudioPlan, EveryChannelCountMapMonoMixAndGain) {
    constexpr int kSamples = 37, kPadded = 41;  // odd lengths, padded input planes
    for (const KernelLevel level : SupportedKernelLevels()) {
        const AudioKernels& k = AudioKernelsFor(level);
        for (int channels = 1; channels <= 32; ++channels) {
            std::vector<std::vector<float>> planes;
            std::vector<float> in(static_cast<size_t>(channels) * kPadded, 99.0f);
            for (int c = 0; c < channels; ++c) {
                planes.push_back(Samples(kSamples, 31u * c + channels));
                std::memcpy(in.data() + c * kPadded, planes.back().data(), kSamples * 4);
            }
            // A map that swaps, repeats, mutes ("Mute" is column N) and names channels not there.
            std::array<int8_t, 32> map{};
            for (int i = 0; i < 32; ++i)
                map[static_cast<size_t>(i)] = static_cast<int8_t>(
                    i % 5 == 3 ? channels : (i % 7 == 6 ? 40 : (channels - 1 - i + 32) % 33));
            for (bool mono : {false, true}) {
                for (double gain : kGains) {
                    for (int available : {kSamples, 20}) {  // a block shorter than the slots
                        SCOPED_TRACE(std::string(KernelLevelName(level)) + ", " +
                                     std::to_string(channels) + " channels" +
                                     (mono ? ", mono" : "") + ", gain " + std::to_string(gain) +
                                     ", " + std::to_string(available) + " samples");
                        const AudioPlan plan = PlanAudioBlock(map, mono, gain, channels, 32);
                        std::vector<float> out(32u * kSamples, 7.0f);
                        RunAudioPlan(plan, k, in.data(), kPadded, available, out.data(), kSamples);
                        for (int i = 0; i < channels; ++i) {
                            const std::vector<float> got(out.begin() + i * kSamples,
                                                         out.begin() + (i + 1) * kSamples);
                            ASSERT_TRUE(
                                SameBits(got, ExpectedOutput(planes, map, mono, gain, channels, i,
                                                             available, kSamples)))
                                << "output " << i;
                        }
                        // Outputs beyond the processed channels are not written.
                        for (size_t j = static_cast<size_t>(channels) * kSamples; j < out.size();
                             ++j)
                            ASSERT_EQ(out[j], 7.0f);
                    }
                }
            }
        }
    }
}

TEST(AudioPlan, TheMonoMixIntoOneChannelWritesOnePlane) {
    const std::vector<float> in = {1.0f, 2.0f};
    std::array<int8_t, 32> map{};
    for (int i = 0; i < 32; ++i)
        map[static_cast<size_t>(i)] = static_cast<int8_t>(i);
    std::vector<float> out = {9.0f, 9.0f, 9.0f, 9.0f};
    const AudioPlan plan = PlanAudioBlock(map, true, 0.0, 1, 2);
    EXPECT_EQ(plan.channels, 1);
    RunAudioPlan(plan, AudioKernelsFor(BestKernelLevel()), in.data(), 2, 2, out.data(), 2);
    EXPECT_EQ(out, (std::vector<float>{0.5f, 1.0f, 9.0f, 9.0f}));
}

}  // namespace
}  // namespace velmor
