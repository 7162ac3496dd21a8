// Per-frame processing beside memcpy of the same frame, at 1920x1080 and 3840x2160.
// Ratios to memcpy: bench/video/ratios.py on the JSON output (see docs/benchmarks.md).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "audio/ppm_meter.h"
#include "ndi/ndi_types.h"
#include "video/frame_transforms.h"
#include "video/image_buffer.h"
#include "video/kernel_level.h"
#include "video/key_split.h"
#include "video/preview_render.h"
#include "video/proc_amp.h"

namespace velmor {
namespace {

enum Layout { kUYVY = 0, kBGRA = 1 };

struct Frame {
    int w, h, bpp;
    std::vector<uint8_t> a, b;
    Frame(int width, int height, Layout layout)
        : w(width),
          h(height),
          bpp(layout == kUYVY ? 2 : 4),
          a(static_cast<size_t>(width) * height * bpp),
          b(a.size()) {
        uint32_t x = 12345;
        for (auto& v : a) {
            x = x * 1664525u + 1013904223u;
            v = static_cast<uint8_t>(x >> 24);
        }
    }
    size_t bytes() const { return a.size(); }
    int stride() const { return w * bpp; }
};

Frame MakeFrame(const benchmark::State& st, Layout layout) {
    return Frame(static_cast<int>(st.range(0)), static_cast<int>(st.range(1)), layout);
}

void Done(benchmark::State& st, const Frame& f) {
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(f.bytes()));
}

template <Layout L>
void BM_memcpy(benchmark::State& st) {
    Frame f = MakeFrame(st, L);
    for (auto _ : st) {
        std::memcpy(f.b.data(), f.a.data(), f.bytes());
        benchmark::DoNotOptimize(f.b.data());
        benchmark::ClobberMemory();
    }
    Done(st, f);
}

// The third argument is the kernel level (video/kernel_level.h): the AVX2 level beside the
// AVX-512 one where the processor has both.
template <Layout L>
void BM_ProcAmp(benchmark::State& st) {
    Frame f = MakeFrame(st, L);
    ProcAmpSettings s;
    s.gamma = 30;
    s.colourSat = 70;
    auto t = std::make_unique<ProcAmpTables>();
    FullRebuild(*t, s);
    DerivePairTables(*t);  // as ProcAmp publishes them
    const FrameView v{f.a.data(), f.w, f.h, f.stride(),
                      L == kUYVY ? uint32_t{NDIlib_FourCC_video_type_UYVY}
                                 : uint32_t{NDIlib_FourCC_video_type_BGRA}};
    const ProcAmpFrameFn apply = ProcAmpFor(v.fourCC, static_cast<KernelLevel>(st.range(2)));
    for (auto _ : st) {
        apply(v, *t);
        benchmark::ClobberMemory();
    }
    Done(st, f);
}

template <Layout L, int Op>
void BM_InPlace(benchmark::State& st) {
    Frame f = MakeFrame(st, L);
    using Fn = void (*)(int, int, uint8_t*, int);
    constexpr Fn kOps[2][3] = {{MirrorUYVY, FlipUYVY, TurnUYVY180},
                               {MirrorRGBA, FlipRGBA, TurnRGBA180}};
    for (auto _ : st) {
        kOps[L][Op](f.w, f.h, f.a.data(), 0);
        benchmark::ClobberMemory();
    }
    Done(st, f);
}

template <Layout L, int Mode>
void BM_Deinterlace(benchmark::State& st) {
    Frame f = MakeFrame(st, L);
    for (auto _ : st) {
        benchmark::DoNotOptimize(Deinterlace(Mode, f.w, f.h, f.stride(), f.a.data()));
        benchmark::ClobberMemory();
    }
    Done(st, f);
}

// The third argument is the rotation mode: 1 "Rotate 90", 3 "Rotate -90".
template <Layout L>
void BM_QuarterTurn(benchmark::State& st) {
    Frame f = MakeFrame(st, L);
    ImageBuffer out;
    const QuarterTurnFn turn =
        QuarterTurnFor(L == kUYVY, static_cast<int>(st.range(2)), BestKernelLevel());
    for (auto _ : st) {
        turn(f.w, f.h, f.a.data(), 0, out);
        benchmark::DoNotOptimize(out.pixels());
        benchmark::ClobberMemory();
    }
    Done(st, f);
}

template <Layout L>
void BM_DrawOntoBlend(benchmark::State& st) {
    Frame f = MakeFrame(st, L);
    ImageBuffer pic;
    pic.FillColour(f.w, f.h, 0, 0, 0, 0);
    std::memcpy(pic.pixels(), Frame(f.w, f.h, kBGRA).a.data(), static_cast<size_t>(pic.byteSize));
    if (L == kUYVY) pic.ConvertToUYVA();
    const PixelKind kind = L == kUYVY ? kPixelUYVY : kPixelBGRA;
    for (auto _ : st) {
        pic.DrawOnto(0, 0, kAnchorTopLeft, kDrawBlend, f.a.data(), kind, f.w, f.h);
        benchmark::ClobberMemory();
    }
    Done(st, f);
}

void BM_KeySplit(benchmark::State& st) {
    Frame f = MakeFrame(st, kBGRA);
    for (auto _ : st) {
        MakeKeyFromAlpha(f.a.data(), f.w, f.h, 0, f.b.data());
        benchmark::ClobberMemory();
    }
    Done(st, f);
}

template <Layout L>
void BM_Render(benchmark::State& st) {
    Frame f = MakeFrame(st, L);
    PreviewRenderer r;
    r.waveformOn = static_cast<int>(st.range(2));
    const uint32_t fourCC =
        L == kUYVY ? NDIlib_FourCC_video_type_UYVY : NDIlib_FourCC_video_type_BGRA;
    for (auto _ : st) {
        benchmark::DoNotOptimize(r.Render(f.a.data(), f.w, f.h, f.stride(), fourCC, 16.0f / 9.0f));
        benchmark::DoNotOptimize(r.AcquireBitmap());
    }
    Done(st, f);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);
}
void ProcAmpSizes(benchmark::internal::Benchmark* b) {
    for (const KernelLevel level : SupportedKernelLevels()) {
        if (level < KernelLevel::Avx2) continue;
        b->Args({1920, 1080, static_cast<int>(level)})->Args({3840, 2160, static_cast<int>(level)});
    }
    b->Unit(benchmark::kMicrosecond);
}
void TurnSizes(benchmark::internal::Benchmark* b) {
    for (int mode : {1, 3})
        b->Args({1920, 1080, mode})->Args({3840, 2160, mode});
    b->Unit(benchmark::kMicrosecond);
}
void RenderSizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080, 0})->Args({1920, 1080, 1})->Args({3840, 2160, 0});
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_memcpy<kUYVY>)->Apply(Sizes);
BENCHMARK(BM_memcpy<kBGRA>)->Apply(Sizes);
BENCHMARK(BM_ProcAmp<kUYVY>)->Apply(ProcAmpSizes);
BENCHMARK(BM_ProcAmp<kBGRA>)->Apply(ProcAmpSizes);
BENCHMARK(BM_InPlace<kUYVY, 0>)->Name("BM_Mirror<kUYVY>")->Apply(Sizes);
BENCHMARK(BM_InPlace<kBGRA, 0>)->Name("BM_Mirror<kBGRA>")->Apply(Sizes);
BENCHMARK(BM_InPlace<kUYVY, 1>)->Name("BM_Flip<kUYVY>")->Apply(Sizes);
BENCHMARK(BM_InPlace<kBGRA, 1>)->Name("BM_Flip<kBGRA>")->Apply(Sizes);
BENCHMARK(BM_InPlace<kUYVY, 2>)->Name("BM_Turn180<kUYVY>")->Apply(Sizes);
BENCHMARK(BM_InPlace<kBGRA, 2>)->Name("BM_Turn180<kBGRA>")->Apply(Sizes);
BENCHMARK(BM_Deinterlace<kUYVY, 1>)->Name("BM_DeintBlend<kUYVY>")->Apply(Sizes);
BENCHMARK(BM_Deinterlace<kBGRA, 1>)->Name("BM_DeintBlend<kBGRA>")->Apply(Sizes);
BENCHMARK(BM_Deinterlace<kUYVY, 2>)->Name("BM_DeintField1<kUYVY>")->Apply(Sizes);
BENCHMARK(BM_Deinterlace<kBGRA, 3>)->Name("BM_DeintField2<kBGRA>")->Apply(Sizes);
BENCHMARK(BM_QuarterTurn<kUYVY>)->Apply(TurnSizes);
BENCHMARK(BM_QuarterTurn<kBGRA>)->Apply(TurnSizes);
BENCHMARK(BM_DrawOntoBlend<kUYVY>)->Apply(Sizes);
BENCHMARK(BM_DrawOntoBlend<kBGRA>)->Apply(Sizes);
BENCHMARK(BM_KeySplit)->Name("BM_KeySplit<kBGRA>")->Apply(Sizes);
BENCHMARK(BM_Render<kUYVY>)->Apply(RenderSizes);
BENCHMARK(BM_Render<kBGRA>)->Apply(RenderSizes);

}  // namespace
}  // namespace velmor

BENCHMARK_MAIN();
