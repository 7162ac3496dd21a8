// The quarter turns of UYVY and BGRA pictures into a work picture, in a reference version and
// block-transposing SSE2 and AVX2 versions.
#include <algorithm>
#include <cstring>

#include "video/frame_transforms.h"
#include "video/pixel_words.h"
#include "video/simd.h"

namespace velmor {

namespace {

constexpr uint32_t kChroma = 0x00FF00FFu;  // U and V of a little-endian UYVY macropixel

// The 4 x 4 blocks of columns [x0, x1) by rows [y0, y1) (both ranges multiples of 4), tile x tile
// at a time so that both the source rows and the output rows stay in the cache; inside a tile the
// columns go outermost so each output row is written front to back. (The AVX2 versions walk their
// 8 x 8 blocks themselves: a helper outside their target could not take their blocks inline.)
template <typename Block>
void ForEachBlock4(int x0, int x1, int y0, int y1, int tile, const Block& block) {
    for (int ty = y0; ty < y1; ty += tile) {
        for (int tx = x0; tx < x1; tx += tile) {
            const int yEnd = std::min(y1, ty + tile);
            const int xEnd = std::min(x1, tx + tile);
            for (int x = tx; x < xEnd; x += 4) {
                for (int y = ty; y < yEnd; y += 4)
                    block(x, y);
            }
        }
    }
}

#if VELMOR_X86
// Rows i and i + 4 of an 8 x 8 block of 32-bit units, each 128-bit half four units wide.
VELMOR_AVX2 inline __m256i LoadHalves(const uint8_t* upper, const uint8_t* lower) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(upper))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower)), 1);
}

// A 4 x 4 transpose of 32-bit units within each 128-bit lane. With rows i and i + 4 in the lanes
// of v[i], afterwards v[k] is column k of all eight rows, in row order.
VELMOR_AVX2 inline void TransposeLanes(__m256i v[4]) {
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

#if VELMOR_X86
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

#if VELMOR_X86
    // Eight columns by eight row pairs: Block's arithmetic on row pairs p (low lanes) and p + 4
    // (high lanes) at once, then in-lane transposes.
    VELMOR_AVX2 __attribute__((always_inline)) inline void Block8(int m0, int j0) const {
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

    VELMOR_AVX2 void RunAvx2(int cols8, int pairs8) const {
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
#if VELMOR_X86
        ForEachBlock4(m0, m1, j0, j1, 16, [this](int m, int j) { Block(m, j); });
#else
        (void)m0, (void)m1, (void)j0, (void)j1;
#endif
    }

    template <KernelLevel L>
    void Run() const {
        int blockCols = 0, blockPairs = 0;
#if VELMOR_X86
        if constexpr (L != KernelLevel::Reference) {
            blockCols = cols & ~3;
            blockPairs = pairs & ~3;
            int cols8 = 0, pairs8 = 0;
            if constexpr (L == KernelLevel::Avx2) {
                cols8 = cols & ~7;
                pairs8 = pairs & ~7;
                RunAvx2(cols8, pairs8);
            }
            // What the 8 x 8 blocks left of the 4 x 4 grid: the right-hand strip, then the
            // bottom.
            Blocks4(cols8, blockCols, 0, pairs8);
            Blocks4(0, blockCols, pairs8, blockPairs);
        }
#endif
        for (int j = 0; j < pairs; ++j) {
            for (int m = j < blockPairs ? blockCols : 0; m < cols; ++m)
                One(m, j);
        }
    }
};

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

template <int kDirection, KernelLevel L>
bool TurnUYVY(int width, int height, const uint8_t* src, int srcStride, ImageBuffer& rotateImage) {
    const int W = width, H = height;
    if (W <= 0 || H <= 0 || !src || !rotateImage.Reshape(H, W, kPixelUYVY)) {
        rotateImage.Clear();
        return false;
    }
    const int64_t sStride = srcStride > 0 ? srcStride : int64_t{W} * 2;
    const int64_t oStride = int64_t{H} * 2;
    UYVYTurn<kDirection>{W / 2, H / 2, sStride, oStride, src, rotateImage.pixels()}
        .template Run<L>();
    FillOddEdges(rotateImage.pixels(), H, W, oStride);
    return true;
}

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

#if VELMOR_X86
    // One 8 x 8 block: source rows sy..sy+7 become eight output runs of eight pixels. Clockwise
    // the rows are taken from the bottom up, so each run comes out right to left.
    VELMOR_AVX2 __attribute__((always_inline)) inline void Block8(int sx, int sy) const {
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

    VELMOR_AVX2 void RunAvx2(int w8, int h8) const {
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

#if VELMOR_X86
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
    void Blocks4(int x0, int x1, int y0, int y1) const {
#if VELMOR_X86
        ForEachBlock4(x0, x1, y0, y1, 32, [this](int sx, int sy) { Block4(sx, sy); });
#else
        (void)x0, (void)x1, (void)y0, (void)y1;
#endif
    }

    template <KernelLevel L>
    void Run() const {
        int blockW = 0, blockH = 0;  // the part done in 4 x 4 blocks
#if VELMOR_X86
        if constexpr (L != KernelLevel::Reference) {
            blockW = W & ~3;
            blockH = H & ~3;
            int w8 = 0, h8 = 0;  // the part done in 8 x 8 blocks
            if constexpr (L == KernelLevel::Avx2) {
                w8 = W & ~7;
                h8 = H & ~7;
                RunAvx2(w8, h8);
            }
            Blocks4(w8, blockW, 0, h8);
            Blocks4(0, blockW, h8, blockH);
        }
#endif
        // Whatever the blocks left: the right-hand columns and the bottom rows.
        for (int sy = 0; sy < H; ++sy) {
            for (int sx = sy < blockH ? blockW : 0; sx < W; ++sx)
                Store32(OutPixel(sx, sy), Load32(src + sy * sStride + sx * 4));
        }
    }
};

template <int kDirection, KernelLevel L>
bool TurnRGBA(int width, int height, const uint8_t* src, int srcStride, ImageBuffer& rotateImage) {
    const int W = width, H = height;
    if (W <= 0 || H <= 0 || !src || !rotateImage.Reshape(H, W, kPixelBGRA)) {
        rotateImage.Clear();
        return false;
    }
    const int64_t sStride = srcStride > 0 ? srcStride : int64_t{W} * 4;
    RGBATurn<kDirection>{W, H, src, sStride, rotateImage.pixels()}.template Run<L>();
    return true;
}

template <KernelLevel L>
QuarterTurnFn TurnAt(bool uyvy, int rotationMode) {
    if (uyvy) return rotationMode == 1 ? TurnUYVY<1, L> : TurnUYVY<2, L>;
    return rotationMode == 1 ? TurnRGBA<1, L> : TurnRGBA<3, L>;
}

}  // namespace

QuarterTurnFn QuarterTurnFor(bool uyvy, int rotationMode, KernelLevel level) {
    if (rotationMode != 1 && rotationMode != 3) return nullptr;
    return ByLevel(level, TurnAt<KernelLevel::Reference>(uyvy, rotationMode),
                   TurnAt<KernelLevel::Sse2>(uyvy, rotationMode),
                   TurnAt<KernelLevel::Avx2>(uyvy, rotationMode));
}

bool RotateUYVY(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride) {
    return QuarterTurnFor(true, direction == 1 ? 1 : 3, BestKernelLevel())(width, height, src,
                                                                           srcStride, rotateImage);
}

bool RotateRGBA(int direction, int width, int height, const uint8_t* src, ImageBuffer& rotateImage,
                int srcStride) {
    return QuarterTurnFor(false, direction == 1 ? 1 : 3, BestKernelLevel())(width, height, src,
                                                                            srcStride, rotateImage);
}

}  // namespace velmor
