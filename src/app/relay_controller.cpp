#include "app/relay_controller.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "persist/config_file.h"
#include "persist/startup_load.h"
#include "platform/drawn_pictures.h"
#include "relay/address_list.h"
#include "relay/capture_apply.h"
#include "relay/remote_commands.h"
#include "relay/text_box.h"
#include "relay/text_fields.h"
#include "video/timecode_burn_in.h"

namespace velmor {

RelayController::RelayController(RelayOptions options) : options_(std::move(options)) {
    pickerTimer_.setSingleShot(false);
    QObject::connect(&pickerTimer_, &QTimer::timeout, [this] {
        if (!picker_) return;
        picker_->PollFinder();
        SchedulePickerTimer();
    });
    QObject::connect(&meterTimer_, &QTimer::timeout, [this] { MeterTick(); });
    QObject::connect(&watchdogTimer_, &QTimer::timeout, [this] {
        if (engine_) engine_->WatchdogTick();
    });
    // The engine asks for the watchdog from its video thread; the timer lives on this thread.
    window_.onWatchdog = [this](bool on) {
        QMetaObject::invokeMethod(
            &watchdogTimer_,
            [this, on] { on ? watchdogTimer_.start(3500) : watchdogTimer_.stop(); },
            Qt::QueuedConnection);
    };
}

RelayController::~RelayController() {
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

    // The NDI library: every path tried is logged, since "runtime not found" is the usual problem.
    ndi_ = LoadNdiLibrary();
    for (const std::string& line : ndi_.log)
        window_.Log(line);
    if (!ndi_.ok) {
        window_.Log("no NDI library could be loaded: " + ndi_.error);
        return false;
    }
    if (!ndi_.api.initialize()) {
        window_.Show(
            ndi_.api.is_supported_CPU() ? "Cannot run NDI®." : "Cannot run NDI®. Unsupported CPU",
            "NDI Receiver", MessageButtons::Ok);
        return false;
    }
    ndiStarted_ = true;
    window_.Log("NDI library: " + ndi_.versionText + " (" + ndi_.path + ")");

    // Local monitoring; without a sound server the relay carries on and the meters still work.
    if (!monitorDevice_.Open(monitorQueue_)) {
        window_.Show(kMonitorOpenFailedText, "NDI Receiver", MessageButtons::Ok);
    }
    // The PPM meter measures every tapped block on the audio thread.
    r.ppmMeter = std::make_unique<PpmMeter>(&rasteriser_);
    tap_ = std::make_unique<MonitorAudioTap>(
        monitorQueue_, [this](float* left, float* right, int samples, float gain) {
            RelayRecord& rec = record_;
            rec.meterLink.ebuMode = rec.ebuMode.load();
            rec.ppmMeter->MeterBlock(rec.meterLink, left, right, samples, gain > 0.0f ? gain : 1.0);
            return rec.meterLink.meterScale.load();
        });
    meterTimer_.start(18);

    // Timecode glyphs, drawn by Velmor itself.
    if (DrawTimecodeGlyphs(r.digitImages, 11)) PrepareDigitImages(r.digitImages);

    picker_ = std::make_unique<SourcePicker>(r, ndi_.api);
    picker_->onSoughtSourceFound = [this](int index) { OnSourceFound(index); };
    engine_ = std::make_unique<Engine>(r, ndi_.api, window_, window_, tap_.get(), picker_.get());
    // Grabs are encoded and written off the video thread; the lamp is window state.
    grabWorker_ = std::make_unique<GrabWorker>([this](bool ok, const std::string& path) {
        window_.Log(ok ? "frame grab saved: " + path : "frame grab failed: " + path);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, ok] {
                window_.ShowSignalLamp(ok ? Lamp::Green : Lamp::Red);
                if (ok) window_.StartGrabBlink();
            },
            Qt::QueuedConnection);
    });
    engine_->SetGrabSink(grabWorker_.get());
    // While a source is sought, the names on offer, so an operator sees why nothing connects.
    picker_->onListedNamesChanged = [this](const std::vector<std::string>& names) {
        std::string line = "sources listed:";
        for (const std::string& name : names)
            line += " \"" + name + "\"";
        window_.Log(names.empty() ? "sources listed: none" : line);
        const std::string other = SameNameInOtherCase(record_.picker.seekName, names);
        if (!other.empty())
            window_.Log("\"" + other + "\" differs from the sought \"" + record_.picker.seekName +
                        "\" only in letter case; names must match exactly");
    };

    if (options_.showLocal) r.excludeLocal = 0;
    // The command-line addresses go to the finder; an entry that is no address is named.
    if (!options_.extraIps.empty()) {
        window_.SetSourceCaption("Command Line argument = >" + options_.extraIps + "<");
        const AddressListCheck check = CheckAddressList(options_.extraIps);
        if (!check.ok())
            window_.Show(AddressListMessage(check, "Command line"), "Command Line",
                         MessageButtons::Ok);
        CopyToField(r.extraIpText, check.Joined());
    }
    picker_->RestartFinder(r.excludeLocal == 0, FieldText(r.extraIpText), nullptr);
    SchedulePickerTimer();

    // The copy's number, then its configuration.
    if (!bus_.Connect(QString::fromStdString(options_.busAddress)))
        window_.Log(kRemoteControlUnavailableText);
    bus_.AddListener([this](const BusMessage& m) { OnBusMessage(m); });
    instances_ = std::make_unique<InstanceProtocol>(&bus_, r.processId);
    instances_->Start([this](const InstanceDecision& d) { OnInstanceDecided(d); });
    return true;
}

void RelayController::OnInstanceDecided(const InstanceDecision& decision) {
    RelayRecord& r = record_;
    if (decision.allTaken) {
        window_.Show("OK to exit?", "Quit NDI Velmor", MessageButtons::OkCancel);
        Exit([] { QCoreApplication::exit(1); });
        return;
    }
    r.instanceIndex = decision.instanceIndex;
    r.instanceProbe = 0;
    window_.Log(r.commsReturn ? "Korvo Velmor acting as Comms Return"
                              : "Korvo Velmor NDI® Receiver/Transmitter & Processor - No " +
                                    std::to_string(r.instanceIndex + 1));
    SetConfigFileName(r, r.instanceIndex);
    RunStartupConfigLoad(r, window_, window_, *picker_, ConfigPath());
    if (options_.saveOnExit) r.settingsRecord.saveOnExitSetting = 1;
    if (options_.showLocal && r.excludeLocal) {
        r.excludeLocal = 0;
        window_.ShowExcludeLocal(false);
        picker_->RestartFinder(true, FieldText(r.extraIpText), r.groupSetup.receiveGroups);
    }
    if (!options_.seekSource.empty()) {
        r.seekingText = "Seeking: " + options_.seekSource;
        window_.SetSourceCaption(r.seekingText);
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

void RelayController::RefreshMeterFlags() {
    RelayRecord& r = record_;
    PpmMeter& meter = *r.ppmMeter;
    meter.vmixMode = r.meterSettings.meterMode;
    if (r.ppmOverlayOn) {
        r.ppmEnabled = 1;
        meter.SetOverlayEnabled(true);
        window_.SetButton(WindowButton::PpmOverlay, 1, "");
    } else {
        if (!r.meterSettings.meterSeparateOutput) {
            r.ppmEnabled = 0;
            meter.SetOverlayEnabled(false);
        }
        window_.SetButton(WindowButton::PpmOverlay, 0, "");
    }
    SetMeterChangeFlags(r, kMeterChangePicture);
}

void RelayController::MeterTick() {
    RelayRecord& r = record_;
    PpmMeter& meter = *r.ppmMeter;
    // A new frame size: the meter rebuilds its pictures before they are drawn again.
    if (r.meterGeometryDirty) {
        meter.SetFrameSize(r.meterFrameSize[0], r.meterFrameSize[1]);
        r.meterGeometryDirty = 0;
    }
    meter.MeterTick(1);
    meter.MeterTick(2);
}

void RelayController::OnSourceFound(int index) {
    RelayRecord& r = record_;
    picker_->AcceptSoughtSource(index);
    if (r.seekPending) {
        r.seekPending = 0;
        // Connecting runs the probe on this thread; leave the picker's refill first.
        QMetaObject::invokeMethod(
            &pickerTimer_, [this, index] { engine_->ConnectToSource(index); },
            Qt::QueuedConnection);
    }
}

void RelayController::OnBusMessage(const BusMessage& m) {
    if (m.message != RegisteredMessage::GrabFreeze && m.message != RegisteredMessage::TextBox)
        return;
    // The decoding lives below the application (relay/remote_commands.h); these are its actions.
    struct Actions : IRemoteActions {
        RelayController& c;
        explicit Actions(RelayController& controller) : c(controller) {}
        void RequestGrab() override { c.engine_->RequestGrab(); }
        void ToggleFreeze() override { c.engine_->Freeze(); }
        void ShowTextBox(const std::string& text) override {
            RelayRecord& r = c.record_;
            // Before any video the overlay only switches on (with whatever picture it had).
            if (r.outputWidth != 0)
                PublishTextBox(r.overlaySetup, text, r.outputWidth, r.outputHeight, c.rasteriser_);
            r.overlaySetup.overlayOn = 1;
            c.window_.SetButton(WindowButton::Overlay, 1, "");
            c.window_.Log("remote text box: " + text);
        }
        void HideTextBox() override {
            c.record_.overlaySetup.overlayOn = 0;
            c.window_.SetButton(WindowButton::Overlay, 3, "");
        }
    } actions(*this);
    HandleRemoteMessage(record_,
                        m.message == RegisteredMessage::GrabFreeze ? RemoteMessage::GrabFreeze
                                                                   : RemoteMessage::TextBox,
                        m.wParam, m.lParam, actions);
}

void RelayController::Exit(std::function<void()> done) {
    if (engine_) engine_->Disconnect();
    pickerTimer_.stop();
    watchdogTimer_.stop();
    meterTimer_.stop();
    // Wait for both engine threads without blocking the event loop their window calls need.
    QObject::disconnect(&exitTimer_, nullptr, nullptr, nullptr);
    QObject::connect(&exitTimer_, &QTimer::timeout, [this, done] {
        if (engine_ && engine_->IsConnected()) return;
        exitTimer_.stop();
        FinishExit(done);
    });
    exitTimer_.start(10);
}

void RelayController::FinishExit(std::function<void()> done) {
    RelayRecord& r = record_;
    if (engine_) {
        engine_->ReapThreads();
        engine_->CloseOutputs();
    }
    if (engine_) engine_->SetGrabSink(nullptr);
    grabWorker_.reset();  // writes a grab still waiting
    picker_.reset();      // the finder goes before the library
    if (ndiStarted_) ndi_.api.destroy();
    ndiStarted_ = false;
    if (r.settingsRecord.saveOnExitSetting) {
        CaptureSettings(r);
        if (SaveConfig(r, ConfigPath(), window_)) window_.Log("settings saved to " + ConfigPath());
    }
    monitorDevice_.Close();
    if (engine_) engine_->ReleaseAudioRing();
    done();
}

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int RunHeadless(int argc, char** argv) {
    // Pictures and fonts (timecode glyphs, meter labels) need Qt's GUI side, but never a screen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName("velmor");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Velmor receives one NDI source, processes it and publishes it again as new NDI sources.\n"
        "Without windows (--headless) it logs every status change and runs until SIGINT or "
        "SIGTERM.");
    parser.addHelpOption();
    parser.addOption({"headless", "Run without windows."});
    parser.addOption(
        {"source",
         "Connect to the source NAME when it is found. Names are \"MACHINE (source)\", the "
         "machine name in capitals as NDI lists it (e.g. \"STUDIO-PC (Camera 1)\"), and must "
         "match exactly; while seeking, the names on offer are logged.",
         "NAME"});
    parser.addOption(
        {"config", "Configuration file to load and save (default: last.vlm, lastN.vlm).", "FILE"});
    parser.addOption({"save-on-exit", "Save the settings at exit."});
    parser.addOption(
        {"ppm-overlay",
         "Switch the PPM overlay on (the meter outputs come from the configuration)."});
    parser.addOption(
        {"show-local", "List the sources of this machine too (\"Exclude local\" off)."});
    parser.addOption({"bus", "D-Bus address to use instead of the session bus.", "ADDRESS"});
    parser.addPositionalArgument(
        "address", "Extra IPv4 address(es) for discovery, comma-separated (e.g. 192.0.2.7).",
        "[address]");
    parser.process(app);

    RelayOptions options;
    options.seekSource = parser.value("source").toStdString();
    options.configPath = parser.value("config").toStdString();
    options.saveOnExit = parser.isSet("save-on-exit");
    options.showLocal = parser.isSet("show-local");
    options.ppmOverlay = parser.isSet("ppm-overlay");
    options.busAddress = parser.value("bus").toStdString();
    if (!parser.positionalArguments().isEmpty())
        options.extraIps = parser.positionalArguments().first().toStdString();

    if (::pipe(g_signalPipe) != 0) return 1;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    RelayController controller(options);
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    bool exiting = false;
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (exiting) return;
        exiting = true;
        controller.window().Log("stopping");
        controller.Exit([] { QCoreApplication::exit(0); });
    });
    if (!controller.Start()) return 1;
    return app.exec();
}

}  // namespace velmor
