#include "app/main_commands.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "relay/audio_map.h"
#include "relay/capture_apply.h"
#include "relay/text_fields.h"

namespace velmor {

namespace {

constexpr int kStepSplitX = 30;     // stepping buttons: x above this steps forward
constexpr int kPreviewSplitY = 80;  // preview: y up to this switches the preview
constexpr int kLevelFullMaxY = 8;   // speaker: Full up to here, Dim up to kLevelDimMaxY
constexpr int kLevelDimMaxY = 16;

int Step(int mode, int count, int x) {
    const int m = (mode >= 0 && mode < count) ? mode : 0;
    return x > kStepSplitX ? (m + 1) % count : (m + count - 1) % count;
}

}  // namespace

std::string MainCommands::HelpPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path installed =
            exe.parent_path().parent_path() / "share/doc/velmor/README.md";
        if (std::filesystem::exists(installed, ec)) return installed.string();
    }
    return VELMOR_SOURCE_DIR "/README.md";
}

void MainCommands::Exit() {
    Guard guard(inExit_);
    if (!guard.entered()) return;
    IWindowSide& side = c_.side();
    if (Connected()) {
        if (side.Show("You must disconnect the NDI Source first", "Quit NDI Velmor",
                      MessageButtons::OkCancel) == MessageAnswer::Ok)
            Disconnect();
        return;
    }
    if (side.Show("OK to exit?", "Quit NDI Velmor", MessageButtons::OkCancel) != MessageAnswer::Ok)
        return;
    // A stored source may have connected while the question was open.
    if (Connected()) return;
    c_.FinishExit([this] {
        if (c_.onQuit) c_.onQuit(0);
    });
}

void MainCommands::Freeze() {
    if (Engine* e = c_.engine()) e->Freeze();
}

void MainCommands::Disconnect() {
    c_.Disconnect();
}

void MainCommands::Overlay() {
    Guard guard(inDialog_);
    if (!guard.entered()) return;
    RelayRecord& r = c_.record();
    const OutputFormat output = r.outputFormat.Load();
    c_.side().RunOverlaySetup(output.width, output.height);
    r.overlaySetup.dialogOpen = 0;
    c_.bridge().ShowOverlayOn(r.overlaySetup.overlayOn != 0);
}

void MainCommands::PpmOverlay() {
    RelayRecord& r = c_.record();
    const MeterSettings& ms = r.meterSettings;
    r.ppmOverlayOn =
        (ms.meterSeparateOutput || ms.meterOnMainOutput) ? (r.ppmOverlayOn ? 0 : 1) : 0;
    c_.RefreshMeterFlags();
}

void MainCommands::PpmOverlayRightClick() {
    Guard guard(inDialog_);
    if (!guard.entered()) return;
    c_.side().RunMeterConfig();
    // The window changed the record while it was open; the meter takes the result up now.
    if (TakeUpMeterChoices(c_.record())) c_.RefreshMeterFlags();
}

void MainCommands::FrameGrab() {
    if (Engine* e = c_.engine()) e->RequestGrab();
}

void MainCommands::ToggleEbu() {
    RelayRecord& r = c_.record();
    r.ebuMode = r.ebuMode ? 0 : 1;
    c_.bridge().ShowEbuMode(r.ebuMode != 0);
}

void MainCommands::ToggleAudioDelay() {
    if (Engine* e = c_.engine()) e->ToggleAudioDelay();
}

void MainCommands::DelayPlus() {
    if (Engine* e = c_.engine()) e->DelayPlus();
}

void MainCommands::DelayMinus() {
    if (Engine* e = c_.engine()) e->DelayMinus();
}

void MainCommands::AudioMap() {
    RelayRecord& r = c_.record();
    // The window lays out at most 32 channels; the audio path maps no more either.
    const int count = std::min<int>(r.audioChannelCount, kMaxAudioChannels);
    if (r.frameRateMismatch || count <= 0) return;
    Guard guard(inDialog_);
    if (!guard.entered()) return;
    NDIAudioMapper& m = r.audioMapper;
    m.mapperMonoMix = r.monoMix;
    m.mapperChannels = count;
    OpenAudioMapCopy(r, count);
    r.mapDialogOpen = 1;
    if (c_.side().RunAudioMap()) UseAudioMap(count);
    c_.bridge().ShowAudioMapActive(r.mapActive != 0);
    r.mapDialogOpen = 0;
}

void MainCommands::UseAudioMap(int count) {
    RelayRecord& r = c_.record();
    NDIAudioMapper& m = r.audioMapper;
    const bool remapped = AcceptAudioMapCopy(r, count);
    const bool active = m.mapperMonoMix != 0 || m.mapperGainItem != 0 || remapped;
    SettingsRecord& s = r.settingsRecord;
    r.mapActive = active ? count : 0;
    s.mapChannelsSetting = static_cast<int8_t>(active ? count : 0);
    r.monoMix = m.mapperMonoMix;
    s.monoMixSetting = static_cast<int8_t>(m.mapperMonoMix);
    s.gainItemSetting = m.mapperGainItem;
    r.audioGain = m.mapperGain.load();
    s.gainSetting = m.mapperGain.load();
    PublishAudioSettings(r);
}

void MainCommands::ToggleOutput() {
    RelayRecord& r = c_.record();
    if (r.videoThreadRun) return;
    r.airSendOutput = r.airSendOutput ? 0 : 1;
    c_.bridge().ShowOutputChoice(r.airSendOutput != 0);
}

void MainCommands::ProcAmp() {
    Guard guard(inDialog_);
    if (!guard.entered()) return;
    RelayRecord& r = c_.record();
    r.procAmp.alphaMode =
        r.outputFormat.fourCC() == static_cast<uint32_t>(NDIlib_FourCC_video_type_BGRA);
    c_.side().RunProcAmp();
    r.procAmp.monitorPreview = 0;
    c_.bridge().ShowProcAmpButton(r.procAmp.applyToOutput != 0);
}

void MainCommands::RotateClicked(int x) {
    RelayRecord& r = c_.record();
    const int mode = Step(r.rotationMode, kRotationModeCount, x);
    r.rotationMode = mode;
    c_.bridge().ShowRotation(mode);
}

void MainCommands::DeinterlaceClicked(int x) {
    RelayRecord& r = c_.record();
    const int mode = Step(r.deinterlaceMode, kDeinterlaceModeCount, x);
    r.deinterlaceMode = mode;
    c_.bridge().ShowDeinterlace(mode);
}

void MainCommands::DeintCheck(bool checked) {
    RelayRecord& r = c_.record();
    r.deinterlaceMode =
        static_cast<int32_t>(checked ? DeinterlaceMode::Field1 : DeinterlaceMode::Off);
    c_.model().SetFlag(Flag::DeintCheck, checked);
    c_.bridge().ShowDeinterlace(r.deinterlaceMode);
}

void MainCommands::ExcludeLocal(bool checked) {
    RelayRecord& r = c_.record();
    r.excludeLocal = checked ? 1 : 0;
    c_.model().SetFlag(Flag::ExcludeLocal, checked);
    c_.RestartFinderWithGroups();
}

void MainCommands::Groups() {
    Guard guard(inGroups_);
    if (!guard.entered()) return;
    if (Connected()) {
        if (c_.side().Show("You must disconnect the NDI Source first", "NDI Group setup",
                           MessageButtons::OkCancel) == MessageAnswer::Ok)
            Disconnect();
        return;
    }
    Guard dialog(inDialog_);
    if (!dialog.entered()) return;
    if (c_.side().RunGroupSettings()) c_.RestartFinderWithGroups();
}

void MainCommands::Stats() {
    c_.side().ShowSourcesWindow();
}

void MainCommands::MonitorLevelClicked(int y) {
    const int level = y <= kLevelFullMaxY ? 2 : (y <= kLevelDimMaxY ? 1 : 0);
    if (SetMonitorLevel(c_.record(), level)) c_.bridge().ShowMonitorLevel(level);
}

void MainCommands::PreviewClicked(int y) {
    if (y <= kPreviewSplitY) {
        TogglePreview();
    } else {
        ToggleTimecodeBurnIn();
    }
}

void MainCommands::TogglePreview() {
    RelayRecord& r = c_.record();
    r.previewOn = r.previewOn ? 0 : 1;
}

void MainCommands::ToggleTimecodeBurnIn() {
    RelayRecord& r = c_.record();
    // The time shows as text only while it is not burnt into the picture.
    const int old = r.timecodeBurnIn;
    r.timecodeBurnIn = old ? 0 : 1;
    c_.model().SetFlag(Flag::TimeTextShown, old != 0);
}

void MainCommands::ExtraIpChanged(bool blank, const std::array<int, 4>& f) {
    if (blank) return;
    RelayRecord& r = c_.record();
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", f[0], f[1], f[2], f[3]);
    CopyToField(r.extraIpText, text);
    c_.model().SetCaption(Caption::ExtraIp, text);
    r.excludeLocal = c_.model().flag(Flag::ExcludeLocal) ? 1 : 0;
    c_.RestartFinderWithGroups();
}

int ItemForChoice(const std::vector<std::string>& items, int item, const std::string& shown) {
    const int count = static_cast<int>(items.size());
    if (item < 0) return -1;
    if (item == 0 || shown.empty()) return item < count ? item : -1;
    if (item < count && items[static_cast<size_t>(item)] == shown) return item;
    for (int i = 1; i < count; ++i) {
        if (items[static_cast<size_t>(i)] == shown) return i;
    }
    return -1;
}

void MainCommands::SourceSelected(int shownItem, const std::string& shown) {
    SourcePicker* p = c_.picker();
    Engine* e = c_.engine();
    if (!p || !e) return;
    const int item = ItemForChoice(p->items(), shownItem, shown);
    if (item < 0) return;  // gone from the network while the list was open
    RelayRecord& r = c_.record();
    r.pickerText = p->items()[static_cast<size_t>(item)];
    p->ChooseItem(item);
    c_.model().SetCaption(Caption::Source, r.pickerText);
    if (item >= 1) {
        e->ConnectToSource(item - 1);
    } else {
        c_.model().EnableButton(WindowButton::Output, true);
    }
}

void MainCommands::PickerDropDown() {
    if (Engine* e = c_.engine()) e->OnPickerDropDown();
}

void MainCommands::PickerCancel(bool stillOpen) {
    if (stillOpen) c_.model().SetCaption(Caption::Source, "");
}

void MainCommands::MenuCommand(int id) {
    RelayRecord& r = c_.record();
    MainWindowModel& model = c_.model();
    switch (id & ~0xF) {
        case kMenuAbout: {
            Guard guard(inDialog_);
            if (guard.entered()) c_.side().RunAbout();
            break;
        }
        case kMenuAlwaysOnTop:
            model.SetFlag(Flag::MenuAlwaysOnTop, !model.flag(Flag::MenuAlwaysOnTop));
            break;
        case kMenuCommsReturn:
            if (r.videoThreadRun) break;
            r.commsReturn = r.commsReturn ? 0 : 1;
            model.SetCaption(Caption::Title, r.commsReturn
                                                 ? "Korvo Velmor acting as Comms Return"
                                                 : "Korvo Velmor NDI® Receiver/Transmitter No " +
                                                       std::to_string(r.instanceIndex + 1));
            break;
        case kMenuSplitKeyFill:
            if (r.keyFillMenuChecked) {
                r.keyFillSplit = 0;
                r.keyFillMenuChecked = 0;
                model.SetFlag(Flag::MenuKeyFill, false);
                model.SetFlag(Flag::KeyFillLabel, false);
            } else {
                // The key sender itself is made at the next connection.
                r.keyFillSplit = 1;
                r.keyFillMenuChecked = 1;
                model.SetFlag(Flag::MenuKeyFill, true);
                if (r.videoThreadRun && r.keySender) model.SetFlag(Flag::KeyFillLabel, true);
            }
            break;
        case kMenuSourceStats:
            Stats();
            break;
        case kMenuHelp:
            Help();
            break;
        case kMenuSaveOnExit:
            ToggleChoice(r.settingsRecord.saveOnExitSetting, Flag::MenuSaveOnExit);
            break;
        case kMenuLoadOnStartup:
            ToggleChoice(r.settingsRecord.loadOnStartupSetting, Flag::MenuLoadOnStartup);
            break;
        case kMenuGrabSettings: {
            Guard guard(inDialog_);
            if (guard.entered()) c_.side().RunGrabSettings();
            break;
        }
        default:
            break;
    }
}

void MainCommands::ToggleChoice(int8_t& stored, Flag shown) {
    stored = stored ? 0 : 1;
    c_.model().SetFlag(shown, stored != 0);
    c_.NoteMenuChoiceChanged();
}

void MainCommands::Help() {
    c_.side().OpenUrl("file://" + HelpPath());
}

void MainCommands::FilesDropped() {
    ++droppedFiles_;
    c_.bus().Post(RegisteredMessage::DroppedFiles, droppedFiles_, 0);
}

}  // namespace velmor
