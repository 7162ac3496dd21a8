// Fakes of the window-side interfaces that record every call in order, so tests can assert the
// exact sequence and values.
#pragma once

#include <string>
#include <vector>

#include "relay/notifier.h"
#include "relay/settings_view.h"

namespace velmor::testing {

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageButtons buttons;
    bool operator==(const ShownMessage&) const = default;
};

class RecordingNotifier : public INotifier {
public:
    MessageAnswer answer = MessageAnswer::Ok;
    std::vector<ShownMessage> shown;
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons buttons) override {
        shown.push_back({text, caption, buttons});
        return answer;
    }
};

// Records view and finder calls into one log, one line per call.
class RecordingView : public ISettingsView, public IFinderControl {
public:
    std::vector<std::string> calls;

    void ShowRotation(int mode) override { calls.push_back("rotation " + std::to_string(mode)); }
    void ShowDeinterlace(int mode) override {
        calls.push_back("deinterlace " + std::to_string(mode));
    }
    void ShowOutputChoice(bool airSend) override {
        calls.push_back(std::string("output ") + (airSend ? "AirSend" : "NDI"));
    }
    void ShowAudioDelay(bool on) override {
        calls.push_back(std::string("audio delay ") + (on ? "on" : "off"));
    }
    void ShowEbuMode(bool ebu) override { calls.push_back(ebu ? "EBU o/p" : "SMPTE o/p"); }
    void ShowExtraIp(const std::string& text) override { calls.push_back("extra ip " + text); }
    void ShowKeyFillSplit(bool on) override {
        calls.push_back(std::string("keyfill ") + (on ? "on" : "off"));
    }
    void ShowMonitorLevel(int level) override {
        calls.push_back("monitor " + std::to_string(level));
    }
    void ShowDelayFrames(int frames) override {
        calls.push_back("delay " + std::to_string(frames));
    }
    void ShowExcludeLocal(bool checked) override {
        calls.push_back(std::string("exclude ") + (checked ? "on" : "off"));
    }
    void ShowProcAmpButton(bool applied) override {
        calls.push_back(std::string("procamp button ") + (applied ? "applied" : "off"));
    }
    void ShowPpmOverlay(bool on) override {
        calls.push_back(std::string("ppm overlay ") + (on ? "on" : "off"));
    }
    void ShowLoadOnStartup(bool checked) override {
        calls.push_back(std::string("load-on-startup ") + (checked ? "on" : "off"));
    }
    void ShowSaveOnExit(bool checked) override {
        calls.push_back(std::string("save-on-exit ") + (checked ? "on" : "off"));
    }
    void ShowSourceCaption(const std::string& text) override { calls.push_back("caption " + text); }
    void RestartFinder(bool showLocal, const std::string& extraIps, const char* groups) override {
        calls.push_back(std::string("finder local=") + (showLocal ? "1" : "0") +
                        " ips=" + extraIps + " groups=" + (groups ? groups : "(none)"));
    }
};

}  // namespace velmor::testing
