// The audio path's work on one block (a 25 fps frame of 48 kHz audio: 1920 samples a channel) at
// each kernel level, beside memcpy of the same planes: the block plan copying a map, the same with
// a gain, and the mono mix with a gain; and the meter's peaks of two planes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/audio_kernels.h"
#include "audio/audio_plan.h"
#include "audio/meter_measure.h"

namespace velmor {
namespace {

constexpr int kSamples = 1920;

std::vector<float> Planes(int channels) {
    std::vector<float> v(static_cast<size_t>(channels) * kSamples);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = std::sin(static_cast<float>(i) * 0.01f);
    return v;
}

// Source and destination apart by a distance that is not close to a multiple of 4 KiB (glibc's
// copy slows down more than tenfold there).
struct Block {
    explicit Block(int channels) : floats(static_cast<size_t>(channels) * kSamples) {
        storage.resize(floats * 2 + 1024);
        const std::vector<float> in = Planes(channels);
        std::memcpy(src(), in.data(), floats * sizeof(float));
    }
    float* src() { return storage.data(); }
    float* dst() { return storage.data() + floats + 528; }
    size_t floats;
    std::vector<float> storage;
};

void BM_memcpy(benchmark::State& st) {
    Block b(static_cast<int>(st.range(0)));
    for (auto _ : st) {
        std::memcpy(b.dst(), b.src(), b.floats * sizeof(float));
        benchmark::DoNotOptimize(b.dst());
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * b.floats * sizeof(float)));
}

// range(0): channels; range(1): 0 the map (a swap), 1 the map with -4 dB, 2 the mono mix with
// -4 dB; range(2): the kernel level.
void BM_AudioPlan(benchmark::State& st) {
    const int channels = static_cast<int>(st.range(0));
    const int what = static_cast<int>(st.range(1));
    const auto level = static_cast<KernelLevel>(st.range(2));
    bool supported = false;
    for (KernelLevel l : SupportedKernelLevels())
        supported = supported || l == level;
    if (!supported) {
        st.SkipWithError("level not supported here");
        return;
    }
    std::array<int8_t, kMaxPlannedChannels> map{};
    for (int i = 0; i < kMaxPlannedChannels; ++i)
        map[static_cast<size_t>(i)] = static_cast<int8_t>(i ^ 1);  // pairs swapped
    const double gain = what == 0 ? 0.0 : 0.6309573444801932;
    const AudioPlan plan = PlanAudioBlock(map, what == 2, gain, channels, channels);
    const AudioKernels& k = AudioKernelsFor(level);
    Block b(channels);
    for (auto _ : st) {
        RunAudioPlan(plan, k, b.src(), kSamples, kSamples, b.dst(), kSamples);
        benchmark::DoNotOptimize(b.dst());
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * b.floats * sizeof(float)));
    st.SetLabel(KernelLevelName(level));
}

void BM_MeterPeaks(benchmark::State& st) {
    const auto level = static_cast<KernelLevel>(st.range(0));
    bool supported = false;
    for (KernelLevel l : SupportedKernelLevels())
        supported = supported || l == level;
    if (!supported) {
        st.SkipWithError("level not supported here");
        return;
    }
    const AudioKernels& k = AudioKernelsFor(level);
    Block b(2);
    for (auto _ : st) {
        const BlockPeaks p = MeasureBlock(k, b.src(), b.src() + kSamples, kSamples, 1.0);
        benchmark::DoNotOptimize(p);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * b.floats * sizeof(float)));
    st.SetLabel(KernelLevelName(level));
}

BENCHMARK(BM_memcpy)->Arg(2)->Arg(16)->ArgName("channels");
BENCHMARK(BM_AudioPlan)
    ->ArgsProduct({{2, 16}, {0, 1, 2}, {0, 1, 2}})
    ->ArgNames({"channels", "step", "level"});
BENCHMARK(BM_MeterPeaks)->DenseRange(0, 2)->ArgName("level");

}  // namespace
}  // namespace velmor

BENCHMARK_MAIN();
