// The proc amp window's model without the window: preset slots and their colours, label resets
// with linking, Reset's order, the monitor switches and what Cancel returns to.
#include "relay/proc_amp_window.h"

#include <gtest/gtest.h>

#include <vector>

#include "relay/text_fields.h"
#include "video/preview_render.h"

namespace velmor {
namespace {

using P = ProcAmpParam;

class ProcAmpWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        model.onParamChanged = [this](P p) { changed.push_back(p); };
        model.onRefresh = [this] { ++refreshes; };
    }
    std::vector<int> Colours() const {
        std::vector<int> c;
        for (int n = 0; n < ProcAmpWindowModel::kSlots; ++n)
            c.push_back(model.PresetColour(n));
        return c;
    }
    // A slot as a file or an earlier session left it.
    void FillSlot(int n, int16_t gain, const char* name) {
        ProcAmpPreset& p = state.presets[n];
        p.reserved0 = 50;
        p.blackLevel = p.contrast = p.gamma = p.colourSat = p.uLevelShift = p.vLevelShift = 50;
        p.gain = gain;
        CopyToField(p.name, Utf8ToUtf16(name));
    }

    ProcAmpState state;
    PreviewRenderer monitor;
    ProcAmpWindowModel model{state, &monitor};
    std::vector<P> changed;
    int refreshes = 0;
};

TEST_F(ProcAmpWindowTest, OpeningReadsNeverUsedSlotsAsNeutralAndColoursTheButtons) {
    FillSlot(2, -20, "Warm");  // stored flag not yet set: recomputed
    FillSlot(4, 50, "Stale");  // neutral values under a stale flag
    state.presets[4].storedFlag = 1;
    state.currentPreset = 1;
    model.Open();
    EXPECT_EQ(state.presets[0].gain, 50) << "a never-used slot reads as neutral";
    EXPECT_EQ(state.presets[0].vLevelShift, 50);
    EXPECT_EQ(state.presets[0].storedFlag, 0);
    EXPECT_EQ(state.presets[2].storedFlag, 1);
    EXPECT_EQ(state.presets[4].storedFlag, 0);
    EXPECT_EQ(Colours(), (std::vector<int>{3, 2, 5, 3, 3, 3}));
    EXPECT_EQ(model.PresetCaption(2), "Warm");
    EXPECT_EQ(model.PresetCaption(4), "Preset 5") << "only stored slots show their names";
    EXPECT_EQ(model.FirstSliderCaption(), "Black Level");
    state.alphaMode = 1;
    EXPECT_EQ(model.FirstSliderCaption(), "Alpha Level");
}

TEST_F(ProcAmpWindowTest, StoreIntoSlotThreeThenRecallIt) {
    model.Open();
    model.SetParam(P::kGain, -20);
    model.SetPresetName("Studio");
    model.Store(2);
    EXPECT_EQ(Colours(), (std::vector<int>{2, 3, 5, 3, 3, 3})) << "current stays slot 1";
    EXPECT_EQ(model.PresetCaption(2), "Studio");
    EXPECT_EQ(state.currentPreset, 0);

    model.SetParam(P::kGain, 50);
    model.SetPresetName("Other");
    model.Recall(2);
    EXPECT_EQ(Colours(), (std::vector<int>{3, 3, 2, 3, 3, 3}));
    EXPECT_EQ(state.currentPreset, 2);
    EXPECT_EQ(state.settings.gain, -20);
    EXPECT_EQ(state.presetName, "Studio");
    EXPECT_EQ(state.active, 1);
    EXPECT_EQ(state.AcquireTables()->lumaTable[16], 16) << "slope 1864 pivots about 16";
    EXPECT_GT(refreshes, 0);

    // Neutral settings stored beside it: colour 3, the name still becomes the caption; the
    // previously current button shows what it holds.
    model.SetParam(P::kGain, 50);
    model.Store(4);
    EXPECT_EQ(state.presets[4].storedFlag, 0);
    EXPECT_EQ(model.PresetColour(4), 3);
    EXPECT_EQ(model.PresetCaption(4), "Studio");
    model.Recall(4);
    EXPECT_EQ(Colours(), (std::vector<int>{3, 3, 5, 3, 2, 3}));
    // Storing into the current slot colours it by what it holds too.
    model.SetParam(P::kContrast, 80);
    model.Store(4);
    EXPECT_EQ(model.PresetColour(4), 5);
}

TEST_F(ProcAmpWindowTest, LabelClicksResetToFiftyWithTheLinkedShift) {
    model.Open();
    model.SetUvLinking(1);
    model.SetParam(P::kULevel, 20);
    EXPECT_EQ(state.settings.vLevelShift, 20) << "Standard: the same value";
    changed.clear();
    model.ResetParam(P::kVLevel);
    EXPECT_EQ(state.settings.vLevelShift, 50);
    EXPECT_EQ(state.settings.uLevelShift, 50);
    EXPECT_EQ(changed, (std::vector<P>{P::kVLevel, P::kULevel}));
    EXPECT_EQ(model.LabelText(P::kULevel), "+0");

    model.SetUvLinking(2);
    model.SetParam(P::kULevel, 30);
    EXPECT_EQ(state.settings.vLevelShift, 70) << "Reversed: 100 minus it";
    EXPECT_EQ(model.LabelText(P::kVLevel), "+10");
    model.SetParam(P::kGamma, 10);
    model.ResetParam(P::kGamma);
    EXPECT_EQ(state.settings.gamma, 50);
    EXPECT_EQ(state.settings.uLevelShift, 30) << "other parameters stay";
}

TEST_F(ProcAmpWindowTest, ResetRunsInItsOrderAndClearsTheCurrentSlotsFlag) {
    FillSlot(0, -20, "Warm");
    model.Open();
    for (P p : {P::kVLevel, P::kGamma, P::kBlackLevel})
        model.SetParam(p, 10);
    model.SetFxOrder(1);
    changed.clear();
    model.Reset();
    EXPECT_EQ(changed, (std::vector<P>{P::kBlackLevel, P::kGain, P::kContrast, P::kGamma,
                                       P::kColourSat, P::kULevel, P::kVLevel}));
    EXPECT_EQ(state.settings, ProcAmpSettings{});
    EXPECT_EQ(state.active, 0);
    EXPECT_EQ(state.presets[0].storedFlag, 0);
    EXPECT_EQ(state.presets[0].gain, -20) << "the slot's values stay";
    EXPECT_EQ(model.FxOrderText(), "Levels > Contrast > Gamma");
}

TEST_F(ProcAmpWindowTest, CancelReturnsToTheStateAtTheOpeningEvenAfterARecall) {
    FillSlot(3, -30, "Night");
    state.settings.contrast = 70;
    state.settings.uvLinking = 2;
    state.presetName = "Before";
    state.applyToOutput = 0;
    model.Open();
    const ProcAmpSettings opened = state.settings;
    model.ToggleApply();
    model.Recall(3);
    EXPECT_EQ(state.settings.gain, -30);
    model.SetParam(P::kColourSat, 90);
    model.SetPresetName("Typed");
    model.Reset();
    model.ToggleMonitor();
    model.Cancel();
    EXPECT_EQ(state.settings, opened);
    EXPECT_EQ(state.presetName, "Before");
    EXPECT_EQ(state.applyToOutput, 0);
    EXPECT_EQ(state.monitorOn, 1) << "not restored";
    EXPECT_EQ(state.currentPreset, 3);
    EXPECT_EQ(state.monitorPreview, 0);
    EXPECT_EQ(state.active, 1);
    EXPECT_EQ(state.AcquireTables()->uTable[0], 0) << "the chroma tables are neutral again";
    EXPECT_NE(state.AcquireTables()->lumaTable[64], 64) << "the opening's contrast";
}

TEST_F(ProcAmpWindowTest, SwitchesColoursAndTheWindowSize) {
    model.Open();
    EXPECT_EQ(model.ApplyColour(), 0);
    EXPECT_EQ(model.MonitorColour(), 0);
    EXPECT_EQ(model.WindowHeight(), 348);
    model.ToggleApply();
    model.ToggleMonitor();
    model.ToggleWfm();
    EXPECT_EQ(model.ApplyColour(), 1);
    EXPECT_EQ(model.MonitorColour(), 4);
    EXPECT_EQ(model.WfmColour(), 2);
    EXPECT_EQ(model.WindowHeight(), 722);
    EXPECT_EQ(state.monitorPreview, 1);
    EXPECT_EQ(monitor.waveformOn, 1);

    // A slot stored with the monitor on brings it back when recalled.
    model.Store(1);
    model.ToggleMonitor();
    model.ToggleWfm();
    EXPECT_EQ(state.monitorPreview, 0);
    model.Recall(1);
    EXPECT_EQ(model.WindowHeight(), 722);
    EXPECT_EQ(state.monitorPreview, 1);
    EXPECT_EQ(monitor.waveformOn, 1);

    // The bypass holds the picture uncorrected while pressed.
    model.SetParam(P::kGain, 0);
    model.PressBypass();
    EXPECT_EQ(model.BypassColour(), 1);
    EXPECT_EQ(state.active, 0);
    model.SetParam(P::kGain, 10);
    EXPECT_EQ(state.active, 0) << "changes meanwhile do not recompute it";
    model.ReleaseBypass();
    EXPECT_EQ(model.BypassColour(), 2);
    EXPECT_EQ(state.active, 1);
    model.Ok();
    EXPECT_EQ(state.monitorPreview, 0);
}

}  // namespace
}  // namespace velmor
