#include "video/frame_transforms.h"
#include "video/target_clones.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velmor {

namespace {

// Lines are processed in blocks of this many bytes so that the saved unfiltered lines fit on the
// stack and in the first-level cache.
constexpr int kBlock = 4096;

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

// [U, Y0, V, Y1] -> [U, Y1, V, Y0] on a little-endian 32-bit load.
inline uint32_t SwapLumas(uint32_t v) {
    return (v & 0x00FF00FFu) | ((v & 0x0000FF00u) << 16) | ((v >> 16) & 0x0000FF00u);
}

VELMOR_TARGET_CLONES void AverageInto(uint8_t* __restrict dst, const uint8_t* __restrict a,
                                      const uint8_t* __restrict b, int n) {
    for (int i = 0; i < n; ++i)
        dst[i] = static_cast<uint8_t>((a[i] + b[i]) >> 1);
}

// dst = (above + 2*dst + below) >> 2, where `above` is the saved unfiltered previous line.
VELMOR_TARGET_CLONES void BlendInto(uint8_t* __restrict dst, const uint8_t* __restrict above,
                                    const uint8_t* __restrict below, int n) {
    for (int i = 0; i < n; ++i) {
        dst[i] = static_cast<uint8_t>((above[i] + 2 * dst[i] + below[i]) >> 2);
    }
}

void BlendFields(int height, int stride, uint8_t* data) {
    if (height < 2) return;  // line 0 has no line below it to blend with
    alignas(64) uint8_t saved[2][kBlock];
    for (int x0 = 0; x0 < stride; x0 += kBlock) {
        const int n = std::min(kBlock, stride - x0);
        uint8_t* col = data + x0;
        uint8_t* prev = saved[0];
        uint8_t* cur = saved[1];
        std::memcpy(prev, col, n);
        AverageInto(col, prev, col + stride, n);
        for (int k = 1; k <= height - 2; ++k) {
            uint8_t* line = col + static_cast<int64_t>(k) * stride;
            std::memcpy(cur, line, n);
            BlendInto(line, prev, line + stride, n);
            std::swap(prev, cur);
        }
    }
}

}  // namespace

int Deinterlace(int mode, int width, int height, int stride, uint8_t* data) {
    if (mode <= 0 || width <= 0 || height <= 0 || stride <= 0 || !data) return 0;
    auto line = [&](int k) { return data + static_cast<int64_t>(k) * stride; };
    const int half = height >> 1;
    switch (mode) {
        case 1:
            BlendFields(height, stride, data);
            break;
        case 2:
            if (height < 2) break;
            for (int k = 0; k <= half - 2; ++k)
                AverageInto(line(2 * k + 1), line(2 * k), line(2 * k + 2), stride);
            std::memcpy(line(2 * (half - 1) + 1), line(2 * (half - 1)), stride);
            break;
        case 3:
            if (height < 2) break;
            std::memcpy(line(0), line(1), stride);
            for (int k = 1; k <= half - 1; ++k)
                AverageInto(line(2 * k), line(2 * k - 1), line(2 * k + 1), stride);
            break;
        default:
            break;
    }
    return 1;
}

namespace {

constexpr uint32_t kChroma = 0x00FF00FFu;  // U and V of a little-endian UYVY macropixel

#if defined(__x86_64__)
// Rows i and i + 4 of an 8 x 8 block of 32-bit units, each 128-bit half four units wide.
__attribute__((target("avx2"))) inline __m256i LoadHalves(const uint8_t* upper,
                                                          const uint8_t* lower) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(upper))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower)), 1);
}

// A 4 x 4 transpose of 32-bit units within each 128-bit lane. With rows i and i + 4 in the lanes
// of v[i], afterwards v[k] is column k of all eight rows, in row order.
__attribute__((target("avx2"))) inline void TransposeLanes(__m256i v[4]) {
    const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]);
    const __m256i t1 = _mm256_unpackhi_epi32(v[0], v[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]);
    const __m256i t3 = _mm256_unpackhi_epi32(v[2], v[3]);
    v[0] = _mm256_unpacklo_epi64(t0, t2);
    v[1] = _mm256_unpackhi_epi64(t0, t2);
    v[2] = _mm256_unpacklo_epi64(t1, t3);
    v[3] = _mm256_unpackhi_epi64(t1, t3);
}
#endif

// The AVX2 quarter turns go through the source in bands of kTurnBand rows, each band in strips
// kTurnStrip units (BGRA pixels, UYVY macropixels) wide, a strip in 8 x 8 blocks column by
// column. Square tiles swept across the whole width instead touch every page of the output for
// each row of tiles, far more pages than the TLB holds: about a third slower at 1080p.
constexpr int kTurnStrip = 64;
constexpr int kTurnBand = 512;

// The UYVY quarter turn with the direction fixed at compile time. Source macropixel column m of
// row pair j (macropixel a above b) gives two output macropixels sharing the averaged chroma: R
// from the right-hand pixel 2m+1 and L from the left-hand pixel 2m. Anticlockwise (1): column m
// feeds output rows 2(cols-1-m) (R) and +1 (L), left to right in order of j. Clockwise (2): rows
// 2m+1 (R) and 2m (L), right to left, with a and b exchanged.
template <int kDirection>
struct UYVYTurn {
    int cols, pairs;
    int64_t sStride, oStride;
    const uint8_t* src;
    uint8_t* out;

    uint8_t* RowR(int m) const {
        return out + (kDirection == 1 ? 2 * (cols - 1 - m) : 2 * m + 1) * oStride;
    }
    uint8_t* RowL(int m) const {
        return out + (kDirection == 1 ? 2 * (cols - 1 - m) + 1 : 2 * m) * oStride;
    }
    int Position(int j) const { return kDirection == 1 ? j : pairs - 1 - j; }

    void One(int m, int j) const {
        const uint32_t A = Load32(src + (2 * j) * sStride + m * 4);
        const uint32_t B = Load32(src + (2 * j + 1) * sStride + m * 4);
        const uint32_t top = kDirection == 1 ? A : B;  // the pixel that comes first
        const uint32_t bottom = kDirection == 1 ? B : A;
        // U and V of both macropixels averaged at once, each in its own 16-bit field.
        const uint32_t uv = (((A & kChroma) + (B & kChroma)) >> 1) & kChroma;
        Store32(RowR(m) + Position(j) * 4, uv | (top >> 24) << 8 | (bottom & 0xFF000000u));
        Store32(RowL(m) + Position(j) * 4, uv | (top & 0xFF00u) | (bottom & 0xFF00u) << 16);
    }

#if defined(__SSE2__)
    // Four columns by four row pairs: the same arithmetic in 32-bit lanes, then a 4 x 4
    // transpose turns lanes of one source row pair into runs along one output row.
    void Block(int m0, int j0) const {
        const __m128i chroma = _mm_set1_epi32(static_cast<int>(kChroma));
        const __m128i y1 = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        const __m128i y0 = _mm_set1_epi32(0xFF00);
        __m128 r[4], l[4];
        for (int p = 0; p < 4; ++p) {
            const uint8_t* a = src + (2 * (j0 + p)) * sStride + m0 * 4;
            const __m128i A = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
            const __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + sStride));
            const __m128i top = kDirection == 1 ? A : B;
            const __m128i bottom = kDirection == 1 ? B : A;
            const __m128i uv = _mm_and_si128(
                _mm_srli_epi32(_mm_add_epi32(_mm_and_si128(A, chroma), _mm_and_si128(B, chroma)),
                               1),
                chroma);
            r[p] = _mm_castsi128_ps(
                _mm_or_si128(uv, _mm_or_si128(_mm_slli_epi32(_mm_srli_epi32(top, 24), 8),
                                              _mm_and_si128(bottom, y1))));
            l[p] = _mm_castsi128_ps(
                _mm_or_si128(uv, _mm_or_si128(_mm_and_si128(top, y0),
                                              _mm_slli_epi32(_mm_and_si128(bottom, y0), 16))));
        }
        _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);  // bit moves only
        _MM_TRANSPOSE4_PS(l[0], l[1], l[2], l[3]);
        const int first = kDirection == 1 ? j0 : pairs - 1 - (j0 + 3);
        for (int k = 0; k < 4; ++k) {
            __m128i vr = _mm_castps_si128(r[k]);
            __m128i vl = _mm_castps_si128(l[k]);
            if (kDirection != 1) {  // written right to left
                vr = _mm_shuffle_epi32(vr, _MM_SHUFFLE(0, 1, 2, 3));
                vl = _mm_shuffle_epi32(vl, _MM_SHUFFLE(0, 1, 2, 3));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(RowR(m0 + k) + first * 4), vr);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(RowL(m0 + k) + first * 4), vl);
        }
    }
#endif

#if defined(__x86_64__)
    // Eight columns by eight row pairs: Block's arithmetic on row pairs p (low lanes) and p + 4
    // (high lanes) at once, then in-lane transposes.
    __attribute__((target("avx2"), always_inline)) inline void Block8(int m0, int j0) const {
        const __m256i chroma = _mm256_set1_epi32(static_cast<int>(kChroma));
        const __m256i y1 = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
        const __m256i y0 = _mm256_set1_epi32(0xFF00);
        const int first = kDirection == 1 ? j0 : pairs - 1 - (j0 + 7);
        for (int half = 0; half < 2; ++half) {
            const int m = m0 + 4 * half;
            __m256i r[4], l[4];
            for (int p = 0; p < 4; ++p) {
                // Written right to left when clockwise: take the row pairs from the bottom up.
                const int upper = kDirection == 1 ? j0 + p : j0 + 7 - p;
                const int lower = kDirection == 1 ? j0 + p + 4 : j0 + 3 - p;
                const uint8_t* a = src + (2 * upper) * sStride + m * 4;
                const uint8_t* c = src + (2 * lower) * sStride + m * 4;
                const __m256i A = LoadHalves(a, c);
                const __m256i B = LoadHalves(a + sStride, c + sStride);
                const __m256i top = kDirection == 1 ? A : B;
                const __m256i bottom = kDirection == 1 ? B : A;
                const __m256i uv = _mm256_and_si256(
                    _mm256_srli_epi32(
                        _mm256_add_epi32(_mm256_and_si256(A, chroma), _mm256_and_si256(B, chroma)),
                        1),
                    chroma);
                r[p] = _mm256_or_si256(
                    uv, _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(top, 24), 8),
                                        _mm256_and_si256(bottom, y1)));
                l[p] = _mm256_or_si256(
                    uv, _mm256_or_si256(_mm256_and_si256(top, y0),
                                        _mm256_slli_epi32(_mm256_and_si256(bottom, y0), 16)));
            }
            TransposeLanes(r);
            TransposeLanes(l);
            for (int k = 0; k < 4; ++k) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(RowR(m + k) + first * 4), r[k]);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(RowL(m + k) + first * 4), l[k]);
            }
        }
    }

    __attribute__((target("avx2"))) void RunAvx2(int cols8, int pairs8) const {
        for (int tj = 0; tj < pairs8; tj += kTurnBand / 2) {
            for (int tm = 0; tm < cols8; tm += kTurnStrip) {
                const int jEnd = std::min(pairs8, tj + kTurnBand / 2);
                const int mEnd = std::min(cols8, tm + kTurnStrip);
                for (int m = tm; m < mEnd; m += 8) {
                    for (int j = tj; j < jEnd; j += 8)
                        Block8(m, j);
                }
            }
        }
    }
#endif

    // Columns [m0, m1) by row pairs [j0, j1) in 4 x 4 blocks (both ranges multiples of 4).
    void Blocks4(int m0, int m1, int j0, int j1) const {
#if defined(__SSE2__)
        constexpr int kTurnTile = 16;
        for (int tj = j0; tj < j1; tj += kTurnTile) {
            for (int tm = m0; tm < m1; tm += kTurnTile) {
                const int jEnd = std::min(j1, tj + kTurnTile);
                const int mEnd = std::min(m1, tm + kTurnTile);
                for (int m = tm; m < mEnd; m += 4) {
                    for (int j = tj; j < jEnd; j += 4)
                        Block(m, j);
                }
            }
        }
#else
        (void)m0, (void)m1, (void)j0, (void)j1;
#endif
    }

    void Run(bool avx2) const {
        int blockCols = 0, blockPairs = 0;
#if defined(__SSE2__)
        blockCols = cols & ~3;
        blockPairs = pairs & ~3;
        int cols8 = 0, pairs8 = 0;
#if defined(__x86_64__)
        if (avx2) {
            cols8 = cols & ~7;
            pairs8 = pairs & ~7;
            RunAvx2(cols8, pairs8);
        }
#endif
        // What the 8 x 8 blocks left of the 4 x 4 grid: the right-hand strip, then the bottom.
        Blocks4(cols8, blockCols, 0, pairs8);
        Blocks4(0, blockCols, pairs8, blockPairs);
#endif
        (void)avx2;
        for (int j = 0; j < pairs; ++j) {
            for (int m = j < blockPairs ? blockCols : 0; m < cols; ++m)
                One(m, j);
        }
    }
};

}  // namespace

namespace {

// The quarter turns work in 2 x 2 blocks (a macropixel by a row pair), so an odd side leaves the
// last output column (half a macropixel: its U and Y) or row unwritten. They repeat the column or
// row before them; a picture one pixel across has none and gets black.
void FillOddEdges(uint8_t* out, int width, int height, int64_t stride) {
    if (width % 2 != 0) {
        const int64_t last = int64_t{width - 1} * 2;
        for (int y = 0; y < height - height % 2; ++y) {
            uint8_t* row = out + y * stride;
            row[last] = width > 1 ? row[last - 4] : 128;     // U of the macropixel before
            row[last + 1] = width > 1 ? row[last - 1] : 16;  // its second luma
        }
    }
    if (height % 2 != 0) {
        uint8_t* row = out + int64_t{height - 1} * stride;
        if (height > 1) {
            std::memcpy(row, row - stride, static_cast<size_t>(width) * 2);
        } else {
            for (int x = 0; x < width; ++x) {
                row[2 * x] = 128;
                row[2 * x + 1] = 16;
            }
        }
    }
}

}  // namespace

bool RotateUYVY(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride) {
    const int W = width, H = height;
    if (W <= 0 || H <= 0 || !src || !rotateImage.Reshape(H, W, kPixelUYVY)) {
        rotateImage.Clear();
        return false;
    }
    const int64_t sStride = srcStride > 0 ? srcStride : int64_t{W} * 2;
    const int64_t oStride = int64_t{H} * 2;
    const bool avx2 = UseAvx2Kernels();
    if (direction == 1) {
        UYVYTurn<1>{W / 2, H / 2, sStride, oStride, src, rotateImage.pixels()}.Run(avx2);
    } else {
        UYVYTurn<2>{W / 2, H / 2, sStride, oStride, src, rotateImage.pixels()}.Run(avx2);
    }
    FillOddEdges(rotateImage.pixels(), H, W, oStride);
    return true;
}

namespace {

// The BGRA quarter turn with the direction fixed at compile time. Output pixel (x', y'):
// clockwise (1) holds source (y', H-1-x'); anticlockwise (3) holds (W-1-y', x').
template <int kDirection>
struct RGBATurn {
    int W, H;
    const uint8_t* src;
    int64_t sStride;
    uint8_t* out;

    uint8_t* OutPixel(int sx, int sy) const {
        const int64_t oStride = int64_t{H} * 4;
        return kDirection == 1 ? out + sx * oStride + (H - 1 - sy) * 4
                               : out + (W - 1 - sx) * oStride + sy * 4;
    }

#if defined(__x86_64__)
    // One 8 x 8 block: source rows sy..sy+7 become eight output runs of eight pixels. Clockwise
    // the rows are taken from the bottom up, so each run comes out right to left.
    __attribute__((target("avx2"), always_inline)) inline void Block8(int sx, int sy) const {
        auto row = [&](int i) {
            return src + (kDirection == 1 ? sy + 7 - i : sy + i) * sStride + sx * 4;
        };
        __m256i left[4], right[4];
        for (int i = 0; i < 4; ++i) {
            left[i] = LoadHalves(row(i), row(i + 4));
            right[i] = LoadHalves(row(i) + 16, row(i + 4) + 16);
        }
        TransposeLanes(left);
        TransposeLanes(right);
        const int first = kDirection == 1 ? sy + 7 : sy;  // the row that comes first in a run
        for (int k = 0; k < 4; ++k) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(OutPixel(sx + k, first)), left[k]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(OutPixel(sx + 4 + k, first)), right[k]);
        }
    }

    __attribute__((target("avx2"))) void RunAvx2(int w8, int h8) const {
        for (int ty = 0; ty < h8; ty += kTurnBand) {
            for (int tx = 0; tx < w8; tx += kTurnStrip) {
                const int yEnd = std::min(h8, ty + kTurnBand);
                const int xEnd = std::min(w8, tx + kTurnStrip);
                for (int sx = tx; sx < xEnd; sx += 8) {
                    for (int sy = ty; sy < yEnd; sy += 8)
                        Block8(sx, sy);
                }
            }
        }
    }
#endif

#if defined(__SSE2__)
    void Block4(int sx, int sy) const {
        const uint8_t* p = src + sy * sStride + sx * 4;
        __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + sStride)));
        __m128 c =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * sStride)));
        __m128 d =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * sStride)));
        // Moves bits only; afterwards a is source column sx, rows sy..sy+3.
        _MM_TRANSPOSE4_PS(a, b, c, d);
        const __m128 cols[4] = {a, b, c, d};
        for (int k = 0; k < 4; ++k) {
            __m128i v = _mm_castps_si128(cols[k]);
            if (kDirection == 1) {
                // Clockwise: source rows run right to left along the output row.
                v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(OutPixel(sx + k, sy + 3)), v);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(OutPixel(sx + k, sy)), v);
            }
        }
    }
#endif

    // Source columns [x0, x1) by rows [y0, y1) in 4 x 4 blocks (both ranges multiples of 4).
    // 32 x 32 tiles keep both the source rows and the output rows in the cache; inside a tile
    // the source columns go outermost so each output row is written front to back.
    void Blocks4(int x0, int x1, int y0, int y1) const {
#if defined(__SSE2__)
        constexpr int kRotTile = 32;
        for (int ty = y0; ty < y1; ty += kRotTile) {
            for (int tx = x0; tx < x1; tx += kRotTile) {
                const int yEnd = std::min(y1, ty + kRotTile);
                const int xEnd = std::min(x1, tx + kRotTile);
                for (int sx = tx; sx < xEnd; sx += 4) {
                    for (int sy = ty; sy < yEnd; sy += 4)
                        Block4(sx, sy);
                }
            }
        }
#else
        (void)x0, (void)x1, (void)y0, (void)y1;
#endif
    }

    void Run(bool avx2) const {
        int blockW = 0, blockH = 0;  // the part done in 4 x 4 blocks
#if defined(__SSE2__)
        blockW = W & ~3;
        blockH = H & ~3;
        int w8 = 0, h8 = 0;  // the part done in 8 x 8 blocks
#if defined(__x86_64__)
        if (avx2) {
            w8 = W & ~7;
            h8 = H & ~7;
            RunAvx2(w8, h8);
        }
#endif
        Blocks4(w8, blockW, 0, h8);
        Blocks4(0, blockW, h8, blockH);
#endif
        (void)avx2;
        // Whatever the blocks left: the right-hand columns and the bottom rows.
        for (int sy = 0; sy < H; ++sy) {
            for (int sx = sy < blockH ? blockW : 0; sx < W; ++sx)
                Store32(OutPixel(sx, sy), Load32(src + sy * sStride + sx * 4));
        }
    }
};

}  // namespace

bool RotateRGBA(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride) {
    const int W = width, H = height;
    if (W <= 0 || H <= 0 || !src || !rotateImage.Reshape(H, W, kPixelBGRA)) {
        rotateImage.Clear();
        return false;
    }
    const int64_t sStride = srcStride > 0 ? srcStride : int64_t{W} * 4;
    const bool avx2 = UseAvx2Kernels();
    if (direction == 1) {
        RGBATurn<1>{W, H, src, sStride, rotateImage.pixels()}.Run(avx2);
    } else {
        RGBATurn<3>{W, H, src, sStride, rotateImage.pixels()}.Run(avx2);
    }
    return true;
}

namespace {

// Row a becomes row b reversed and row b becomes row a reversed (n 4-byte units each); with
// swapLumas each moved unit also has its lumas exchanged.
template <bool kSwapLumas>
VELMOR_TARGET_CLONES void ExchangeReversed(uint8_t* __restrict a, uint8_t* __restrict b, int n) {
    for (int k = 0; k < n; ++k) {
        const uint32_t va = Load32(a + k * 4);
        const uint32_t vb = Load32(b + (n - 1 - k) * 4);
        Store32(a + k * 4, kSwapLumas ? SwapLumas(vb) : vb);
        Store32(b + (n - 1 - k) * 4, kSwapLumas ? SwapLumas(va) : va);
    }
}

// Reverses one row of n units in place; an odd middle unit stays as it is.
template <bool kSwapLumas>
void ReverseRow(uint8_t* row, int n) {
    for (int k = 0; k < n / 2; ++k) {
        const uint32_t va = Load32(row + k * 4);
        const uint32_t vb = Load32(row + (n - 1 - k) * 4);
        Store32(row + k * 4, kSwapLumas ? SwapLumas(vb) : vb);
        Store32(row + (n - 1 - k) * 4, kSwapLumas ? SwapLumas(va) : va);
    }
}

void SwapRows(uint8_t* __restrict a, uint8_t* __restrict b, int bytes) {
    alignas(64) uint8_t tmp[kBlock];
    for (int x = 0; x < bytes; x += kBlock) {
        const int n = std::min(kBlock, bytes - x);
        std::memcpy(tmp, a + x, n);
        std::memcpy(a + x, b + x, n);
        std::memcpy(b + x, tmp, n);
    }
}

template <bool kSwapLumas>
void HalfTurn(int units, int height, uint8_t* data, int64_t stride) {
    for (int r = 0; r < height / 2; ++r) {
        ExchangeReversed<kSwapLumas>(data + r * stride, data + (height - 1 - r) * stride, units);
    }
    if (height & 1) ReverseRow<kSwapLumas>(data + (height / 2) * stride, units);
}

template <bool kSwapLumas>
void Mirror(int units, int height, uint8_t* data, int64_t stride) {
    for (int r = 0; r < height; ++r)
        ReverseRow<kSwapLumas>(data + r * stride, units);
}

void Flip(int rowBytes, int height, uint8_t* data, int64_t stride) {
    for (int r = 0; r < height / 2; ++r) {
        SwapRows(data + r * stride, data + (height - 1 - r) * stride, rowBytes);
    }
}

bool Usable(int width, int height, const uint8_t* data) {
    return width > 0 && height > 0 && data != nullptr;
}

}  // namespace

void TurnUYVY180(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data)) return;
    HalfTurn<true>(width / 2, height, data, stride > 0 ? stride : int64_t{width} * 2);
}

void MirrorUYVY(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data)) return;
    Mirror<true>(width / 2, height, data, stride > 0 ? stride : int64_t{width} * 2);
}

void FlipUYVY(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width / 2} * height < 16) return;
    Flip((width / 2) * 4, height, data, stride > 0 ? stride : int64_t{width} * 2);
}

void TurnRGBA180(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width} * height < 16) return;
    HalfTurn<false>(width, height, data, stride > 0 ? stride : int64_t{width} * 4);
}

void MirrorRGBA(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width} * height < 16) return;
    Mirror<false>(width, height, data, stride > 0 ? stride : int64_t{width} * 4);
}

void FlipRGBA(int width, int height, uint8_t* data, int stride) {
    if (!Usable(width, height, data) || int64_t{width} * height < 16) return;
    Flip(width * 4, height, data, stride > 0 ? stride : int64_t{width} * 4);
}

}  // namespace velmor
