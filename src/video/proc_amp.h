// The proc amp: settings to luma and chroma byte tables, the effect flags, and the per-frame
// table application.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "video/frame_view.h"
#include "video/kernel_level.h"
#include "video/proc_amp_settings.h"
#include "video/publisher.h"

namespace velmor {

// What the video thread applies: one look-up per byte. The pair tables map a whole (U, Y0) or
// (V, Y1) byte pair at once (little-endian: chroma in the low byte); they are derived from the
// byte tables by DerivePairTables and used only while pairsReady is set.
struct ProcAmpByteTables {
    uint8_t lumaTable[256];
    uint8_t uTable[256];
    uint8_t vTable[256];
    int pairsReady = 0;
    uint16_t uyPairs[65536];
    uint16_t vyPairs[65536];
};

void DerivePairTables(ProcAmpByteTables& t);

void SetIdentity(ProcAmpByteTables& t);  // identity byte and pair tables

// Everything the builders keep between changes (window thread only).
struct ProcAmpTables : ProcAmpByteTables {
    uint16_t gammaLiftCurve[1024];
    uint16_t gammaLowerCurve[1024];
    uint16_t contrastUpCurve[1024];
    uint16_t contrastDownCurve[1024];
    uint16_t lumaCurve10[1024];
};

// The builders. Parameters outside their slider ranges (possible from files) are limited to
// those ranges first, so every curve index stays within 0..1023.
void BuildShapeCurves(ProcAmpTables& t);
void BuildLumaTables(ProcAmpTables& t, const ProcAmpSettings& s);  // lumaCurve10 and lumaTable
void BuildUTable(ProcAmpTables& t, const ProcAmpSettings& s);
void BuildVTable(ProcAmpTables& t, const ProcAmpSettings& s);
void FullRebuild(ProcAmpTables& t, const ProcAmpSettings& s);
// The settings the builders actually use.
ProcAmpSettings LimitToSliderRanges(const ProcAmpSettings& s);

enum class ProcAmpParam { kBlackLevel, kGain, kContrast, kGamma, kColourSat, kULevel, kVLevel };

// The parameter's value in `s`.
int32_t ParamValue(const ProcAmpSettings& s, ProcAmpParam p);

// Display value of a slider's label, e.g. "+0", "100.0%", "-25".
std::string ProcAmpDisplayText(ProcAmpParam p, const ProcAmpSettings& s);

// Per frame, video thread: UYVY bytes U, Y0, V, Y1 through uTable, lumaTable, vTable, lumaTable;
// BGRA only the alpha byte through lumaTable; other FourCCs untouched. In place.
void ApplyProcAmp(const FrameView& frame, const ProcAmpByteTables& tables);
// The same for frames of one FourCC, chosen once: the UYVY or the BGRA alpha version of `level`,
// null for FourCCs the tables leave alone. The reference applies the pair tables when they are
// ready and the byte tables otherwise; SSE2 and AVX2 take it as it is (neither byte shuffles nor
// gathers beat two look-ups per macropixel in tables that stay in the second-level cache); the
// AVX-512 versions look up 64 bytes at a time with VBMI byte permutes of the byte tables.
using ProcAmpFrameFn = void (*)(const FrameView& frame, const ProcAmpByteTables& tables);
ProcAmpFrameFn ProcAmpFor(uint32_t fourCC, KernelLevel level = BestKernelLevel());
// The band form: rows [firstRow, endRow) of the frame only (rows do not depend on each other).
using ProcAmpRowsFn = void (*)(const FrameView& frame, int firstRow, int endRow,
                               const ProcAmpByteTables& tables);
ProcAmpRowsFn ProcAmpRowsFor(uint32_t fourCC, KernelLevel level = BestKernelLevel());

// The parameter model. All methods except AcquireTables run on the window thread; the flags are
// read by the video thread. Tables are rebuilt aside and published whole, so the video thread
// never applies a half-built table.
class ProcAmp {
public:
    ProcAmp();

    ProcAmpSettings settings;
    std::atomic<int> active{0};
    std::atomic<int> applyToOutput{0};
    std::atomic<int> monitorPreview{0};
    std::atomic<int> alphaMode{0};
    int bypassHeld = 0;
    int savedActive = 0;

    // Changes one parameter with linking, the partial rebuild it needs, the active flag, and
    // publishes the tables.
    void SetParam(ProcAmpParam p, int32_t value);
    void SetFxOrder(int32_t order);
    // 0 Off, 1 Standard, 2 Reversed; Standard and Reversed apply at once from uLevelShift.
    void SetUvLinking(int32_t mode);
    // After the settings were replaced wholesale (preset, file, reset): recompute everything.
    void Refresh();
    void PressBypass();
    void ReleaseBypass();

    const ProcAmpTables& tables() const { return *work_; }
    // Video thread: the newest complete tables (identity before the first publish).
    const ProcAmpByteTables* AcquireTables() { return published_->Acquire(); }

private:
    void UpdateActive();
    void Publish();

    // Large (the pair tables): kept on the heap so a ProcAmp can live anywhere.
    std::unique_ptr<ProcAmpTables> work_;
    std::unique_ptr<TripleBuffer<ProcAmpByteTables>> published_;
    std::optional<ProcAmpSettings> refreshedFrom_;  // what the last Refresh built the tables from
};

}  // namespace velmor
