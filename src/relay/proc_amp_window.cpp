#include "relay/proc_amp_window.h"

#include "relay/text_fields.h"
#include "video/preview_render.h"

namespace velmor {

namespace {

constexpr ProcAmpParam kResetOrder[] = {
    ProcAmpParam::kBlackLevel, ProcAmpParam::kGain,   ProcAmpParam::kContrast, ProcAmpParam::kGamma,
    ProcAmpParam::kColourSat,  ProcAmpParam::kULevel, ProcAmpParam::kVLevel,
};

bool NeverUsed(const ProcAmpPreset& p) {
    return p.reserved0 == 0 && p.blackLevel == 0 && p.gain == 0 && p.contrast == 0 &&
           p.gamma == 0 && p.colourSat == 0 && p.uLevelShift == 0 && p.vLevelShift == 0;
}

std::string DefaultCaption(int n) {
    return "Preset " + std::to_string(n + 1);
}

}  // namespace

ProcAmpWindowModel::ProcAmpWindowModel(ProcAmpState& state, PreviewRenderer* monitor)
    : state_(state), monitor_(monitor) {}

int ProcAmpWindowModel::CurrentSlot() const {
    return ValidSlot(state_.currentPreset) ? state_.currentPreset : 0;
}

void ProcAmpWindowModel::Open() {
    if (!ValidSlot(state_.currentPreset)) state_.currentPreset = 0;
    for (int n = 0; n < kSlots; ++n) {
        ProcAmpPreset& p = state_.presets[n];
        if (NeverUsed(p)) {
            p.blackLevel = p.gain = p.contrast = p.gamma = p.colourSat = p.uLevelShift =
                p.vLevelShift = 50;
            p.storedFlag = 0;
        } else {
            p.storedFlag = PresetStoredFlag(p);
        }
        colours_[n] = n == state_.currentPreset ? 2 : StoredColour(n);
        captions_[n] = p.storedFlag ? Utf16ToUtf8(FieldText(p.name)) : DefaultCaption(n);
        if (captions_[n].empty()) captions_[n] = DefaultCaption(n);
    }
    // The graticule in percent, as the monitor of this window starts.
    if (monitor_) monitor_->graticuleType = 1;
    // Cancel undoes everything done in the window, a recall included: an operator who tries a
    // preset on the live output and cancels gets the picture back as it was.
    backup_.settings = state_.settings;
    backup_.presetName = state_.presetName;
    backup_.applyToOutput = state_.applyToOutput;
    Refresh();
}

int32_t ProcAmpWindowModel::Value(ProcAmpParam p) const {
    return ParamValue(state_.settings, p);
}

std::string ProcAmpWindowModel::LabelText(ProcAmpParam p) const {
    return ProcAmpDisplayText(p, state_.settings);
}

std::string ProcAmpWindowModel::FirstSliderCaption() const {
    return state_.alphaMode ? "Alpha Level" : "Black Level";
}

std::string ProcAmpWindowModel::FxOrderText() const {
    return state_.settings.fxOrder == 1 ? "Levels > Gamma > Contrast" : "Levels > Contrast > Gamma";
}

int ProcAmpWindowModel::StoredColour(int n) const {
    return state_.presets[n].storedFlag ? 5 : 3;
}

int ProcAmpWindowModel::PresetColour(int n) const {
    return ValidSlot(n) ? colours_[n] : 0;
}

std::string ProcAmpWindowModel::PresetCaption(int n) const {
    return ValidSlot(n) ? captions_[n] : std::string();
}

void ProcAmpWindowModel::ReportLinkedChange(ProcAmpParam p) {
    if (!onParamChanged) return;
    onParamChanged(p);
    const int linking = state_.settings.uvLinking;
    if (linking != 1 && linking != 2) return;
    if (p == ProcAmpParam::kULevel) onParamChanged(ProcAmpParam::kVLevel);
    if (p == ProcAmpParam::kVLevel) onParamChanged(ProcAmpParam::kULevel);
}

void ProcAmpWindowModel::SetParam(ProcAmpParam p, int32_t value) {
    state_.SetParam(p, value);
    ReportLinkedChange(p);
}

void ProcAmpWindowModel::ResetParam(ProcAmpParam p) {
    // With linking on either way, the partner of 50 is 50 as well.
    SetParam(p, 50);
}

void ProcAmpWindowModel::SetUvLinking(int mode) {
    if (mode < 0 || mode > 2) return;
    state_.SetUvLinking(mode);
    if (mode != 0 && onParamChanged) onParamChanged(ProcAmpParam::kVLevel);
}

void ProcAmpWindowModel::SetFxOrder(int order) {
    if (order != 0 && order != 1) return;
    state_.SetFxOrder(order);
}

void ProcAmpWindowModel::PressBypass() {
    state_.PressBypass();
}

void ProcAmpWindowModel::ReleaseBypass() {
    state_.ReleaseBypass();
}

void ProcAmpWindowModel::ToggleApply() {
    state_.applyToOutput = state_.applyToOutput ? 0 : 1;
}

void ProcAmpWindowModel::ToggleMonitor() {
    state_.monitorOn = state_.monitorOn ? 0 : 1;
    state_.monitorPreview = state_.monitorOn;
}

void ProcAmpWindowModel::ToggleWfm() {
    state_.wfmOn = state_.wfmOn ? 0 : 1;
    if (monitor_) monitor_->waveformOn = state_.wfmOn;
}

void ProcAmpWindowModel::Reset() {
    for (ProcAmpParam p : kResetOrder)
        SetParam(p, 50);
    state_.settings.fxOrder = 0;
    state_.settings.uvLinking = 0;
    state_.presets[CurrentSlot()].storedFlag = 0;  // its values stay
    Refresh();
}

void ProcAmpWindowModel::Store(int n) {
    if (!ValidSlot(n)) return;
    state_.StoreIntoSlot(n);
    colours_[n] = StoredColour(n);
    // A button is named by its caption: without a name it keeps its number.
    captions_[n] = state_.presetName.empty() ? DefaultCaption(n) : state_.presetName;
}

void ProcAmpWindowModel::Recall(int n) {
    if (!ValidSlot(n)) return;
    const int previous = CurrentSlot();
    colours_[previous] = StoredColour(previous);
    state_.currentPreset = n;
    colours_[n] = 2;
    state_.RecallSlot(n);
    Refresh();
}

void ProcAmpWindowModel::SetPresetName(const std::string& name) {
    state_.presetName = name;
}

void ProcAmpWindowModel::NameEditingFinished() {
    const int n = CurrentSlot();
    captions_[n] = state_.presetName.empty() ? DefaultCaption(n) : state_.presetName;
}

void ProcAmpWindowModel::Loaded() {
    NameEditingFinished();  // the current button takes the loaded name
    Refresh();
}

void ProcAmpWindowModel::Refresh() {
    state_.Refresh();
    state_.monitorPreview = state_.monitorOn;
    if (monitor_) monitor_->waveformOn = state_.wfmOn;
    if (onRefresh) onRefresh();
}

void ProcAmpWindowModel::Ok() {
    state_.monitorPreview = 0;
    ReleaseBypass();  // a bypass still held when the window goes would never be released
}

void ProcAmpWindowModel::Cancel() {
    state_.monitorPreview = 0;
    ReleaseBypass();
    state_.applyToOutput = backup_.applyToOutput;
    state_.settings = backup_.settings;
    state_.presetName = backup_.presetName;
    state_.Refresh();  // the active flag and all three tables
    if (onRefresh) onRefresh();
}

}  // namespace velmor
