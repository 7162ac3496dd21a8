// What differs between the main window and a copy that runs without windows: showing messages,
// running the setup windows, opening pages, and the log. The controller and the command set call
// these; the Qt main window implements them with widgets, the headless runner with log lines.
#pragma once

#include <string>

#include "relay/notifier.h"

namespace velmor {

class IWindowSide : public INotifier {
public:
    // One line for the operator's log (standard output without windows).
    virtual void Log(const std::string& line) = 0;
    // A message that needs no answer, shown without waiting for one: the window shows it beside
    // itself and goes on; a side without windows logs it as it logs every message.
    virtual void Tell(const std::string& text, const std::string& caption) {
        Show(text, caption, MessageButtons::Ok);
    }

    // The setup windows, modal; true when closed with OK. A side without windows has none and
    // answers false, so nothing changes.
    virtual bool RunGrabSettings() { return false; }
    virtual void RunAbout() {}
    virtual bool RunGroupSettings() { return false; }
    virtual bool RunAudioMap() { return false; }
    virtual void RunOverlaySetup(int /*outputWidth*/, int /*outputHeight*/) {}
    virtual void RunProcAmp() {}
    virtual void RunMeterConfig() {}
    // The Sources Found window, made on first use and then shown again.
    virtual void ShowSourcesWindow() {}
    // The NDI library closes next: windows with finders or receivers of their own end here.
    virtual void CloseNdiWindows() {}
    // A page or file in the desktop's browser.
    virtual void OpenUrl(const std::string& /*url*/) {}
};

}  // namespace velmor
