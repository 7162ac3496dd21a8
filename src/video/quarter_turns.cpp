// The quarter turns of UYVY and BGRA pictures into a work picture, in a reference version and
// block-transposing SSE2 and AVX2 versions, whole or one band of source rows at a time.
#include <algorithm>
#include <cstring>

#include "video/frame_transforms.h"
#include "video/pixel_words.h"
#include "video/simd.h"

namespace velmor {

namespace {

constexpr uint32_t kChroma = 0x00FF00FFu;  // U and V of a little-endian UYVY macropixel

// A turned picture at least this large goes to memory past the caches. The AVX2 versions then go
// through the source in bands of 16 rows (BGRA) or 16 row pairs (UYVY) across the whole width,
// the order in which the processor reads memory fastest (as fast as reading it front to back;
// narrow tiles that go down the picture read it at a third of that speed), and each band gives
// every output row a run of 16 units, 64 bytes, which is written as a whole cache line with a
// streaming store. Ordinary stores would first read every output line from memory (half again
// the traffic) and push the source out of the last-level cache; spread over the whole output,
// they also stall on the cache (twice as slow as the strips below at 1080p). Measured at 1080p:
// a BGRA picture (8 MB) is turned in half the time streamed, a UYVY one (4 MB) a quarter faster
// in the cache.
constexpr int64_t kStreamBytes = int64_t{6} << 20;
constexpr int kBandUnits = 16;

// Smaller pictures stay in the cache: the vector versions write them in place from 8 x 8 or
// 4 x 4 blocks, going through the source in bands of kStripRows rows, each band in strips
// kStripUnits units wide, a strip's blocks column by column. Square tiles swept across the whole
// width instead touch every page of the output for each row of tiles, far more pages than the TLB
// holds: about a third slower at 1080p.
constexpr int kStripUnits = 64;
constexpr int kStripRows = 512;

// Where turned units go: the output picture itself, or a small buffer holding output rows
// [rowBase, ...) from unit position posBase on.
struct Target {
    uint8_t* base;
    int64_t stride;
    int rowBase = 0;
    int posBase = 0;
    uint8_t* At(int row, int pos) const {
        return base + (row - rowBase) * stride + int64_t{pos - posBase} * 4;
    }
};

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

// Writes the 64-byte run that a band gives an output row. A run that starts on a cache line is
// the whole line and goes out with streaming stores. A run that starts half way into a line
// finishes the line that the half band before it began (`before`: its 32 bytes along this row,
// turned again rather than kept, which costs less than reading them back from a buffer as wide
// as the picture), and its own second half waits for the next band; the partial lines at the
// ends of the bands of one call are stored plainly (their other bytes belong to other calls or
// rows). Runs that start elsewhere in a line are stored plainly.
struct RunWriter {
    bool first, last;  // the band is the first or the last of this call along the output rows

    VELMOR_AVX2 void Put(const uint8_t* run, const uint8_t* before, uint8_t* dst) const {
        const __m256i c0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(run));
        const __m256i c1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(run + 32));
        const uintptr_t phase = reinterpret_cast<uintptr_t>(dst) & 63;
        if (phase == 0) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(dst), c0);
            _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + 32), c1);
        } else if (phase != 32) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), c0);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32), c1);
        } else {
            if (first) {
                _mm256_store_si256(reinterpret_cast<__m256i*>(dst), c0);
            } else {
                _mm256_stream_si256(reinterpret_cast<__m256i*>(dst - 32),
                                    _mm256_load_si256(reinterpret_cast<const __m256i*>(before)));
                _mm256_stream_si256(reinterpret_cast<__m256i*>(dst), c0);
            }
            if (last) _mm256_store_si256(reinterpret_cast<__m256i*>(dst + 32), c1);
        }
    }
};

// Whether any of 16 runs from `runs` on, `oStride` bytes apart, starts half way into a cache line
// (every further run starts where one of those does).
inline bool HalfLineRows(const uint8_t* runs, int64_t oStride) {
    for (int k = 0; k < 16; ++k) {
        if ((reinterpret_cast<uintptr_t>(runs + k * oStride) & 63) == 32) return true;
    }
    return false;
}

// Whether all of them do (every other row of a picture 2160 lines high does).
inline bool AllHalfLineRows(const uint8_t* runs, int64_t oStride) {
    for (int k = 0; k < 16; ++k) {
        if ((reinterpret_cast<uintptr_t>(runs + k * oStride) & 63) != 32) return false;
    }
    return true;
}
#endif

// The UYVY quarter turn with the direction fixed at compile time. Source macropixel column m of
// row pair j (macropixel a above b) gives two output macropixels sharing the averaged chroma: R
// from the right-hand pixel 2m+1 and L from the left-hand pixel 2m. Anticlockwise (1): column m
// feeds output rows 2(cols-1-m) (R) and +1 (L), left to right in order of j. Clockwise (2): rows
// 2m+1 (R) and 2m (L), right to left, with a and b exchanged.
template <int kDirection>
struct UYVYTurn {
    int cols, pairs;
    int64_t sStride;
    const uint8_t* src;

    int RowR(int m) const { return kDirection == 1 ? 2 * (cols - 1 - m) : 2 * m + 1; }
    int RowL(int m) const { return kDirection == 1 ? 2 * (cols - 1 - m) + 1 : 2 * m; }
    int Position(int j) const { return kDirection == 1 ? j : pairs - 1 - j; }

    void One(int m, int j, Target t) const {
        const uint32_t A = Load32(src + (2 * j) * sStride + m * 4);
        const uint32_t B = Load32(src + (2 * j + 1) * sStride + m * 4);
        const uint32_t top = kDirection == 1 ? A : B;  // the pixel that comes first
        const uint32_t bottom = kDirection == 1 ? B : A;
        // U and V of both macropixels averaged at once, each in its own 16-bit field.
        const uint32_t uv = (((A & kChroma) + (B & kChroma)) >> 1) & kChroma;
        Store32(t.At(RowR(m), Position(j)), uv | (top >> 24) << 8 | (bottom & 0xFF000000u));
        Store32(t.At(RowL(m), Position(j)), uv | (top & 0xFF00u) | (bottom & 0xFF00u) << 16);
    }

#if VELMOR_X86
    // Four columns by four row pairs: the same arithmetic in 32-bit lanes, then a 4 x 4
    // transpose turns lanes of one source row pair into runs along one output row.
    void Block4(int m0, int j0, Target t) const {
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
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t.At(RowR(m0 + k), first)), vr);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t.At(RowL(m0 + k), first)), vl);
        }
    }

    // Eight columns by eight row pairs: Block4's arithmetic on row pairs p (low lanes) and p + 4
    // (high lanes) at once, the lumas moved with byte shuffles, then in-lane transposes. kR and
    // kL choose which of the two output macropixels are written.
    template <bool kR = true, bool kL = true>
    VELMOR_AVX2 __attribute__((always_inline)) inline void Block8(int m0, int j0, Target t) const {
        const __m256i chroma = _mm256_set1_epi32(static_cast<int>(kChroma));
        const __m256i y1 = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
        const __m256i y0 = _mm256_set1_epi32(0xFF00);
        // Y1 of each macropixel into its second byte, Y0 into its fourth; the rest zero.
        const __m256i y1ToSecond =
            _mm256_setr_epi8(-1, 3, -1, -1, -1, 7, -1, -1, -1, 11, -1, -1, -1, 15, -1, -1, -1, 3,
                             -1, -1, -1, 7, -1, -1, -1, 11, -1, -1, -1, 15, -1, -1);
        const __m256i y0ToFourth =
            _mm256_setr_epi8(-1, -1, -1, 1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1,
                             -1, 1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13);
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
                r[p] = _mm256_or_si256(uv, _mm256_or_si256(_mm256_shuffle_epi8(top, y1ToSecond),
                                                           _mm256_and_si256(bottom, y1)));
                l[p] =
                    _mm256_or_si256(uv, _mm256_or_si256(_mm256_and_si256(top, y0),
                                                        _mm256_shuffle_epi8(bottom, y0ToFourth)));
            }
            if constexpr (kR) TransposeLanes(r);
            if constexpr (kL) TransposeLanes(l);
            for (int k = 0; k < 4; ++k) {
                if constexpr (kR) {
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.At(RowR(m + k), first)), r[k]);
                }
                if constexpr (kL) {
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.At(RowL(m + k), first)), l[k]);
                }
            }
        }
    }

    // Columns [m0, m1) by row pairs [j0, j1) in 8 x 8 blocks, column by column, so that each
    // output row is written front to back.
    VELMOR_AVX2 void Blocks8(int m0, int m1, int j0, int j1, Target t) const {
        const UYVYTurn turn = *this;  // a copy that the stores cannot alias, kept in registers
        for (int m = m0; m < m1; m += 8) {
            for (int j = j0; j < j1; j += 8)
                turn.Block8(m, j, t);
        }
    }

    // `bands` bands of kBandUnits row pairs from j0 on, across columns [0, cols8): two 8 x 8
    // blocks give a 64-byte run on each of 16 output rows (and a third the half band before,
    // where rows need it; see RunWriter). The bands go in the order of their place along the
    // output rows, so that each row's runs follow each other.
    VELMOR_AVX2 void StreamBands(int cols8, int j0, int bands, uint8_t* out,
                                 int64_t oStride) const {
        alignas(64) uint8_t tile[16 * 64];
        alignas(64) uint8_t before[16 * 64];
        // Rows R of the columns are every other output row from RowR(0), rows L the others; the
        // runs of all bands start where the first band's do within a cache line.
        const int jFirst = kDirection == 1 ? j0 : j0 + kBandUnits * (bands - 1);
        const uint8_t* runs =
            out + int64_t{std::min(Position(jFirst), Position(jFirst + kBandUnits - 1))} * 4;
        const bool halvesR = HalfLineRows(runs + RowR(0) * oStride, 2 * oStride);
        const bool halvesL = HalfLineRows(runs + RowL(0) * oStride, 2 * oStride);
        // Rows that all start half way into a line store only the front half of a band's run
        // (and the back half in the last band): the back half band is turned for the others.
        const bool onlyFrontR = AllHalfLineRows(runs + RowR(0) * oStride, 2 * oStride);
        const bool onlyFrontL = AllHalfLineRows(runs + RowL(0) * oStride, 2 * oStride);
        const UYVYTurn turn = *this;  // a copy that the stores cannot alias, kept in registers
        for (int b = 0; b < bands; ++b) {
            const int jb = j0 + kBandUnits * (kDirection == 1 ? b : bands - 1 - b);
            const int posBase = std::min(Position(jb), Position(jb + kBandUnits - 1));
            const bool last = b == bands - 1;
            const RunWriter put{b == 0, last};
            // The half bands at the front and at the back of the runs.
            const int jFront = kDirection == 1 ? jb : jb + 8, jBack = kDirection == 1 ? jb + 8 : jb;
            for (int m = 0; m < cols8; m += 8) {
                if (m % 16 == 0) {
                    // The band's 32 source rows two cache lines ahead: more streams at once than
                    // the processor follows by itself.
                    const uint8_t* ahead = src + (2 * jb) * sStride + (m + 32) * 4;
                    for (int r = 0; r < 2 * kBandUnits; ++r)
                        _mm_prefetch(reinterpret_cast<const char*>(ahead + r * sStride),
                                     _MM_HINT_T0);
                }
                const int rowBase = kDirection == 1 ? 2 * (cols - 8 - m) : 2 * m;
                const Target t{tile, 64, rowBase, posBase};
                turn.Block8(m, jFront, t);
                if (last || (!onlyFrontR && !onlyFrontL)) {
                    turn.Block8(m, jBack, t);
                } else if (!onlyFrontR) {
                    turn.Block8<true, false>(m, jBack, t);
                } else if (!onlyFrontL) {
                    turn.Block8<false, true>(m, jBack, t);
                }
                if (b > 0 && (halvesR || halvesL)) {
                    // The half band just before this one along the output rows, for the rows
                    // that need it.
                    const int jBefore = kDirection == 1 ? jb - 8 : jb + 16;
                    const Target bt{before, 64, rowBase, posBase - 8};
                    if (!halvesL) {
                        turn.Block8<true, false>(m, jBefore, bt);
                    } else if (!halvesR) {
                        turn.Block8<false, true>(m, jBefore, bt);
                    } else {
                        turn.Block8(m, jBefore, bt);
                    }
                }
                uint8_t* dst = out + rowBase * oStride + int64_t{posBase} * 4;
                for (int k = 0; k < 16; ++k)
                    put.Put(tile + 64 * k, before + 64 * k, dst + k * oStride);
            }
        }
        _mm_sfence();  // the streamed lines are in memory before the picture is handed on
    }
#endif

    void Blocks4(int m0, int m1, int j0, int j1, const Target& t) const {
#if VELMOR_X86
        for (int m = m0; m < m1; m += 4) {
            for (int j = j0; j < j1; j += 4)
                Block4(m, j, t);
        }
#else
        (void)m0, (void)m1, (void)j0, (void)j1, (void)t;
#endif
    }

    // Macropixel columns [m0, m1) by row pairs [j0, j1), written in place: 8 x 8 blocks (AVX2)
    // from the top-left corner, then 4 x 4 blocks (SSE2, AVX2) right of and below them, then
    // single macropixels.
    template <KernelLevel L>
    void Region(int m0, int m1, int j0, int j1, const Target& t) const {
        const bool eights = L == KernelLevel::Avx2, fours = L != KernelLevel::Reference;
        const int m8 = eights ? m0 + ((m1 - m0) & ~7) : m0;
        const int j8 = eights ? j0 + ((j1 - j0) & ~7) : j0;
        const int m4 = fours ? m0 + ((m1 - m0) & ~3) : m0;
        const int j4 = fours ? j0 + ((j1 - j0) & ~3) : j0;
#if VELMOR_X86
        if constexpr (L == KernelLevel::Avx2) Blocks8(m0, m8, j0, j8, t);
#endif
        Blocks4(m8, m4, j0, j8, t);
        Blocks4(m0, m4, j8, j4, t);
        for (int j = j0; j < j1; ++j) {
            for (int m = j < j4 ? m4 : m0; m < m1; ++m)
                One(m, j, t);
        }
    }

    // Every macropixel column of row pairs [j0, j1).
    template <KernelLevel L>
    void Run(int j0, int j1, uint8_t* out, int64_t oStride, bool stream) const {
        const Target t{out, oStride};
#if VELMOR_X86
        if constexpr (L == KernelLevel::Avx2) {
            if (stream) {
                const int cols8 = cols & ~7;
                const int bands = (j1 - j0) / kBandUnits;
                const int jEnd = j0 + bands * kBandUnits;
                StreamBands(cols8, j0, bands, out, oStride);
                Region<L>(cols8, cols, j0, jEnd, t);  // what the bands leave: the right-hand
                Region<L>(0, cols, jEnd, j1, t);      // columns and the last row pairs
                return;
            }
        }
#endif
        (void)stream;
        for (int tj = j0; tj < j1; tj += kStripRows / 2) {
            for (int tm = 0; tm < cols; tm += kStripUnits) {
                Region<L>(tm, std::min(cols, tm + kStripUnits), tj,
                          std::min(j1, tj + kStripRows / 2), t);
            }
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

bool Streamed(KernelLevel level, int width, int height, int bytesPerPixel) {
    return level != KernelLevel::Reference &&
           int64_t{width} * height * bytesPerPixel >= kStreamBytes;
}

template <int kDirection, KernelLevel L>
void TurnUYVYBand(int width, int height, const uint8_t* src, int srcStride, uint8_t* out,
                  int firstRow, int endRow) {
    const int W = width, H = height;
    if (W <= 0 || H <= 0 || !src || !out) return;
    const int64_t sStride = srcStride > 0 ? srcStride : int64_t{W} * 2;
    const int64_t oStride = int64_t{H} * 2;
    // A row pair belongs to the band that holds its second row.
    const int j0 = std::max(firstRow, 0) / 2;
    const int j1 = std::min(endRow, H) / 2;
    if (j0 < j1) {
        UYVYTurn<kDirection>{W / 2, H / 2, sStride, src}.template Run<L>(j0, j1, out, oStride,
                                                                         Streamed(L, W, H, 2));
    }
    if (endRow >= H) FillOddEdges(out, H, W, oStride);
}

template <int kDirection, KernelLevel L>
bool TurnUYVY(int width, int height, const uint8_t* src, int srcStride, ImageBuffer& rotateImage) {
    if (width <= 0 || height <= 0 || !src || !rotateImage.Reshape(height, width, kPixelUYVY)) {
        rotateImage.Clear();
        return false;
    }
    TurnUYVYBand<kDirection, L>(width, height, src, srcStride, rotateImage.pixels(), 0, height);
    return true;
}

// The BGRA quarter turn with the direction fixed at compile time. Output pixel (x', y'):
// clockwise (1) holds source (y', H-1-x'); anticlockwise (3) holds (W-1-y', x').
template <int kDirection>
struct RGBATurn {
    int W, H;
    const uint8_t* src;
    int64_t sStride;

    int Row(int sx) const { return kDirection == 1 ? sx : W - 1 - sx; }
    int Position(int sy) const { return kDirection == 1 ? H - 1 - sy : sy; }
    uint8_t* OutPixel(int sx, int sy, const Target& t) const { return t.At(Row(sx), Position(sy)); }

#if VELMOR_X86
    // One 8 x 8 block: source rows sy..sy+7 become eight output runs of eight pixels. Clockwise
    // the rows are taken from the bottom up, so each run comes out right to left.
    VELMOR_AVX2 __attribute__((always_inline)) inline void Block8(int sx, int sy, Target t) const {
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
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(OutPixel(sx + k, first, t)), left[k]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(OutPixel(sx + 4 + k, first, t)),
                                right[k]);
        }
    }

    VELMOR_AVX2 void Blocks8(int x0, int x1, int y0, int y1, Target t) const {
        const RGBATurn turn = *this;  // a copy that the stores cannot alias, kept in registers
        for (int sx = x0; sx < x1; sx += 8) {
            for (int sy = y0; sy < y1; sy += 8)
                turn.Block8(sx, sy, t);
        }
    }

    // `bands` bands of kBandUnits rows from y0 on, across columns [0, w8): two 8 x 8 blocks give
    // a 64-byte run on each of 8 output rows (and a third the half band before, where rows need
    // it). The bands go in the order of their place along the output rows.
    VELMOR_AVX2 void StreamBands(int w8, int y0, int bands, uint8_t* out) const {
        const int64_t oStride = int64_t{H} * 4;
        alignas(64) uint8_t tile[8 * 64];
        alignas(64) uint8_t before[8 * 64];
        const int yFirst = kDirection == 1 ? y0 + kBandUnits * (bands - 1) : y0;
        const bool halves = HalfLineRows(
            out + int64_t{std::min(Position(yFirst), Position(yFirst + kBandUnits - 1))} * 4,
            oStride);
        const RGBATurn turn = *this;  // a copy that the stores cannot alias, kept in registers
        for (int b = 0; b < bands; ++b) {
            const int yb = y0 + kBandUnits * (kDirection == 1 ? bands - 1 - b : b);
            const int posBase = std::min(Position(yb), Position(yb + kBandUnits - 1));
            const RunWriter put{b == 0, b == bands - 1};
            for (int sx = 0; sx < w8; sx += 8) {
                if (sx % 16 == 0) {
                    // The band's 16 source rows two cache lines ahead.
                    const uint8_t* ahead = src + yb * sStride + (sx + 32) * 4;
                    for (int r = 0; r < kBandUnits; ++r)
                        _mm_prefetch(reinterpret_cast<const char*>(ahead + r * sStride),
                                     _MM_HINT_T0);
                }
                const int rowBase = kDirection == 1 ? sx : W - 8 - sx;
                const Target t{tile, 64, rowBase, posBase};
                turn.Block8(sx, yb, t);
                turn.Block8(sx, yb + 8, t);
                if (halves && b > 0) {
                    turn.Block8(sx, kDirection == 1 ? yb + 16 : yb - 8,
                                Target{before, 64, rowBase, posBase - 8});
                }
                uint8_t* dst = out + rowBase * oStride + int64_t{posBase} * 4;
                for (int k = 0; k < 8; ++k)
                    put.Put(tile + 64 * k, before + 64 * k, dst + k * oStride);
            }
        }
        _mm_sfence();
    }

    void Block4(int sx, int sy, Target t) const {
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
                _mm_storeu_si128(reinterpret_cast<__m128i*>(OutPixel(sx + k, sy + 3, t)), v);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(OutPixel(sx + k, sy, t)), v);
            }
        }
    }
#endif

    void Blocks4(int x0, int x1, int y0, int y1, const Target& t) const {
#if VELMOR_X86
        for (int sx = x0; sx < x1; sx += 4) {
            for (int sy = y0; sy < y1; sy += 4)
                Block4(sx, sy, t);
        }
#else
        (void)x0, (void)x1, (void)y0, (void)y1, (void)t;
#endif
    }

    // Source columns [x0, x1) by rows [y0, y1), written in place as Region of UYVYTurn.
    template <KernelLevel L>
    void Region(int x0, int x1, int y0, int y1, const Target& t) const {
        const bool eights = L == KernelLevel::Avx2, fours = L != KernelLevel::Reference;
        const int x8 = eights ? x0 + ((x1 - x0) & ~7) : x0;
        const int y8 = eights ? y0 + ((y1 - y0) & ~7) : y0;
        const int x4 = fours ? x0 + ((x1 - x0) & ~3) : x0;
        const int y4 = fours ? y0 + ((y1 - y0) & ~3) : y0;
#if VELMOR_X86
        if constexpr (L == KernelLevel::Avx2) Blocks8(x0, x8, y0, y8, t);
#endif
        Blocks4(x8, x4, y0, y8, t);
        Blocks4(x0, x4, y8, y4, t);
        for (int sy = y0; sy < y1; ++sy) {
            for (int sx = sy < y4 ? x4 : x0; sx < x1; ++sx)
                Store32(OutPixel(sx, sy, t), Load32(src + sy * sStride + sx * 4));
        }
    }

    // Every column of source rows [y0, y1).
    template <KernelLevel L>
    void Run(int y0, int y1, uint8_t* out, bool stream) const {
        const Target t{out, int64_t{H} * 4};
#if VELMOR_X86
        if constexpr (L == KernelLevel::Avx2) {
            if (stream) {
                const int w8 = W & ~7;
                const int bands = (y1 - y0) / kBandUnits;
                const int yEnd = y0 + bands * kBandUnits;
                StreamBands(w8, y0, bands, out);
                Region<L>(w8, W, y0, yEnd, t);
                Region<L>(0, W, yEnd, y1, t);
                return;
            }
        }
#endif
        (void)stream;
        for (int ty = y0; ty < y1; ty += kStripRows) {
            for (int tx = 0; tx < W; tx += kStripUnits) {
                Region<L>(tx, std::min(W, tx + kStripUnits), ty, std::min(y1, ty + kStripRows), t);
            }
        }
    }
};

template <int kDirection, KernelLevel L>
void TurnRGBABand(int width, int height, const uint8_t* src, int srcStride, uint8_t* out,
                  int firstRow, int endRow) {
    const int W = width, H = height;
    if (W <= 0 || H <= 0 || !src || !out) return;
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, H);
    if (firstRow >= endRow) return;
    const int64_t sStride = srcStride > 0 ? srcStride : int64_t{W} * 4;
    RGBATurn<kDirection>{W, H, src, sStride}.template Run<L>(firstRow, endRow, out,
                                                             Streamed(L, W, H, 4));
}

template <int kDirection, KernelLevel L>
bool TurnRGBA(int width, int height, const uint8_t* src, int srcStride, ImageBuffer& rotateImage) {
    if (width <= 0 || height <= 0 || !src || !rotateImage.Reshape(height, width, kPixelBGRA)) {
        rotateImage.Clear();
        return false;
    }
    TurnRGBABand<kDirection, L>(width, height, src, srcStride, rotateImage.pixels(), 0, height);
    return true;
}

template <KernelLevel L>
QuarterTurnFn TurnAt(bool uyvy, int rotationMode) {
    if (uyvy) return rotationMode == 1 ? TurnUYVY<1, L> : TurnUYVY<2, L>;
    return rotationMode == 1 ? TurnRGBA<1, L> : TurnRGBA<3, L>;
}

template <KernelLevel L>
QuarterTurnBandFn TurnBandAt(bool uyvy, int rotationMode) {
    if (uyvy) return rotationMode == 1 ? TurnUYVYBand<1, L> : TurnUYVYBand<2, L>;
    return rotationMode == 1 ? TurnRGBABand<1, L> : TurnRGBABand<3, L>;
}

}  // namespace

QuarterTurnFn QuarterTurnFor(bool uyvy, int rotationMode, KernelLevel level) {
    if (rotationMode != 1 && rotationMode != 3) return nullptr;
    return ByLevel(level, TurnAt<KernelLevel::Reference>(uyvy, rotationMode),
                   TurnAt<KernelLevel::Sse2>(uyvy, rotationMode),
                   TurnAt<KernelLevel::Avx2>(uyvy, rotationMode));
}

QuarterTurnBandFn QuarterTurnBandFor(bool uyvy, int rotationMode, KernelLevel level) {
    if (rotationMode != 1 && rotationMode != 3) return nullptr;
    return ByLevel(level, TurnBandAt<KernelLevel::Reference>(uyvy, rotationMode),
                   TurnBandAt<KernelLevel::Sse2>(uyvy, rotationMode),
                   TurnBandAt<KernelLevel::Avx2>(uyvy, rotationMode));
}

int QuarterTurnBandRows(bool uyvy, int width, int height, KernelLevel level) {
    if (Streamed(level, width, height, uyvy ? 2 : 4)) return uyvy ? 2 * kBandUnits : kBandUnits;
    return kStripRows;
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
