// One running copy without its windows: start-up (defaults, NDI, local monitor, glyphs, finder,
// instance number, configuration load and the seek of the stored source), the registered messages,
// the picker's timer, the watchdog, and the orderly exit. Lives on the main (window) thread and
// runs on its Qt event loop; the GUI's main window will drive the same steps.
#pragma once

#include <QCoreApplication>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/log_window.h"
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
#include "relay/relay_record.h"

namespace velmor {

struct RelayOptions {
    std::string seekSource;   // connect to this source when it is found (instead of the stored one)
    std::string configPath;   // configuration file (default: last.vlm / lastN.vlm here)
    std::string extraIps;     // finder's extra addresses, as the command-line address
    bool saveOnExit = false;  // save settings at exit even when the file does not ask for it
    bool showLocal = false;   // list sources of this machine ("Exclude local" off)
    bool ppmOverlay = false;  // the "PPM overlay" button pressed once the settings are in
    std::string busAddress;   // a private D-Bus (tests); empty: the session bus
};

class RelayController {
public:
    explicit RelayController(RelayOptions options);
    ~RelayController();

    // Runs the start-up. False when nothing can run (no NDI library); the reason was logged.
    bool Start();
    // Disconnects, waits for both engine threads, runs the exit sequence, then calls `done`.
    void Exit(std::function<void()> done);

    RelayRecord& record() { return record_; }
    LogWindow& window() { return window_; }

private:
    void OnInstanceDecided(const InstanceDecision& decision);
    void OnBusMessage(const BusMessage& message);
    void OnSourceFound(int index);
    void SchedulePickerTimer();
    void RefreshMeterFlags();
    void MeterTick();
    void FinishExit(std::function<void()> done);
    std::string ConfigPath() const;

    RelayOptions options_;
    RelayRecord record_;
    LogWindow window_{record_};
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
    QTimer watchdogTimer_;
    QTimer exitTimer_;
    QTimer meterTimer_;
    QtTextRasteriser rasteriser_;
    bool ndiStarted_ = false;
};

// `velmor --headless`: the relay as a service, logging to standard output until SIGINT or SIGTERM.
int RunHeadless(int argc, char** argv);

}  // namespace velmor
