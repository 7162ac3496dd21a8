// What the controls of the proc amp window ("Korvo Velmor NDI® ProcAmp") do to the record's proc
// amp: slider moves, label clicks, linking and effect order, the momentary bypass, the output and
// monitor switches, Reset, the six preset slots with their button colours and captions, and the
// backup taken at the opening that Cancel returns to. The window is a view: it forwards every click
// here and shows what this model says. Window thread only; the tables it rebuilds reach the video
// thread by the proc amp's own publish.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "relay/proc_amp_state.h"

namespace velmor {

class PreviewRenderer;

class ProcAmpWindowModel {
public:
    static constexpr int kSlots = 6;
    // The window's two sizes in pixels: without and with the monitor.
    static constexpr int kWidth = 678, kHeight = 348, kMonitorHeight = 722;

    // `monitor` is the renderer of the window's own preview (its waveform switch follows "WFM");
    // it may be null.
    ProcAmpWindowModel(ProcAmpState& state, PreviewRenderer* monitor);

    // The window opens: never-used slots read as neutral, every slot's stored flag is recomputed,
    // the tables are rebuilt and the backup is taken; the monitor shows frames when it is on.
    void Open();

    // --- What the window shows ---
    int32_t Value(ProcAmpParam p) const;
    std::string LabelText(ProcAmpParam p) const;  // the value label under a slider
    std::string FirstSliderCaption() const;       // "Alpha Level" in alpha mode, "Black Level"
    std::string FxOrderText() const;              // the chosen "FX Order" item
    int UvLinking() const { return state_.settings.uvLinking; }
    int BypassColour() const { return state_.bypassHeld ? 1 : 2; }
    int ApplyColour() const { return state_.applyToOutput ? 1 : 0; }
    int MonitorColour() const { return state_.monitorOn ? 4 : 0; }
    int WfmColour() const { return state_.wfmOn ? 2 : 0; }
    int WindowHeight() const { return state_.monitorOn ? kMonitorHeight : kHeight; }
    bool MonitorShown() const { return state_.monitorOn != 0; }
    int PresetColour(int n) const;  // 2 current, 5 stored, 3 neutral (as last coloured)
    std::string PresetCaption(int n) const;
    const std::string& PresetName() const { return state_.presetName; }

    // --- The controls ---
    // A slider moved: the parameter, its linked partner, their tables and the active flag.
    void SetParam(ProcAmpParam p, int32_t value);
    // A value label clicked: the parameter (and a linked partner) back to 50.
    void ResetParam(ProcAmpParam p);
    void SetUvLinking(int mode);  // 0 Off, 1 Standard, 2 Reversed
    void SetFxOrder(int order);   // 0 "Levels > Contrast > Gamma", 1 "Levels > Gamma > Contrast"
    void PressBypass();
    void ReleaseBypass();
    void ToggleApply();
    void ToggleMonitor();
    void ToggleWfm();
    // Every parameter to 50 in the order black level, gain, contrast, gamma, colour saturation,
    // U, V; effect order and linking to 0; the current slot's stored flag cleared; refresh.
    void Reset();
    void Store(int n);   // ">" beside slot n
    void Recall(int n);  // "Preset n+1"
    // The "Preset Name" edit changed; losing the focus captions the current preset button.
    void SetPresetName(const std::string& name);
    void NameEditingFinished();
    // A preset file was loaded into the current slot and recalled (persist/preset_file.h).
    void Loaded();

    // The window closes: OK keeps everything; Cancel returns the settings, the name and "Apply
    // to o/p" to what they were when the window opened, also after a Reset, a recall or a load
    // (monitor, waveform, current slot and stored slots stay as they are).
    void Ok();
    void Cancel();

    // Reported after each change, so the window moves that slider and rewrites that label.
    std::function<void(ProcAmpParam)> onParamChanged;
    // Reported after a refresh (opening, Reset, recall, load, Cancel): every control may have
    // changed.
    std::function<void()> onRefresh;

private:
    struct Backup {
        ProcAmpSettings settings;
        std::string presetName;
        int32_t applyToOutput = 0;
    };

    void Refresh();
    void ReportLinkedChange(ProcAmpParam p);
    int StoredColour(int n) const;
    bool ValidSlot(int n) const { return n >= 0 && n < kSlots; }
    int CurrentSlot() const;

    ProcAmpState& state_;
    PreviewRenderer* monitor_;
    Backup backup_;
    std::array<int, kSlots> colours_{};
    std::array<std::string, kSlots> captions_;
};

}  // namespace velmor
