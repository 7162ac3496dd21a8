#include "video/image_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "video/text_rasteriser.h"

namespace velmor {

namespace {

// Pictures never exceed this (the largest frame is 4096 x 2160, four bytes a pixel, with room).
constexpr int64_t kMaxPictureBytes = int64_t{1} << 30;

int BytesPerPixel(PixelKind kind) {
    return kind == kPixelUYVY ? 2 : 4;
}

// Pixels start on a cache line, so that kernels can write whole lines of them. Pictures of a
// frame's size and more are laid out in whole 2 MiB blocks that the kernel is asked to back with
// huge pages: a quarter turn writes down the columns of its output picture, every row of it on
// another page, far more pages than the TLB holds.
constexpr size_t kLineAlign = 64;
constexpr size_t kHugePage = size_t{2} << 20;

size_t AlignmentFor(size_t bytes) {
    return bytes >= kHugePage ? kHugePage : kLineAlign;
}

}  // namespace

void ImageBuffer::FreePixels::operator()(uint8_t* p) const {
    ::operator delete[](p, std::align_val_t{alignment});
}

bool ImageBuffer::Allocate(int64_t bytes) {
    if (bytes == allocated_ && (pixels_ || bytes == 0)) return true;
    pixels_.reset();
    allocated_ = 0;
    if (bytes <= 0) return bytes == 0;
    if (bytes > kMaxPictureBytes) return false;
    const size_t align = AlignmentFor(static_cast<size_t>(bytes));
    const size_t size = (static_cast<size_t>(bytes) + align - 1) / align * align;
    pixels_ = {static_cast<uint8_t*>(::operator new[](size, std::align_val_t{align}, std::nothrow)),
               FreePixels{align}};
    if (!pixels_) return false;
    if (align == kHugePage) madvise(pixels_.get(), size, MADV_HUGEPAGE);  // a hint; may be refused
    allocated_ = bytes;
    return true;
}

void ImageBuffer::Clear() {
    pixels_.reset();
    allocated_ = 0;
    width = height = byteSize = bitsPerPixel = 0;
}

bool ImageBuffer::Reshape(int32_t w, int32_t h, PixelKind kind) {
    const int64_t bytes = int64_t{w} * h * BytesPerPixel(kind);
    if (w < 0 || h < 0 || !Allocate(bytes)) {
        Clear();
        return false;
    }
    width = w;
    height = h;
    byteSize = static_cast<int32_t>(bytes);
    bitsPerPixel = BytesPerPixel(kind) * 8;
    pixelKind = kind;
    return true;
}

bool ImageBuffer::CopyRGBAdataFrom(const ImageBuffer& source) {
    if (source.pixelKind != kPixelBGRA || &source == this) return source.pixelKind == kPixelBGRA;
    if (source.byteSize != byteSize || !pixels_) {
        if (!Allocate(source.byteSize)) {
            Clear();
            return false;
        }
        byteSize = source.byteSize;
    }
    width = source.width;
    height = source.height;
    bitsPerPixel = source.bitsPerPixel;
    if (byteSize > 0 && source.pixels()) std::memcpy(pixels_.get(), source.pixels(), byteSize);
    pixelKind = kPixelBGRA;
    return true;
}

void ImageBuffer::ConvertToUYVA() {
    uint8_t* p = pixels_.get();
    const int64_t count = int64_t{width} * height;
    if (p && byteSize >= count * 4) {
        for (int64_t i = 0; i < count; ++i, p += 4) {
            const double b = p[0], g = p[1], r = p[2];
            const double u = b * 0.439 - (r * 0.148 + g * 0.291) + 128;
            const double y = r * 0.257 + g * 0.504 + b * 0.098 + 16;
            const double v = r * 0.439 - g * 0.368 - b * 0.071 + 128;
            p[0] = static_cast<uint8_t>(static_cast<int>(u));
            p[1] = static_cast<uint8_t>(static_cast<int>(y));
            p[2] = static_cast<uint8_t>(static_cast<int>(v));
        }
    }
    pixelKind = kPixelUYVA;
}

void ImageBuffer::MakeSolid() {
    uint8_t* p = pixels_.get();
    const int64_t count = int64_t{width} * height;
    if (!p || byteSize == 0 || byteSize < count * 4) return;
    for (int64_t i = 0; i < count; ++i)
        p[i * 4 + 3] = 255;
}

bool ImageBuffer::FillColour(int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    width = height = byteSize = bitsPerPixel = 0;
    const int64_t bytes = int64_t{w} * h * 4;
    if (w < 0 || h < 0 || !Allocate(bytes)) {
        Clear();
        return false;
    }
    width = w;
    height = h;
    bitsPerPixel = 32;
    pixelKind = kPixelBGRA;
    fillColour[0] = b;
    fillColour[1] = g;
    fillColour[2] = r;
    fillColour[3] = a;
    uint8_t* p = pixels_.get();
    for (int64_t i = 0; i < int64_t{w} * h; ++i)
        std::memcpy(p + i * 4, fillColour, 4);
    byteSize = static_cast<int32_t>(bytes);
    return true;
}

namespace {

// Copies `n` UYVA pixels onto a UYVY row starting at an even destination pixel.
void CopyRowUYVY(uint8_t* __restrict d, const uint8_t* __restrict s, int n) {
    const int pairs = n / 2;
    for (int k = 0; k < pairs; ++k) {
        const uint8_t* f = s + k * 8;
        uint8_t* m = d + k * 4;
        m[0] = static_cast<uint8_t>((f[0] + f[4]) >> 1);
        m[1] = f[1];
        m[2] = static_cast<uint8_t>((f[2] + f[6]) >> 1);
        m[3] = f[5];
    }
    if (n & 1) {
        const uint8_t* f = s + pairs * 8;
        uint8_t* m = d + pairs * 4;
        m[1] = f[1];
        m[0] = static_cast<uint8_t>((m[0] + f[0]) >> 1);
        m[2] = static_cast<uint8_t>((m[2] + f[2]) >> 1);
    }
}

}  // namespace

void ImageBuffer::DrawOnto(int x, int y, int anchor, int mode, uint8_t* dst, PixelKind dstKind,
                           int W, int H, int dstStride, const BlendRowKernels& blend,
                           RowSpan band) const {
    if (byteSize == 0 || bitsPerPixel != 32 || !pixels_ || !dst || W <= 0 || H <= 0) return;
    const bool bgra = dstKind == kPixelBGRA && pixelKind == kPixelBGRA;
    const bool uyvy = dstKind == kPixelUYVY && pixelKind == kPixelUYVA;
    if (!bgra && !uyvy) return;
    const int w = width, h = height;
    if (int64_t{w} * h * 4 > byteSize) return;

    switch (anchor) {
        case kAnchorCentreAcross:
            x = (W - w) / 2;
            break;
        case kAnchorCentreDown:
            y = (H - h) / 2;
            break;
        case kAnchorCentre:
            x = (W - w) / 2;
            y = (H - h) / 2;
            break;
        case kAnchorAtCentre:
            x -= w / 2;
            y -= h / 2;
            break;
        case kAnchorBottomCentre:
            x = (W - w) / 2;
            y = H - h - y;
            break;
        case kAnchorTopRight:
            x = W - w - x;
            break;
        case kAnchorSevenEighthsLeft:
            y = (7 * H) / 8 - h - y;
            break;
        case kAnchorSevenEighthsRight:
            x = W - w - x;
            y = (7 * H) / 8 - h - y;
            break;
        case kAnchorBottomLeft:
            y = H - h - y;
            break;
        case kAnchorBottomRight:
            x = W - w - x;
            y = H - h - y;
            break;
        default:
            break;
    }

    int srcCol, dstCol, cols;
    if (x >= 0) {
        srcCol = 0, dstCol = x, cols = std::min(w, W - x);
    } else {
        srcCol = -x, dstCol = 0, cols = std::min(W, x + w);
    }
    int srcRow, dstRow, rows;
    if (y >= 0) {
        srcRow = 0, dstRow = y, rows = std::min(h, H - y);
    } else {
        srcRow = -y, dstRow = 0, rows = std::min(H, y + h);
    }
    // Only the rows of the band.
    const int skip = std::max(band.first - dstRow, 0);
    rows = std::min(rows, band.end - dstRow) - skip;
    srcRow += skip;
    dstRow += skip;
    if (cols <= 0 || rows <= 0) return;

    const uint8_t* src = pixels_.get() + (int64_t{srcRow} * w + srcCol) * 4;
    if (bgra) {
        const int64_t stride = dstStride > 0 ? dstStride : int64_t{W} * 4;
        uint8_t* d = dst + dstRow * stride + int64_t{dstCol} * 4;
        for (int r = 0; r < rows; ++r, d += stride, src += int64_t{w} * 4) {
            if (mode == kDrawCopy) {
                std::memcpy(d, src, static_cast<size_t>(cols) * 4);
            } else {
                blend.bgra(d, src, cols);
            }
        }
    } else {
        const int64_t stride = dstStride > 0 ? dstStride : int64_t{W} * 2;
        const int firstPixel = dstCol & ~1;
        cols = std::min(cols, (W & ~1) - firstPixel);  // an odd last pixel has no macropixel
        if (cols <= 0) return;
        uint8_t* d = dst + dstRow * stride + int64_t{firstPixel} * 2;
        for (int r = 0; r < rows; ++r, d += stride, src += int64_t{w} * 4) {
            if (mode == kDrawCopy) {
                CopyRowUYVY(d, src, cols);
            } else {
                blend.uyvy(d, src, cols);
            }
        }
    }
}

void ImageBuffer::ApplyTextAlpha(int alpha) {
    uint8_t* p = pixels_.get();
    const int64_t count = int64_t{width} * height;
    if (!p || byteSize < count * 4) return;
    if (alpha > 0 && alpha < 128) {
        MakeSolid();
        return;
    }
    for (int64_t i = 0; i < count; ++i, p += 4) {
        const bool background = (p[0] | p[1] | p[2] | p[3]) == 0;
        p[3] = background ? static_cast<uint8_t>(alpha) : 255;
    }
}

bool ImageBuffer::RenderText(std::string_view utf8, int alpha, ITextRasteriser& rasteriser) {
    if (!pixels_ || width <= 0 || height <= 0 || byteSize < int64_t{width} * height * 4) {
        return false;
    }
    if (!rasteriser.RasteriseLine(utf8, width, height, height * 7 / 10, pixels_.get())) {
        return false;
    }
    pixelKind = kPixelBGRA;
    ApplyTextAlpha(alpha);
    return true;
}

}  // namespace velmor
