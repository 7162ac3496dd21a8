// One running copy: start-up (defaults, NDI, local monitor, glyphs, finder, instance number,
// configuration load and the seek of the stored source), the window timers, the registered
// messages, the picker's polling and the orderly exit. Lives on the window thread and runs on
// Qt's event loop; the main window and the headless runner drive the same controller and differ
// only in their IWindowSide and in how they show the MainWindowModel.
#pragma once

#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "app/main_window_model.h"
#include "app/model_bridge.h"
#include "app/window_side.h"
#include "audio/monitor_queue.h"
#include "discovery/source_picker.h"
#include "engine/engine.h"
#include "ndi/ndi_library.h"
#include "platform/grab_worker.h"
#include "platform/instance_numbering.h"
#include "platform/message_bus.h"
#include "platform/monitor_audio_tap.h"
#include "platform/monitor_outputs.h"
#include "platform/qt_text_rasteriser.h"
#include "platform/window_calls.h"
#include "relay/relay_record.h"
#include "video/preview_render.h"

namespace velmor {

struct RelayOptions {
    std::string seekSource;      // connect to this source when it is found (not the stored one)
    std::string configPath;      // configuration file (default: last.vlm / lastN.vlm here)
    std::string extraIps;        // the command-line address for the finder
    bool saveOnExit = false;     // turn "Save settings on exit" on
    bool loadOnStartup = false;  // turn "Load settings on startup" on (applies a stored file)
    bool showLocal = false;      // list sources of this machine ("Exclude local" off)
    bool ppmOverlay = false;     // the "PPM overlay" button pressed once the settings are in
    std::string busAddress;      // a private D-Bus (tests); empty: the session bus
    NdiChoice ndiChoice = NdiChoice::FromEnvironment;
};

class RelayController : private IWindowActions, private IFinderControl {
public:
    RelayController(RelayOptions options, IWindowSide& side);
    ~RelayController() override;
    RelayController(const RelayController&) = delete;
    RelayController& operator=(const RelayController&) = delete;

    // Runs the start-up. False when nothing can run (no NDI library); the reason was shown.
    bool Start();

    // The exit sequence once no engine thread is alive (the confirmation is the command set's):
    // outputs, receiver and library closed, settings saved when asked, the monitor drained. Then
    // `done` runs.
    void FinishExit(const std::function<void()>& done);
    // Without windows: disconnects, waits (polling, the event loop keeps running) until both
    // engine threads have ended, then FinishExit.
    void ExitWhenDisconnected(std::function<void()> done);

    // The preview's renderer; the bridge feeds it only while a preview is shown.
    PreviewRenderer& mainPreview() { return mainPreview_; }
    void ShowPreviewOn(bool shown) {
        bridge_.SetRenderer(PreviewTarget::Main, shown ? &mainPreview_ : nullptr);
    }
    // The proc amp window's monitor. It outlives every opening of the window, so the video thread
    // may still be rendering into it when the window has just closed.
    PreviewRenderer& procAmpPreview() { return procAmpPreview_; }

    // The parts the command set works on. Window thread.
    RelayRecord& record() { return record_; }
    MainWindowModel& model() { return model_; }
    IWindowSide& side() { return side_; }
    Engine* engine() { return engine_.get(); }
    SourcePicker* picker() { return picker_.get(); }
    ModelBridge& bridge() { return bridge_; }
    WindowCalls& calls() { return calls_; }
    MessageBus& bus() { return bus_; }
    const NdiLoadResult& ndi() const { return ndi_; }
    const RelayOptions& options() const { return options_; }
    std::string ConfigPath() const;

    // Operations shared by the command set and the messages.
    // The "Disconnect" button: the engine stops, the picker shows no source and the meter
    // buttons show the meter overlay off.
    void Disconnect();
    // The no-frame watchdog while AirSend is the output, every 3.5 s: a period without any
    // video frame disconnects as the button does.
    void WatchdogTick();
    void RestartFinderWithGroups();  // show-local = not "Exclude local", extra IP, receive groups
    void RefreshMeterFlags();
    void RunFreezeBlinkTick();  // the freeze lamp alternates red and green
    void RunGrabBlinkTick();    // the signal lamp flashes green after a saved grab
    void SetTitleForInstance();
    void OnBusMessage(const BusMessage& message);
    // "Load settings on startup" or "Save settings on exit" was changed from the menu: kept in
    // the file at exit even when the settings themselves are not saved.
    void NoteMenuChoiceChanged() { menuChoicesChanged_ = true; }

    // Called when the copy should end now (after the ninth-copy question or a failed start-up).
    std::function<void(int exitCode)> onQuit;

private:
    // IWindowActions (window thread)
    void StartFreezeBlink() override;
    void StopFreezeBlink() override;
    void StartWatchdog() override;
    void StopWatchdog() override;
    void StartGrabBlink() override;
    // IFinderControl (the start-up load and the apply step restart the finder through this)
    void RestartFinder(bool showLocalSources, const std::string& extraIps,
                       const char* groups) override;

    void OnInstanceDecided(const InstanceDecision& decision);
    void OnMonitorEvent(MonitorEvent event);
    void LoadStartupConfiguration();
    void OnSourceFound(int index);
    void SchedulePickerTimer();
    void MeterTick();

    RelayOptions options_;
    IWindowSide& side_;
    RelayRecord record_;
    MainWindowModel model_;
    WindowCalls calls_;
    ModelBridge bridge_{record_, model_, calls_, *this};
    WindowThreadNotifier notifier_{side_, calls_};
    PreviewRenderer mainPreview_;
    PreviewRenderer procAmpPreview_;
    NdiLoadResult ndi_;
    MonitorQueue monitorQueue_;
    MonitorDevice monitorDevice_;
    std::unique_ptr<MonitorAudioTap> tap_;
    std::unique_ptr<SourcePicker> picker_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<GrabWorker> grabWorker_;
    MessageBus bus_;
    std::unique_ptr<InstanceProtocol> instances_;
    QTimer pickerTimer_;
    QTimer watchdogTimer_;   // no video frame for a whole period while AirSend is the output
    QTimer freezeTimer_;     // the freeze lamp's blink
    QTimer grabBlinkTimer_;  // the signal lamp's blink after a saved grab
    QTimer exitTimer_;
    QTimer meterTimer_;
    QtTextRasteriser rasteriser_;
    bool ndiStarted_ = false;
    bool exited_ = false;
    bool menuChoicesChanged_ = false;
};

}  // namespace velmor
