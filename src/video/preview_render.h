// The preview control's model (VidBox): a frame turned into a small top-down RGB bitmap or a
// luma waveform, and the paint geometry as pure functions. The widget itself lives in the GUI.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "video/kernel_level.h"
#include "video/publisher.h"

namespace velmor {

// The UYVY row conversions of the picture bitmap: `n` output B, G, R pixels from one source row,
// halved (one pixel a macropixel) or full (two).
struct PreviewRows {
    void (*halved)(const uint8_t* src, int n, uint8_t* out);
    void (*full)(const uint8_t* src, int n, uint8_t* out);
};
const PreviewRows& PreviewRowsFor(KernelLevel level);

// A bitmap's B, G, R (24-bit) or B, G, R, A (32-bit) packed pixels to opaque 0xffRRGGBB words,
// as the window paints them.
using OpaqueRgb32Fn = void (*)(const uint8_t* __restrict src, int bitsPerPixel,
                               uint32_t* __restrict dst, size_t pixels);
OpaqueRgb32Fn OpaqueRgb32For(KernelLevel level);

// The trace of the waveform monitor: every sample of sampled rows [firstRow, endRow) raises its
// point of `bitmap`, a waveform of width / 2 columns by 270 rows (B, G, R) that already holds the
// background, the graticule and the trace of any rows before. Sampled row r is source line 2r,
// for r below height / 2; four-byte frames taller than 720 lines skip the odd sampled rows. The
// reference plots sample by sample; the SSE2 and AVX2 versions count the samples of strips of
// columns in a table that stays in the first-level cache and raise each point once.
using WaveformTraceFn = void (*)(const uint8_t* data, int width, int height, int64_t stride,
                                 bool yuv, int firstRow, int endRow, uint8_t* bitmap);
WaveformTraceFn WaveformTraceFor(KernelLevel level);

// One rendered picture. Rows run top to bottom, packed: width * bitsPerPixel / 8 bytes each
// (B, G, R or B, G, R, A per pixel).
struct PreviewBitmap {
    std::unique_ptr<uint8_t[]> pixels;
    size_t capacity = 0;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;  // 24 or 32, 0 before the first frame
    int renderedWidth = 0, renderedHeight = 0;
    uint32_t fourCC = 0;
    int aspectClass = 0;  // 0 16:9, 1 other, 2 9:16
    float lastAspect = 0.0f;
    bool waveform = false;  // the paint writes the scale labels of graticuleType
    int graticuleType = 1;
};

// Render runs on one thread (the video thread, or the window thread for the overlay preview);
// AcquireBitmap on the painting thread. A bitmap is never painted while it is being rendered.
class PreviewRenderer {
public:
    // The row kernels of `level` (the processor's best unless a test asks for another).
    explicit PreviewRenderer(KernelLevel level = BestKernelLevel())
        : rows_(PreviewRowsFor(level)), trace_(WaveformTraceFor(level)) {}

    // Turns one frame into the next bitmap and publishes it. Returns its bits per pixel (24 or
    // 32), or 0 for a frame it cannot read (no data, a size or stride that does not fit, a FourCC
    // other than UYVY, UYVA and the 4-byte RGB kinds). `aspect` <= 0 means width / height.
    // Allocates only when a larger bitmap than any before is needed.
    int Render(const uint8_t* data, int width, int height, int stride, uint32_t fourCC,
               float aspect);

    // Painting thread: the newest bitmap (never null; bitsPerPixel 0 before the first frame).
    const PreviewBitmap* AcquireBitmap() { return bitmaps_.Acquire(); }
    // Painting thread: true once after an aspect change: fill the control with the background.
    bool TakeBackgroundDirty() { return backgroundDirty.exchange(0) != 0; }

    std::atomic<int> waveformOn{0};
    std::atomic<int> graticuleType{1};  // 0 volts, 1 percent
    std::atomic<int> backgroundDirty{1};

private:
    void RenderPicture(PreviewBitmap& b, const uint8_t* data, int width, int height, int64_t stride,
                       bool yuv, bool halved);
    void RenderWaveform(PreviewBitmap& b, const uint8_t* data, int width, int height,
                        int64_t stride, bool yuv);

    const PreviewRows& rows_;
    WaveformTraceFn trace_;
    TripleBuffer<PreviewBitmap> bitmaps_;
    int aspectClass_ = 0;
    float lastAspect_ = 0.0f;
};

inline constexpr uint8_t kPreviewBackground[3] = {100, 100, 100};  // R, G, B

struct PaintRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PaintRect&) const = default;
};

// Where the bitmap is drawn in a W x H control.
PaintRect PreviewDestRect(int aspectClass, float lastAspect, int W, int H);
// Time text origin: ((W - 56) / 2, H * 4 / 5).
PaintRect TimeTextPosition(int W, int H);
// What the output's receivers (or a tally echo from downstream) report: the preview's border is
// red on program, green on preview, absent otherwise.
enum class TallyState : int32_t { None = 0, Program = 1, Preview = 2 };

// Tally border: pen width H / 64, at least 2.
int TallyPenWidth(int H);

struct ScaleLabel {
    std::string text;
    int x = 0, y = 0;
};
// The waveform scale labels for a 640 x 360 control, drawn in R 0x80, G 0xFF, B 0xFF.
std::vector<ScaleLabel> WaveformScaleLabels(int graticuleType, int renderedWidth,
                                            int renderedHeight);

}  // namespace velmor
