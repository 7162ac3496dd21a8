// The preview's paint (VidBox) of the bitmap a 1920 x 1080 UYVY frame renders to (960 x 540,
// 24-bit), into a 640 x 360 and a 960 x 540 control, beside memcpy of that bitmap in the same run.
// "NewFrame" paints a new bitmap every time (its conversion to 32-bit pixels included), "Repaint"
// the same one again; "QtPackedBgr" is Qt smoothly scaling the packed 24-bit bitmap directly,
// the way the paint would go without the conversion. Qt scales on a thread pool, so the CPU time
// is the whole process's.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ndi/ndi_types.h"
#include "video/preview_render.h"
#include "widgets/preview_box.h"

namespace velmor {
namespace {

constexpr int kW = 1920, kH = 1080;

std::vector<uint8_t> TestFrame() {
    std::vector<uint8_t> f(static_cast<size_t>(kW) * kH * 2);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = static_cast<uint8_t>(16 + (i * 7) % 220);
    return f;
}

const std::vector<uint8_t>& Frame() {
    static const std::vector<uint8_t> frame = TestFrame();
    return frame;
}

void BM_memcpy(benchmark::State& st) {
    const size_t bytes = size_t{960} * 540 * 3;
    std::vector<uint8_t> block(2 * bytes + 4096);
    uint8_t* src = block.data();
    uint8_t* dst = block.data() + bytes + 2112;  // not near a multiple of 4 KiB from the source
    std::memset(src, 7, bytes);
    for (auto _ : st) {
        std::memcpy(dst, src, bytes);
        benchmark::DoNotOptimize(dst);
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
}

void Paint(benchmark::State& st, bool newFrame) {
    PreviewRenderer renderer;
    VidBox box;
    box.setRenderer(&renderer);
    box.resize(static_cast<int>(st.range(0)), static_cast<int>(st.range(0)) * 9 / 16);
    QImage target(box.size(), QImage::Format_RGB32);
    renderer.Render(Frame().data(), kW, kH, kW * 2, NDIlib_FourCC_video_type_UYVY, 16.0f / 9.0f);
    box.FrameArrived();
    for (auto _ : st) {
        if (newFrame) {
            st.PauseTiming();
            renderer.Render(Frame().data(), kW, kH, kW * 2, NDIlib_FourCC_video_type_UYVY,
                            16.0f / 9.0f);
            box.FrameArrived();
            st.ResumeTiming();
        }
        box.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}

void BM_VidBoxPaint_NewFrame(benchmark::State& st) {
    Paint(st, true);
}
void BM_VidBoxPaint_Repaint(benchmark::State& st) {
    Paint(st, false);
}

void BM_QtPackedBgr(benchmark::State& st) {
    PreviewRenderer renderer;
    renderer.Render(Frame().data(), kW, kH, kW * 2, NDIlib_FourCC_video_type_UYVY, 16.0f / 9.0f);
    const PreviewBitmap* b = renderer.AcquireBitmap();
    const QImage packed(b->pixels.get(), b->width, b->height, b->width * 3, QImage::Format_BGR888);
    const int w = static_cast<int>(st.range(0));
    QImage target(w, w * 9 / 16, QImage::Format_RGB32);
    for (auto _ : st) {
        QPainter painter(&target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target.rect(), packed);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

// Qt spreads image scaling over a thread pool, so CPU time is counted over the whole process.
BENCHMARK(BM_memcpy)->MeasureProcessCPUTime();
BENCHMARK(BM_VidBoxPaint_NewFrame)->Arg(640)->Arg(960)->MeasureProcessCPUTime();
BENCHMARK(BM_VidBoxPaint_Repaint)->Arg(640)->Arg(960)->MeasureProcessCPUTime();
BENCHMARK(BM_QtPackedBgr)->Arg(640)->Arg(960)->MeasureProcessCPUTime();

}  // namespace
}  // namespace velmor

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
