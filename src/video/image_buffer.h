// The picture type of Velmor: overlay pictures, sequence members, timecode glyphs, meter pictures
// and the rotation and grab work pictures, with the one compositing primitive DrawOnto.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "video/blend_rows.h"
#include "video/frame_view.h"
#include "video/pixel_kind.h"

namespace velmor {

class ITextRasteriser;

// DrawOnto anchors: where (x, y) is measured from. Values not listed behave like kAnchorTopLeft.
// Stored and published placements keep the code as a number; DrawOnto reads it as one of these.
enum DrawAnchor : int {
    kAnchorTopLeft = 0,
    kAnchorCentreAcross = 1,      // centred horizontally, top at y
    kAnchorCentreDown = 2,        // centred vertically, left at x
    kAnchorCentre = 3,            // centred both ways
    kAnchorAtCentre = 4,          // (x, y) is the picture's centre
    kAnchorBottomCentre = 5,      // centred horizontally, bottom y above the frame's bottom
    kAnchorTopRight = 7,          // x from the right edge
    kAnchorSevenEighthsLeft = 8,  // bottom y above 7/8 of the height
    kAnchorSevenEighthsRight = 9,
    kAnchorBottomLeft = 10,
    kAnchorBottomRight = 11,
};

inline constexpr int kDrawBlend = 1;  // any value other than kDrawCopy blends
inline constexpr int kDrawCopy = 2;

// One picture with an owned pixel buffer. Not thread-safe: a picture that the video thread draws
// must not be changed by another thread while it may be drawn; build a new picture aside and
// publish it (video/publisher.h) instead of changing one in use.
// The pixel buffer is reallocated only when an operation needs another byte size, so a picture
// refilled at the same size each frame never allocates.
class ImageBuffer {
public:
    ImageBuffer() = default;
    ImageBuffer(ImageBuffer&&) noexcept = default;
    ImageBuffer& operator=(ImageBuffer&&) noexcept = default;
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;

    // Size of the picture as decoded from its file (set by the platform decoder).
    int32_t decodedWidth = 0;
    int32_t decodedHeight = 0;
    int32_t decodedBitDepth = 0;

    int32_t width = 0;
    int32_t height = 0;
    int32_t byteSize = 0;  // valid bytes: width*height*4 (BGRA, UYVA) or width*height*2 (UYVY)
    int32_t bitsPerPixel = 0;
    PixelKind pixelKind = PixelKind::None;
    uint8_t fillColour[4] = {0, 0, 0, 0};  // B, G, R, A of the last FillColour

    std::string name;  // file name without folder
    std::string path;  // full path of the file

    uint8_t* pixels() { return pixels_.get(); }
    const uint8_t* pixels() const { return pixels_.get(); }
    bool empty() const { return byteSize == 0 || !pixels_; }

    // Makes this a width x height picture of `kind` with unspecified pixel values, reallocating
    // only when the byte size changes. On failure (or a size that is negative or too large) the
    // picture is left empty and false is returned. For the platform decoder and the work buffers.
    bool Reshape(int32_t w, int32_t h, PixelKind kind);
    // Frees the pixels and sets every size to 0.
    void Clear();

    // Copies a BGRA picture (kind 1). Returns false and changes nothing for any other kind; on
    // allocation failure this picture is left empty.
    bool CopyRGBAdataFrom(const ImageBuffer& source);
    // BT.601 studio-range conversion of every BGRA pixel to U, Y, V, A in place; kind becomes 2.
    void ConvertToUYVA();
    // Every alpha byte becomes 255 (BGRA and UYVA).
    void MakeSolid();
    // Makes a width x height BGRA picture filled with one colour. False when memory runs out.
    bool FillColour(int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

    // Composites this picture onto a destination of kind 1 (BGRA, needs a BGRA picture) or kind 3
    // (UYVY, needs a UYVA picture), W x H pixels, `dstStride` bytes per line (0: packed rows).
    // `mode` kDrawCopy copies, anything else blends by the picture's alpha. Clips to the
    // destination; draws nothing for empty pictures or mismatched kinds. One pass over the
    // visible rectangle, no allocation: safe on the video thread for a picture nobody changes.
    // `blend` holds the row kernels (video/blend_rows.h); the video path passes the ones it chose
    // when it was configured. Only destination rows within `rows` are drawn (the placement is
    // still that on the whole W x H destination), so drawing band after band gives what one
    // call over all rows gives.
    void DrawOnto(int x, int y, int anchor, int mode, uint8_t* dst, PixelKind dstKind, int W, int H,
                  int dstStride = 0, const BlendRowKernels& blend = BestBlendRows(),
                  RowSpan rows = {}) const;

    // Renders one line of text into this picture's pixels (which must already be a BGRA
    // picture of the wanted size) through the platform rasteriser, font height = height*7/10,
    // then sets alpha: 0 < alpha < 128 makes every pixel opaque; otherwise text pixels get 255
    // and the black background gets `alpha`. False when there are no pixels or drawing fails.
    bool RenderText(std::string_view utf8, int alpha, ITextRasteriser& rasteriser);
    // The alpha rule of RenderText alone, for pixels that are already drawn.
    void ApplyTextAlpha(int alpha);

private:
    bool Allocate(int64_t bytes);

    struct FreePixels {
        size_t alignment;  // as allocated
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t[], FreePixels> pixels_;
    int64_t allocated_ = 0;
};

// Exact x / 255 for 0 <= x <= 65534 (every blend sum) without a division, so blend loops vectorise.
inline constexpr uint32_t Div255(uint32_t x) {
    return (x + 1 + (x >> 8)) >> 8;
}

}  // namespace velmor
