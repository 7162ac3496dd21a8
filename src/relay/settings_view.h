// What applying stored settings needs from the windows and the finder: the states to show, whose
// look the window side chooses. The GUI and the source picker implement these; the headless runner
// logs; tests record the calls in order.
#pragma once

#include <string>

namespace velmor {

class ISettingsView {
public:
    virtual ~ISettingsView() = default;
    // Rotation button: rotationMode 0..5.
    virtual void ShowRotation(int mode) = 0;
    // De-interlace button: deinterlaceMode 0..3.
    virtual void ShowDeinterlace(int mode) = 0;
    // Output button: "AirSend" (colour 2) or "NDI®" (colour 3).
    virtual void ShowOutputChoice(bool airSend) = 0;
    // "Audio Delay" button: colour 1 on, 3 off.
    virtual void ShowAudioDelay(bool on) = 0;
    // The reference standard's button: "EBU o/p" or "SMPTE o/p".
    virtual void ShowEbuMode(bool ebu) = 0;
    // The Extra IP field: a dotted address, or empty for a blank field.
    virtual void ShowExtraIp(const std::string& text) = 0;
    // System-menu "Split Key+Fill" check; the "Split Key+Fill o/p" label is hidden when off.
    virtual void ShowKeyFillSplit(bool on) = 0;
    // Level control picture and caption for 0 Mute, 1 Dim, 2 Full.
    virtual void ShowMonitorLevel(int level) = 0;
    // The audio delay counter, in frames.
    virtual void ShowDelayFrames(int frames) = 0;
    // "Exclude local" check box.
    virtual void ShowExcludeLocal(bool checked) = 0;
    // Proc amp button: the tables applied to the output or not.
    virtual void ShowProcAmpButton(bool applied) = 0;
    // "PPM overlay" button: lit while the meter overlay is on.
    virtual void ShowPpmOverlay(bool on) = 0;
    // System-menu check marks.
    virtual void ShowLoadOnStartup(bool checked) = 0;
    virtual void ShowSaveOnExit(bool checked) = 0;
    // The source caption: the connection's state and source.
    virtual void ShowSourceCaption(const std::string& text) = 0;
};

class IFinderControl {
public:
    virtual ~IFinderControl() = default;
    // Replaces the finder. `groups` null means none (the library's default group).
    virtual void RestartFinder(bool showLocalSources, const std::string& extraIps,
                               const char* groups) = 0;
};

}  // namespace velmor
