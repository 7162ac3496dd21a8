// The window side of a copy without windows: every caption, lamp and message becomes one log line
// on standard output, and frame grabs are written as the window would write them.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "engine/window_bridge.h"
#include "platform/grab_writer.h"
#include "relay/notifier.h"
#include "relay/relay_record.h"
#include "relay/settings_view.h"

namespace velmor {

class LogWindow : public IWindowBridge, public ISettingsView, public INotifier, public IGrabLamps {
public:
    explicit LogWindow(RelayRecord& record) : record_(record) {}

    void Log(const std::string& line);

    // IWindowBridge (engine threads and the main thread; every call is complete when it returns).
    void SetSourceCaption(const std::string& text) override { Show("source", text); }
    void SetVideoCaption(const std::string& text) override { Show("video", text); }
    void SetAudioCaption(const std::string& text) override { Show("audio", text); }
    void SetDelayCounter(const std::string& text) override { Show("audio delay", text); }
    void SetSignalLamp(Lamp lamp) override { Show("signal lamp", LampName(lamp)); }
    void SetFreezeLamp(Lamp lamp) override { Show("freeze lamp", LampName(lamp)); }
    void SetButton(WindowButton button, int colour, const std::string& caption) override;
    void EnableOutputButton(bool) override {}
    void ShowKeyFillLabel(bool shown) override {
        Show("key+fill", shown ? "Split Key+Fill o/p" : "off");
    }
    void ShowEbuMode(bool ebu) override {
        Show("monitor reference", ebu ? "EBU o/p" : "SMPTE o/p");
    }
    void WriteGrab() override;
    void ShowTime(int32_t) override {}
    void ShowPreview(PreviewTarget, const FrameView&, float) override {}
    void StartFreezeBlink() override {}
    void StopFreezeBlink() override {}
    void StartWatchdog() override;
    void StopWatchdog() override;

    // ISettingsView
    void ShowRotation(int, const std::string& caption) override { Show("rotation", caption); }
    void ShowKeyFillSplit(bool on) override { Show("key+fill", on ? "on" : "off"); }
    void ShowMonitorLevel(int level) override;
    void ShowDelayFrames(const std::string& text) override { Show("audio delay", text); }
    void ShowExcludeLocal(bool checked) override { Show("exclude local", checked ? "on" : "off"); }
    void ShowProcAmpButton(int colour) override {
        Show("proc amp", colour == 1 ? "applied" : "off");
    }
    void ShowLoadOnStartup(bool) override {}
    void ShowSaveOnExit(bool checked) override {
        Show("save settings on exit", checked ? "on" : "off");
    }
    void ShowSourceCaption(const std::string& text) override { Show("source", text); }

    // INotifier: shown as a log line; OK is the answer.
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons buttons) override;

    // IGrabLamps
    void ShowSignalLamp(Lamp lamp) override { SetSignalLamp(lamp); }
    void StartGrabBlink() override {}

    // Timer 5 runs on the main thread; the engine asks for it from the video thread.
    std::function<void(bool on)> onWatchdog;

    static const char* LampName(Lamp lamp);

private:
    // Logs "what: text" when it differs from the last line logged for `what`.
    void Show(const std::string& what, const std::string& text);

    RelayRecord& record_;
    std::mutex mutex_;
    std::map<std::string, std::string> last_;
    ImageBuffer outputImage_;
};

}  // namespace velmor
