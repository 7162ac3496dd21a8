#include "video/proc_amp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "video/simd.h"

namespace velmor {

namespace {

constexpr double kPi = 3.14159;  // the curves are defined with this value, not full pi

int32_t& ParamRef(ProcAmpSettings& s, ProcAmpParam p) {
    switch (p) {
        case ProcAmpParam::kBlackLevel:
            return s.blackLevel;
        case ProcAmpParam::kGain:
            return s.gain;
        case ProcAmpParam::kContrast:
            return s.contrast;
        case ProcAmpParam::kGamma:
            return s.gamma;
        case ProcAmpParam::kColourSat:
            return s.colourSat;
        case ProcAmpParam::kULevel:
            return s.uLevelShift;
        case ProcAmpParam::kVLevel:
            break;
    }
    return s.vLevelShift;
}

// One contrast or gamma stage over an entry e of the 10-bit curve.
inline int Stage(int e, int p, const uint16_t* up, const uint16_t* down) {
    if (p > 50) return ((p - 50) * down[e] + (100 - p) * e) / 50;
    if (p < 50) return (up[e] * (50 - p) + p * e) / 50;
    return e;
}

void BuildChroma(uint8_t* table, int offset, int k) {
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<uint8_t>(std::clamp(((i - 127 + offset) * k >> 8) + 127, 0, 255));
    }
}

}  // namespace

int32_t ParamValue(const ProcAmpSettings& s, ProcAmpParam p) {
    return ParamRef(const_cast<ProcAmpSettings&>(s), p);  // read only
}

void SetIdentity(ProcAmpByteTables& t) {
    for (int i = 0; i < 256; ++i) {
        t.lumaTable[i] = t.uTable[i] = t.vTable[i] = static_cast<uint8_t>(i);
    }
    DerivePairTables(t);
}

void DerivePairTables(ProcAmpByteTables& t) {
    for (int y = 0; y < 256; ++y) {
        const int luma = t.lumaTable[y] << 8;
        for (int c = 0; c < 256; ++c) {
            t.uyPairs[y << 8 | c] = static_cast<uint16_t>(luma | t.uTable[c]);
            t.vyPairs[y << 8 | c] = static_cast<uint16_t>(luma | t.vTable[c]);
        }
    }
    t.pairsReady = 1;
}

ProcAmpSettings LimitToSliderRanges(const ProcAmpSettings& s) {
    ProcAmpSettings r = s;
    for (size_t i = 0; i < kProcAmpSliderRanges.size(); ++i) {
        const ProcAmpRange range = kProcAmpSliderRanges[i];
        int32_t& v = r.*kProcAmpValueFields[i + 1];
        v = std::clamp(v, range.min, range.max);
    }
    return r;
}

namespace {

// The gamma and contrast shape curves, which depend on no setting.
struct ShapeCurves {
    uint16_t lift[1024], lower[1024], up[1024], down[1024];
};

void ComputeShapeCurves(ShapeCurves& t) {
    for (int x = 0; x < 1024; ++x) {
        int lift, lower, up;
        if (x < 64) {
            lift = x;
            lower = 64;
            up = x;
        } else if (x <= 940) {
            lift = static_cast<int>(877 * std::sin((x - 64) * kPi / 1754) + 64);
            lower = static_cast<int>(940 - 877 * std::sin((940 - x) * kPi / 1754));
            up = static_cast<int>((std::sin(((x - 64) / 877.0 - 0.5) * kPi) + 1) * 0.5 * 877 + 64);
        } else {
            lift = 940;
            lower = x;
            up = 940;
        }
        t.lift[x] = static_cast<uint16_t>(lift);
        t.lower[x] = static_cast<uint16_t>(lower);
        t.up[x] = static_cast<uint16_t>(up);
    }
    for (int x = 0; x < 1024; ++x) {
        int v;
        if (x < 64) {
            v = 64;
        } else if (x <= 501) {
            v = t.up[x + 438] - 438;
        } else if (x <= 511) {
            v = 502;
        } else if (x <= 949) {
            v = t.up[x - 438] + 438;
        } else {
            v = x;
        }
        t.down[x] = static_cast<uint16_t>(v);
    }
}

}  // namespace

void BuildShapeCurves(ProcAmpTables& t) {
    // Computed once, copied afterwards.
    static const ShapeCurves shapes = [] {
        ShapeCurves c{};
        ComputeShapeCurves(c);
        return c;
    }();
    std::memcpy(t.gammaLiftCurve, shapes.lift, sizeof t.gammaLiftCurve);
    std::memcpy(t.gammaLowerCurve, shapes.lower, sizeof t.gammaLowerCurve);
    std::memcpy(t.contrastUpCurve, shapes.up, sizeof t.contrastUpCurve);
    std::memcpy(t.contrastDownCurve, shapes.down, sizeof t.contrastDownCurve);
}

void BuildLumaTables(ProcAmpTables& t, const ProcAmpSettings& raw) {
    const ProcAmpSettings s = LimitToSliderRanges(raw);
    const int32_t slope = 1624 - 12 * s.gain;
    int32_t product = slope * 4 * (34 - s.blackLevel);
    const bool contrastFirst = s.fxOrder != 1;
    for (int i = 0; i < 1024; ++i, product += slope) {
        int e = std::clamp(product / 1024 + 64, 0, 1021);
        if (contrastFirst) {
            e = Stage(e, s.contrast, t.contrastUpCurve, t.contrastDownCurve);
            e = Stage(e, s.gamma, t.gammaLiftCurve, t.gammaLowerCurve);
        } else {
            e = Stage(e, s.gamma, t.gammaLiftCurve, t.gammaLowerCurve);
            e = Stage(e, s.contrast, t.contrastUpCurve, t.contrastDownCurve);
        }
        t.lumaCurve10[i] = static_cast<uint16_t>(e);
    }
    for (int i = 0; i < 256; ++i) {
        t.lumaTable[i] = static_cast<uint8_t>((t.lumaCurve10[4 * i] + 2) >> 2);
    }
}

void BuildUTable(ProcAmpTables& t, const ProcAmpSettings& raw) {
    const ProcAmpSettings s = LimitToSliderRanges(raw);
    BuildChroma(t.uTable, (50 - s.uLevelShift) / 2, 456 - 4 * s.colourSat);
}

void BuildVTable(ProcAmpTables& t, const ProcAmpSettings& raw) {
    const ProcAmpSettings s = LimitToSliderRanges(raw);
    BuildChroma(t.vTable, (s.vLevelShift - 50) / 2, 456 - 4 * s.colourSat);
}

void FullRebuild(ProcAmpTables& t, const ProcAmpSettings& s) {
    BuildShapeCurves(t);
    BuildLumaTables(t, s);
    BuildUTable(t, s);
    BuildVTable(t, s);
}

std::string ProcAmpDisplayText(ProcAmpParam p, const ProcAmpSettings& s) {
    char text[32];
    const int32_t v = ParamValue(s, p);
    switch (p) {
        case ProcAmpParam::kGain:
            std::snprintf(text, sizeof text, "%.1f%%",
                          static_cast<double>(static_cast<float>(406 - 3 * v) * 100.0f / 256.0f));
            break;
        case ProcAmpParam::kColourSat:
            std::snprintf(text, sizeof text, "%.1f%%",
                          static_cast<double>(static_cast<float>(456 - 4 * v) * 100.0f / 256.0f));
            break;
        case ProcAmpParam::kULevel:
            std::snprintf(text, sizeof text, "%+d", (50 - v) / 2);
            break;
        case ProcAmpParam::kVLevel:
            std::snprintf(text, sizeof text, "%+d", (v - 50) / 2);
            break;
        default:
            std::snprintf(text, sizeof text, "%+d", 50 - v);
            break;
    }
    return text;
}

namespace {

void ApplyUYVYRowPairs(uint8_t* __restrict p, int groups, const uint16_t* __restrict uy,
                       const uint16_t* __restrict vy) {
    for (int g = 0; g < groups; ++g) {
        uint32_t w;
        std::memcpy(&w, p + g * 4, 4);
        w = uy[w & 0xFFFF] | static_cast<uint32_t>(vy[w >> 16]) << 16;
        std::memcpy(p + g * 4, &w, 4);
    }
}

void ApplyUYVYRow(uint8_t* __restrict p, int groups, const uint8_t* __restrict luma,
                  const uint8_t* __restrict u, const uint8_t* __restrict v) {
    for (int g = 0; g < groups; ++g) {
        uint8_t* q = p + g * 4;
        q[0] = u[q[0]];
        q[1] = luma[q[1]];
        q[2] = v[q[2]];
        q[3] = luma[q[3]];
    }
}

void ApplyAlphaRow(uint8_t* __restrict p, int pixels, const uint8_t* __restrict luma) {
    for (int i = 0; i < pixels; ++i)
        p[i * 4 + 3] = luma[p[i * 4 + 3]];
}

#if VELMOR_X86
// A 256-entry byte table in four 64-byte registers.
struct ByteTable512 {
    __m512i q[4];
    VELMOR_AVX512 explicit ByteTable512(const uint8_t* t) {
        for (int k = 0; k < 4; ++k)
            q[k] = _mm512_loadu_si512(t + 64 * k);
    }
    // Every byte of x looked up: two 128-entry permutes, chosen by each byte's top bit.
    VELMOR_AVX512 __m512i operator()(__m512i x, __mmask64 top) const {
        return _mm512_mask_blend_epi8(top, _mm512_permutex2var_epi8(q[0], x, q[1]),
                                      _mm512_permutex2var_epi8(q[2], x, q[3]));
    }
};

// `groups` macropixels, 16 (64 bytes) at a time; the last partial block through masked loads
// and stores.
VELMOR_AVX512 void ApplyUYVYRowAvx512(uint8_t* p, int groups, const ProcAmpByteTables& t) {
    const ByteTable512 luma(t.lumaTable), u(t.uTable), v(t.vTable);
    const __mmask64 uBytes = 0x1111111111111111ull, vBytes = 0x4444444444444444ull;
    int64_t bytes = int64_t{groups} * 4;
    for (; bytes > 0; bytes -= 64, p += 64) {
        const __mmask64 in = bytes >= 64 ? ~__mmask64{0} : (__mmask64{1} << bytes) - 1;
        const __m512i x = _mm512_maskz_loadu_epi8(in, p);
        const __mmask64 top = _mm512_movepi8_mask(x);
        __m512i r = luma(x, top);
        r = _mm512_mask_blend_epi8(uBytes, r, u(x, top));
        r = _mm512_mask_blend_epi8(vBytes, r, v(x, top));
        _mm512_mask_storeu_epi8(p, in, r);
    }
}

// The alpha byte of `pixels` BGRA pixels, 16 at a time.
VELMOR_AVX512 void ApplyAlphaRowAvx512(uint8_t* p, int pixels, const uint8_t* lumaTable) {
    const ByteTable512 luma(lumaTable);
    const __mmask64 alphaBytes = 0x8888888888888888ull;
    int64_t bytes = int64_t{pixels} * 4;
    for (; bytes > 0; bytes -= 64, p += 64) {
        const __mmask64 in = bytes >= 64 ? alphaBytes : alphaBytes & ((__mmask64{1} << bytes) - 1);
        const __m512i x = _mm512_maskz_loadu_epi8(in, p);
        _mm512_mask_storeu_epi8(p, in, luma(x, _mm512_movepi8_mask(x)));
    }
}
#endif

template <KernelLevel L>
void ApplyRowsUYVY(const FrameView& f, int firstRow, int endRow, const ProcAmpByteTables& t) {
    if (!f.data || f.width <= 0 || f.height <= 0) return;
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, f.height);
    const int64_t stride = f.stride > 0 ? f.stride : int64_t{f.width} * 2;
    for (int y = firstRow; y < endRow; ++y) {
        uint8_t* row = f.data + y * stride;
#if VELMOR_X86
        if constexpr (L == KernelLevel::Avx512) {
            ApplyUYVYRowAvx512(row, f.width / 2, t);
            continue;
        }
#endif
        if (t.pairsReady) {
            ApplyUYVYRowPairs(row, f.width / 2, t.uyPairs, t.vyPairs);
        } else {
            ApplyUYVYRow(row, f.width / 2, t.lumaTable, t.uTable, t.vTable);
        }
    }
}

template <KernelLevel L>
void ApplyRowsAlpha(const FrameView& f, int firstRow, int endRow, const ProcAmpByteTables& t) {
    if (!f.data || f.width <= 0 || f.height <= 0) return;
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, f.height);
    const int64_t stride = f.stride > 0 ? f.stride : int64_t{f.width} * 4;
    for (int y = firstRow; y < endRow; ++y) {
#if VELMOR_X86
        if constexpr (L == KernelLevel::Avx512) {
            ApplyAlphaRowAvx512(f.data + y * stride, f.width, t.lumaTable);
            continue;
        }
#endif
        ApplyAlphaRow(f.data + y * stride, f.width, t.lumaTable);
    }
}

template <KernelLevel L>
void ApplyFrameUYVY(const FrameView& f, const ProcAmpByteTables& t) {
    ApplyRowsUYVY<L>(f, 0, f.height, t);
}

template <KernelLevel L>
void ApplyFrameAlpha(const FrameView& f, const ProcAmpByteTables& t) {
    ApplyRowsAlpha<L>(f, 0, f.height, t);
}

}  // namespace

ProcAmpRowsFn ProcAmpRowsFor(uint32_t fourCC, KernelLevel level) {
    if (fourCC == NDIlib_FourCC_video_type_UYVY) {
        constexpr ProcAmpRowsFn reference = ApplyRowsUYVY<KernelLevel::Reference>;
        return ByLevel(level, reference, reference, reference, ApplyRowsUYVY<KernelLevel::Avx512>);
    }
    if (fourCC == NDIlib_FourCC_video_type_BGRA) {
        constexpr ProcAmpRowsFn reference = ApplyRowsAlpha<KernelLevel::Reference>;
        return ByLevel(level, reference, reference, reference, ApplyRowsAlpha<KernelLevel::Avx512>);
    }
    return nullptr;
}

ProcAmpFrameFn ProcAmpFor(uint32_t fourCC, KernelLevel level) {
    if (fourCC == NDIlib_FourCC_video_type_UYVY) {
        constexpr ProcAmpFrameFn reference = ApplyFrameUYVY<KernelLevel::Reference>;
        return ByLevel(level, reference, reference, reference, ApplyFrameUYVY<KernelLevel::Avx512>);
    }
    if (fourCC == NDIlib_FourCC_video_type_BGRA) {
        constexpr ProcAmpFrameFn reference = ApplyFrameAlpha<KernelLevel::Reference>;
        return ByLevel(level, reference, reference, reference,
                       ApplyFrameAlpha<KernelLevel::Avx512>);
    }
    return nullptr;
}

void ApplyProcAmp(const FrameView& f, const ProcAmpByteTables& t) {
    if (const ProcAmpFrameFn apply = ProcAmpFor(f.fourCC)) apply(f, t);
}

ProcAmp::ProcAmp()
    : work_(std::make_unique<ProcAmpTables>()),
      published_(std::make_unique<TripleBuffer<ProcAmpByteTables>>()) {
    FullRebuild(*work_, settings);
    for (int i = 0; i < 3; ++i)
        SetIdentity(published_->Slot(i));
}

void ProcAmp::UpdateActive() {
    if (bypassHeld) return;
    const ProcAmpSettings& s = settings;
    const bool any = s.blackLevel != 50 || s.gain != 50 || s.contrast != 50 || s.gamma != 50 ||
                     s.colourSat != 50 || s.uLevelShift != 50 || s.vLevelShift != 50;
    active.store(any ? 1 : 0, std::memory_order_relaxed);
}

void ProcAmp::Publish() {
    ProcAmpByteTables& back = published_->Back();
    std::memcpy(back.lumaTable, work_->lumaTable, sizeof back.lumaTable);
    std::memcpy(back.uTable, work_->uTable, sizeof back.uTable);
    std::memcpy(back.vTable, work_->vTable, sizeof back.vTable);
    DerivePairTables(back);
    published_->Publish();
}

void ProcAmp::SetParam(ProcAmpParam p, int32_t value) {
    refreshedFrom_.reset();
    ParamRef(settings, p) = value;
    const bool linked = settings.uvLinking == 1 || settings.uvLinking == 2;
    switch (p) {
        case ProcAmpParam::kBlackLevel:
        case ProcAmpParam::kGain:
        case ProcAmpParam::kContrast:
        case ProcAmpParam::kGamma:
            BuildLumaTables(*work_, settings);
            break;
        case ProcAmpParam::kColourSat:
            BuildUTable(*work_, settings);
            BuildVTable(*work_, settings);
            break;
        case ProcAmpParam::kULevel:
        case ProcAmpParam::kVLevel: {
            if (linked) {
                const int32_t other = settings.uvLinking == 1 ? value : 100 - value;
                if (p == ProcAmpParam::kULevel) {
                    settings.vLevelShift = other;
                } else {
                    settings.uLevelShift = other;
                }
            }
            if (p == ProcAmpParam::kULevel || linked) BuildUTable(*work_, settings);
            if (p == ProcAmpParam::kVLevel || linked) BuildVTable(*work_, settings);
            break;
        }
    }
    UpdateActive();
    Publish();
}

void ProcAmp::SetFxOrder(int32_t order) {
    refreshedFrom_.reset();
    settings.fxOrder = order;
    BuildLumaTables(*work_, settings);
    Publish();
}

void ProcAmp::SetUvLinking(int32_t mode) {
    settings.uvLinking = mode;
    if (mode == 1 || mode == 2) SetParam(ProcAmpParam::kULevel, settings.uLevelShift);
}

void ProcAmp::Refresh() {
    // Settings replaced by the values the tables were built from (a reload, a recall of equal
    // values) leave the tables as they are: a rebuild and its pair tables cost far more than this.
    if (refreshedFrom_ && *refreshedFrom_ == settings) {
        UpdateActive();
        return;
    }
    FullRebuild(*work_, settings);
    UpdateActive();
    Publish();
    refreshedFrom_ = settings;
}

void ProcAmp::PressBypass() {
    if (bypassHeld) return;
    savedActive = active.load(std::memory_order_relaxed);
    bypassHeld = 1;
    active.store(0, std::memory_order_relaxed);
}

void ProcAmp::ReleaseBypass() {
    if (!bypassHeld) return;
    active.store(savedActive, std::memory_order_relaxed);
    bypassHeld = 0;
}

}  // namespace velmor
