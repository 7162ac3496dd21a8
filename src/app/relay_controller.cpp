#include "app/relay_controller.h"

#include <unistd.h>

#include <ctime>

#include "app/startup_config.h"
#include "persist/config_file.h"
#include "platform/air_send_writer.h"
#include "platform/drawn_pictures.h"
#include "relay/address_list.h"
#include "relay/capture_apply.h"
#include "relay/remote_commands.h"
#include "relay/text_box.h"
#include "relay/text_fields.h"
#include "video/timecode_burn_in.h"

namespace velmor {

namespace {
constexpr int kBlinkPeriodMs = 250;
constexpr int kWatchdogPeriodMs = 3500;
constexpr int kMeterPeriodMs = 18;
}  // namespace

RelayController::RelayController(RelayOptions options, IWindowSide& side)
    : options_(std::move(options)), side_(side) {
    // The PPM meter measures every tapped block on the audio thread; the window's meter control
    // paints from it from the start.
    record_.ppmMeter = std::make_unique<PpmMeter>(&rasteriser_);
    QObject::connect(&pickerTimer_, &QTimer::timeout, [this] {
        if (!picker_) return;
        picker_->PollFinder();
        SchedulePickerTimer();
    });
    QObject::connect(&meterTimer_, &QTimer::timeout, [this] { MeterTick(); });
    QObject::connect(&watchdogTimer_, &QTimer::timeout, [this] { WatchdogTick(); });
    QObject::connect(&freezeTimer_, &QTimer::timeout, [this] { RunFreezeBlinkTick(); });
    QObject::connect(&grabBlinkTimer_, &QTimer::timeout, [this] { RunGrabBlinkTick(); });
}

RelayController::~RelayController() {
    // A thread still ending may be waiting for the window: let its calls return, then join.
    calls_.Close();
    if (engine_) engine_->StopAndWait();
}

std::string RelayController::ConfigPath() const {
    return options_.configPath.empty() ? FieldText(record_.configFileName) : options_.configPath;
}

void RelayController::SchedulePickerTimer() {
    const int period = picker_ ? picker_->timerPeriodMs() : 0;
    if (period <= 0) {
        pickerTimer_.stop();
    } else if (pickerTimer_.interval() != period || !pickerTimer_.isActive()) {
        pickerTimer_.start(period);
    }
}

bool RelayController::Start() {
    RelayRecord& r = record_;
    r.ApplyStartupDefaults();
    r.processId = static_cast<uint32_t>(::getpid());
    r.versionText = VELMOR_VERSION_TEXT;
    r.buildMonthText = VELMOR_BUILD_MONTH;
    model_.SetCaption(Caption::Title, "NDI Velmor - Test version");

    // The NDI library: every path tried is logged, since "runtime not found" is the usual problem.
    ndi_ = LoadNdiLibrary(options_.ndiChoice);
    for (const std::string& line : ndi_.log)
        side_.Log(line);
    if (!ndi_.ok) {
        side_.Show("no NDI library could be loaded: " + ndi_.error, "NDI Receiver",
                   MessageButtons::Ok);
        return false;
    }
    if (!ndi_.api.initialize()) {
        side_.Show(
            ndi_.api.is_supported_CPU() ? "Cannot run NDI®." : "Cannot run NDI®. Unsupported CPU",
            "NDI Receiver", MessageButtons::Ok);
        return false;
    }
    ndiStarted_ = true;
    side_.Log("NDI library: " + ndi_.versionText + " (" + ndi_.path + ")");

    // Local monitoring, opened without waiting for a sound server: the start-up goes on at once,
    // and how the opening went arrives later on the window thread. Without a sound server the
    // relay carries on, the meters still work, and the server is tried again every few seconds.
    monitorDevice_.Open(monitorQueue_, [this](MonitorEvent event) {
        calls_.Post([this, event] { OnMonitorEvent(event); });
    });
    tap_ = std::make_unique<MonitorAudioTap>(
        monitorQueue_, [this](float* left, float* right, int samples, float gain) {
            RelayRecord& rec = record_;
            rec.ppmMeter->MeterBlock(rec.meterLink, rec.meterSettings, rec.ebuMode.load(), left,
                                     right, samples, gain > 0.0f ? gain : 1.0);
            return rec.meterLink.meterScale.load();
        });
    meterTimer_.start(kMeterPeriodMs);

    // Timecode glyphs, drawn by Velmor itself.
    if (DrawTimecodeGlyphs(r.digitImages, kTimecodeGlyphs)) PrepareDigitImages(r.digitImages);

    picker_ = std::make_unique<SourcePicker>(r, ndi_.api);
    picker_->onSoughtSourceFound = [this](int index) { OnSourceFound(index); };
    picker_->onItemsChanged = [this] {
        model_.SetPicker(picker_->items(), picker_->currentItem());
    };
    engine_ = std::make_unique<Engine>(r, ndi_.api, bridge_, notifier_, tap_.get(), picker_.get());
    engine_->SetWindowPoster([this](std::function<void()> task) { calls_.Post(std::move(task)); });
    engine_->SetAirSend(&Y4mAirSendLibrary());
    // Grabs are encoded and written off the video thread; the lamp is window state.
    grabWorker_ = std::make_unique<GrabWorker>([this](bool ok, const std::string& path) {
        calls_.Post([this, ok, path] {
            side_.Log(ok ? "frame grab saved: " + path : "frame grab failed: " + path);
            model_.SetLamp(LampId::Signal, ok ? Lamp::Green : Lamp::Red);
            if (ok) StartGrabBlink();
            if (onGrabDone) onGrabDone(ok, path);
        });
    });
    engine_->SetGrabSink(grabWorker_.get());
    // While a source is sought, the names on offer, so an operator sees why nothing connects.
    picker_->onListedNamesChanged = [this](const std::vector<std::string>& names) {
        std::string line = "sources listed:";
        for (const std::string& name : names)
            line += " \"" + name + "\"";
        side_.Log(names.empty() ? "sources listed: none" : line);
        const std::string other = SameNameInOtherCase(record_.picker.seekName, names);
        if (!other.empty())
            side_.Log("\"" + other + "\" differs from the sought \"" + record_.picker.seekName +
                      "\" only in letter case; names must match exactly");
    };

    if (options_.showLocal) r.excludeLocal = 0;
    model_.SetFlag(Flag::ExcludeLocal, r.excludeLocal != 0);
    // The command-line addresses go to the Extra IP field and the finder; an entry that is no
    // address is named and left out.
    if (!options_.extraIps.empty()) {
        model_.SetCaption(Caption::Source, "Command Line argument = >" + options_.extraIps + "<");
        const AddressListCheck check = CheckAddressList(options_.extraIps);
        if (!check.ok())
            side_.Show(AddressListMessage(check, "Command line"), "Command Line",
                       MessageButtons::Ok);
        CopyToField(r.extraIpText, check.Joined());
        // The field holds one address; a list shows its first.
        model_.SetCaption(Caption::ExtraIp, check.addresses.empty() ? "" : check.addresses[0]);
    }
    RestartFinder(r.excludeLocal == 0, FieldText(r.extraIpText), nullptr);

    // The copy's number, then its configuration.
    if (!bus_.Connect(QString::fromStdString(options_.busAddress)))
        side_.Log(kRemoteControlUnavailableText);
    bus_.AddListener([this](const BusMessage& m) { OnBusMessage(m); });
    instances_ = std::make_unique<InstanceProtocol>(&bus_, r.processId);
    instances_->Start([this](const InstanceDecision& d) { OnInstanceDecided(d); });
    return true;
}

void RelayController::OnMonitorEvent(MonitorEvent event) {
    switch (event) {
        case MonitorEvent::Unavailable:
            // Told once, without waiting for the operator's answer.
            side_.Tell(kMonitorOpenFailedText, "NDI Receiver");
            break;
        case MonitorEvent::Playing:
            side_.Log("local monitor: playing");
            break;
        case MonitorEvent::Lost:
            side_.Log("local monitor: the sound server went away; trying again every few seconds");
            break;
    }
}

void RelayController::SetTitleForInstance() {
    RelayRecord& r = record_;
    model_.SetCaption(Caption::Title,
                      r.commsReturn ? "Korvo Velmor acting as Comms Return"
                                    : "Korvo Velmor NDI® Receiver/Transmitter & Processor - No " +
                                          std::to_string(r.instanceIndex + 1));
}

void RelayController::OnInstanceDecided(const InstanceDecision& decision) {
    RelayRecord& r = record_;
    r.instanceProbe = 0;
    if (decision.allTaken) {
        // Eight copies run: the exit confirmation. Cancel runs on unnumbered (index 0), with the
        // template title and no configuration.
        if (side_.Show("OK to exit?", "Quit NDI Velmor", MessageButtons::OkCancel) ==
            MessageAnswer::Ok) {
            ExitWhenDisconnected([this] {
                if (onQuit) onQuit(1);
            });
        } else {
            r.instanceIndex = 0;
            side_.Log("running on as an unnumbered copy, without a configuration");
            if (onNumbered) onNumbered();
        }
        return;
    }
    r.instanceIndex = decision.instanceIndex;
    SetTitleForInstance();
    side_.Log(model_.caption(Caption::Title));
    SetConfigFileName(r, r.instanceIndex);
    LoadStartupConfiguration();
    if (onNumbered) onNumbered();
}

void RelayController::LoadStartupConfiguration() {
    RelayRecord& r = record_;
    // --load-on-startup applies the stored settings as if the file asked for it.
    RunStartupConfigLoad(r, notifier_, bridge_, *this, ConfigPath(), options_.loadOnStartup);
    if (options_.loadOnStartup) r.settingsRecord.loadOnStartupSetting = 1;
    if (options_.saveOnExit) r.settingsRecord.saveOnExitSetting = 1;
    model_.SetFlag(Flag::MenuLoadOnStartup, r.settingsRecord.loadOnStartupSetting != 0);
    model_.SetFlag(Flag::MenuSaveOnExit, r.settingsRecord.saveOnExitSetting != 0);
    if (options_.showLocal && r.excludeLocal) {
        r.excludeLocal = 0;
        model_.SetFlag(Flag::ExcludeLocal, false);
        RestartFinderWithGroups();
    }
    if (!options_.seekSource.empty()) {
        r.seekingText = "Seeking: " + options_.seekSource;
        model_.SetCaption(Caption::Source, r.seekingText);
        r.picker.seekName = options_.seekSource;
        r.picker.seekArmed = 1;
        r.picker.seekReported = 0;
        r.seekPending = 1;
    }
    if (options_.ppmOverlay) {
        // As the "PPM overlay" button: only when a meter output is configured.
        const MeterSettings& ms = r.meterSettings;
        r.ppmOverlayOn = (ms.meterSeparateOutput || ms.meterOnMainOutput) ? 1 : 0;
        RefreshMeterFlags();
    }
    // A source already listed is reported at the next refill.
    picker_->RefillSourceList();
    SchedulePickerTimer();
}

void RelayController::RestartFinder(bool showLocalSources, const std::string& extraIps,
                                    const char* groups) {
    picker_->RestartFinder(showLocalSources, extraIps, groups);
    SchedulePickerTimer();
}

void RelayController::Disconnect() {
    if (!engine_) return;
    engine_->Disconnect();
    if (picker_) picker_->ShowNoSourceSelected();
    RefreshMeterFlags();
}

void RelayController::WatchdogTick() {
    // No video frame during a whole period: the connection ends as if "Disconnect" was pressed.
    if (engine_ && engine_->WatchdogExpired()) Disconnect();
}

void RelayController::RestartFinderWithGroups() {
    const RelayRecord& r = record_;
    RestartFinder(r.excludeLocal == 0, FieldText(r.extraIpText), r.groupSetup.receiveGroups);
}

void RelayController::RefreshMeterFlags() {
    RelayRecord& r = record_;
    if (!r.ppmMeter) return;
    PpmMeter& meter = *r.ppmMeter;
    if (r.ppmOverlayOn) {
        meter.SetOverlayEnabled(true);
        model_.SetButton(WindowButton::PpmOverlay, 1);
    } else {
        if (!r.meterSettings.meterSeparateOutput) meter.SetOverlayEnabled(false);
        model_.SetButton(WindowButton::PpmOverlay, 0);
    }
    SetMeterChangeFlags(r, kMeterChangePicture);
}

void RelayController::MeterTick() {
    RelayRecord& r = record_;
    PpmMeter& meter = *r.ppmMeter;
    // The overlay pictures are sized for the frames the outputs were set up for.
    const int width = r.outputFormat.width(), height = r.outputFormat.height();
    const bool repaint1 = meter.MeterTick(MeterTimer::ScreenBars, r.meterSettings, width, height);
    const bool repaint2 = meter.MeterTick(MeterTimer::OverlayBars, r.meterSettings, width, height);
    if (repaint1 || repaint2) model_.MeterChanged();
}

void RelayController::OnSourceFound(int index) {
    RelayRecord& r = record_;
    picker_->AcceptSoughtSource(index);
    if (r.seekPending) {
        r.seekPending = 0;
        // Leave the picker's refill before connecting.
        calls_.Post([this, index] {
            if (engine_) engine_->ConnectToSource(index);
        });
    }
}

void RelayController::OnBusMessage(const BusMessage& m) {
    if (!engine_) return;
    if (m.message != RegisteredMessage::GrabFreeze && m.message != RegisteredMessage::TextBox)
        return;
    // The decoding lives below the application (relay/remote_commands.h); these are its actions.
    struct Actions : IRemoteActions {
        RelayController& c;
        explicit Actions(RelayController& controller) : c(controller) {}
        void RequestGrab() override { c.engine_->RequestGrab(); }
        void ToggleFreeze() override { c.engine_->Freeze(); }
        void ShowTextBox(const std::string& text) override { c.ShowRemoteTextBox(text); }
        void HideTextBox() override { c.HideRemoteTextBox(); }
    } actions(*this);
    HandleRemoteMessage(record_,
                        m.message == RegisteredMessage::GrabFreeze ? RemoteMessage::GrabFreeze
                                                                   : RemoteMessage::TextBox,
                        m.wParam, m.lParam, actions);
}

void RelayController::ShowRemoteTextBox(const std::string& text) {
    RelayRecord& r = record_;
    // Before any video the overlay only switches on (with whatever picture it had).
    const OutputFormat output = r.outputFormat.Load();
    if (output.width != 0)
        PublishTextBox(r.overlaySetup, text, output.width, output.height, rasteriser_);
    r.overlaySetup.overlayOn = 1;
    bridge_.ShowOverlayOn(true);
    side_.Log("remote text box: " + text);
}

std::vector<SettingRefusal> RelayController::ApplySettingsByName(
    std::span<const SettingChange> changes) {
    SettingTargets targets{record_, bridge_, *this};
    return ApplySettingValues(targets, changes);
}

void RelayController::HideRemoteTextBox() {
    record_.overlaySetup.overlayOn = 0;
    bridge_.ShowOverlayOn(false);
}

// --- Window timers ---

void RelayController::StartFreezeBlink() {
    freezeTimer_.start(kBlinkPeriodMs);
}

void RelayController::StopFreezeBlink() {
    freezeTimer_.stop();
}

void RelayController::RunFreezeBlinkTick() {
    RelayRecord& r = record_;
    r.freezeBlinkPhase = r.freezeBlinkPhase ? 0 : 1;
    model_.SetLamp(LampId::Freeze, r.freezeBlinkPhase ? Lamp::Red : Lamp::Green);
}

void RelayController::StartWatchdog() {
    watchdogTimer_.start(kWatchdogPeriodMs);
}

void RelayController::StopWatchdog() {
    watchdogTimer_.stop();
}

void RelayController::StartGrabBlink() {
    record_.grabBlinks = 4;
    grabBlinkTimer_.start(kBlinkPeriodMs);
}

void RelayController::RunGrabBlinkTick() {
    RelayRecord& r = record_;
    const int n = r.grabBlinks;
    if (n <= 0) {
        grabBlinkTimer_.stop();
        if (engine_) engine_->ReportSignal();
        return;
    }
    if (n % 2 == 1) {
        model_.SetLamp(LampId::Signal, Lamp::Green);
    } else if (engine_) {
        engine_->ReportSignal();
    }
    r.grabBlinks = n - 1;
}

// --- Exit ---

void RelayController::NotifyExitStarted() {
    if (exitStarted_) return;
    exitStarted_ = true;
    if (onExitStarted) onExitStarted();
}

void RelayController::ExitWhenDisconnected(std::function<void()> done) {
    NotifyExitStarted();
    if (engine_) engine_->Disconnect();
    pickerTimer_.stop();
    watchdogTimer_.stop();
    // Wait for both engine threads without blocking the event loop their window calls need.
    QObject::disconnect(&exitTimer_, nullptr, nullptr, nullptr);
    QObject::connect(&exitTimer_, &QTimer::timeout, [this, done] {
        if (engine_ && engine_->IsConnected()) return;
        exitTimer_.stop();
        FinishExit(done);
    });
    exitTimer_.start(10);
}

void RelayController::FinishExit(const std::function<void()>& done) {
    if (exited_) return;
    NotifyExitStarted();
    exited_ = true;
    RelayRecord& r = record_;
    pickerTimer_.stop();
    watchdogTimer_.stop();
    freezeTimer_.stop();
    grabBlinkTimer_.stop();
    meterTimer_.stop();
    if (engine_) {
        engine_->ReapThreads();
        // The threads' last reports ("No video", the grey lamp) were posted as they ended: show
        // and log them before the window goes, or the exit would race them.
        calls_.RunPending();
        engine_->CloseOutputs();
        engine_->SetGrabSink(nullptr);
    }
    grabWorker_.reset();  // writes a grab still waiting
    side_.CloseNdiWindows();
    picker_.reset();  // the finder goes before the library
    if (ndiStarted_) ndi_.api.destroy();
    ndiStarted_ = false;
    const std::string path = ConfigPath();
    if (r.settingsRecord.saveOnExitSetting) {
        CaptureSettings(r);
        if (SaveConfig(r, path, notifier_)) side_.Log("settings saved to " + path);
    } else if (menuChoicesChanged_ &&
               StoreMenuChoices(path, r.settingsRecord.loadOnStartupSetting, 0)) {
        // The settings stay as they were saved; the menu choices are remembered.
        side_.Log("menu choices saved to " + path);
    }
    monitorDevice_.Close();
    const uint64_t unplayed = monitorQueue_.DroppedBytes() + monitorQueue_.TrimmedBytes();
    if (unplayed > 0)
        side_.Log("local monitor: " + std::to_string(unplayed / kMonitorBytesPerMs) +
                  " ms of audio not played (the sound device fell behind)");
    if (engine_) engine_->ReleaseAudioRing();
    done();
}

}  // namespace velmor
