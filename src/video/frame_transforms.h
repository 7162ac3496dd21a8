// Whole-frame de-interlacing, quarter and half turns and flips of UYVY and BGRA pictures.
//
// All functions run on the video thread, once per frame, in one pass without allocation (the
// quarter turns reuse `rotateImage` while the frame size stays the same). The caller owns every
// buffer. Each family has a reference version and, where it pays off, SSE2 and AVX2 versions
// (video/kernel_level.h): the video path picks its functions with the ...For(level) calls when it
// is configured; the plain calls take the best level of this processor.
#pragma once

#include <cstdint>

#include "video/frame_view.h"
#include "video/image_buffer.h"
#include "video/kernel_level.h"

namespace velmor {

// The line kernels of the de-interlacer: dst = (a + b) >> 1; dst = (above + 2 dst + below) >> 2;
// and the same blend in one pass that also keeps the line's unfiltered bytes for the next line:
// line = (carry + 2 line + below) >> 2 while carry takes the old line.
struct DeinterlaceRows {
    void (*average)(uint8_t* __restrict dst, const uint8_t* __restrict a,
                    const uint8_t* __restrict b, int n);
    void (*blend)(uint8_t* __restrict dst, const uint8_t* __restrict above,
                  const uint8_t* __restrict below, int n);
    void (*blendCarry)(uint8_t* __restrict line, uint8_t* __restrict carry,
                       const uint8_t* __restrict below, int n);
};
const DeinterlaceRows& DeinterlaceRowsFor(KernelLevel level);

// De-interlace modes (deinterlaceMode): 0 "DeInt OFF", 1 "Blend fields", 2 "Field 1", 3 "Field 2".
// Works on every byte of each line alike (any 8-bit packed layout), in place. Returns 0, leaving
// the frame alone, when mode, width, height or stride is not positive or data is null; any other
// mode than 1..3 leaves the frame unchanged and returns 1.
int Deinterlace(int mode, int width, int height, int stride, uint8_t* data,
                const DeinterlaceRows& rows = DeinterlaceRowsFor(BestKernelLevel()));
// The band form: lines [firstLine, endLine) of the height-line frame (clipped to it), the same
// results as Deinterlace when consecutive bands cover the frame in order. A band writes only its
// own lines. "Blend fields" reads the line below the band, which must not have been processed
// yet, and takes the unfiltered line above it from `carry` (stride bytes), which holds it on
// entry when firstLine > 0 and holds the band's last line, unfiltered, on return. The field
// modes read only lines that no band writes (one above and one below) and take no carry (null
// is fine).
int DeinterlaceBand(int mode, int width, int height, int stride, uint8_t* data, int firstLine,
                    int endLine, uint8_t* carry,
                    const DeinterlaceRows& rows = DeinterlaceRowsFor(BestKernelLevel()));

// Quarter turns into `rotateImage` (which ends up describing the turned picture: width = height,
// height = width). `srcStride` 0 means packed source rows. Return false and leave rotateImage
// empty when its buffer cannot be allocated.
// UYVY: direction 1 anticlockwise, 2 clockwise. Chroma of each 2 x 2 block is averaged. An odd
// side leaves a last output column or row outside the 2 x 2 blocks: it repeats the column or row
// before it (black when the picture is one pixel across), so no stale bytes are left.
bool RotateUYVY(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride = 0);
// BGRA: direction 1 clockwise, 3 anticlockwise (the same rotationMode turns the two layouts in
// opposite directions).
bool RotateRGBA(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride = 0);

// A quarter turn as the video path calls it: (width, height, src, srcStride, rotateImage), as
// RotateUYVY / RotateRGBA. `rotationMode` 1 or 3 ("Rotate 90", "Rotate -90"), which turns UYVY
// anticlockwise / clockwise and BGRA clockwise / anticlockwise; null for any other mode.
using QuarterTurnFn = bool (*)(int width, int height, const uint8_t* src, int srcStride,
                               ImageBuffer& rotateImage);
QuarterTurnFn QuarterTurnFor(bool uyvy, int rotationMode, KernelLevel level);
// The band form: source rows [firstRow, endRow) of the width x height picture at `src` turned
// into `out`, which already holds the whole turned picture (height x width, packed rows, as
// QuarterTurnFn makes it). A UYVY row pair is turned by the band that holds its second row.
// Bands run in order; the one that ends at the last row also fills the odd edges of a UYVY
// picture (see RotateUYVY).
using QuarterTurnBandFn = void (*)(int width, int height, const uint8_t* src, int srcStride,
                                   uint8_t* out, int firstRow, int endRow);
QuarterTurnBandFn QuarterTurnBandFor(bool uyvy, int rotationMode, KernelLevel level);
// The fewest source rows a call of the band form should take for the turn to go as fast as the
// whole one: a band's rows land on every row of the turned picture, and a picture turned in the
// cache is written fastest in strips of many rows; one streamed past the caches goes 16 rows (or
// row pairs) at a time anyway.
int QuarterTurnBandRows(bool uyvy, int width, int height, KernelLevel level);

// The in-place operations of `rotationMode` 2 (half turn), 4 (mirror) and 5 (vertical flip), with
// the arguments of the functions below; null for any other mode.
using InPlaceFn = void (*)(int width, int height, uint8_t* data, int stride);
InPlaceFn InPlaceFor(bool uyvy, int rotationMode, KernelLevel level);

// The band forms of modes 2, 4 and 5, for a frame run through its steps a band of rows at a time;
// band after band from the top, each gives what the in-place operation gives over the whole
// picture (a picture too small for it stays as it is). The width x height picture has `stride`
// bytes a row (no 0 here).
// The mirror reverses rows [firstRow, endRow) in place.
using MirrorBandFn = void (*)(int width, int height, uint8_t* data, int stride, int firstRow,
                              int endRow);
MirrorBandFn MirrorBandFor(bool uyvy);
// The half turn (2) and the vertical flip (5) copy source rows [firstRow, endRow) into `out`
// (`outStride` bytes a row), where they land on rows [height - endRow, height - firstRow) (on
// their own rows in a picture too small to be moved); the returned span names them. Null for
// other modes, and for UYVY pictures of odd width: in place,
// their last half macropixel stays in its own row wherever the row goes, so a band would need a
// row of another band.
using MoveBandFn = RowSpan (*)(int width, int height, const uint8_t* src, int stride, uint8_t* out,
                               int outStride, int firstRow, int endRow);
MoveBandFn MoveBandFor(bool uyvy, int width, int rotationMode, KernelLevel level);

// In place. `stride` 0 means packed rows. Moving a UYVY macropixel sideways exchanges its lumas.
void TurnUYVY180(int width, int height, uint8_t* data, int stride = 0);
void MirrorUYVY(int width, int height, uint8_t* data, int stride = 0);
void FlipUYVY(int width, int height, uint8_t* data, int stride = 0);
void TurnRGBA180(int width, int height, uint8_t* data, int stride = 0);
void MirrorRGBA(int width, int height, uint8_t* data, int stride = 0);
void FlipRGBA(int width, int height, uint8_t* data, int stride = 0);

}  // namespace velmor
