// How the engine reaches the window. Every call is synchronous: an engine thread waits until the
// window thread has handled it (the GUI marshals with a blocking queued call; the headless runner
// and tests act at once). The window thread therefore never waits for an engine thread while such
// a call can be pending; it only joins threads that have cleared their alive flags.
#pragma once

#include <cstdint>
#include <string>

#include "video/frame_view.h"

namespace velmor {

enum class Lamp { Grey, Red, Green, Amber, Blue, Magenta };

// Coloured buttons of the main window whose state the engine changes.
enum class WindowButton {
    Freeze,
    Overlay,
    PpmOverlay,
    AudioDelay,
    AudioMap,
    Output,
    Rotate,
    Deinterlace,
    ProcAmp
};

enum class PreviewTarget { Main, ProcAmpWindow };

class IWindowBridge {
public:
    virtual ~IWindowBridge() = default;
    virtual void SetSourceCaption(const std::string& text) = 0;  // control 1000
    virtual void SetVideoCaption(const std::string& text) = 0;   // control 1001
    virtual void SetAudioCaption(const std::string& text) = 0;   // control 1009
    virtual void SetDelayCounter(const std::string& text) = 0;   // control 1045
    virtual void SetSignalLamp(Lamp lamp) = 0;                   // control 1007
    virtual void SetFreezeLamp(Lamp lamp) = 0;                   // control 1010
    // Colour index and, when not empty, a new caption.
    virtual void SetButton(WindowButton button, int colour, const std::string& caption) = 0;
    virtual void EnableOutputButton(bool enabled) = 0;  // control 1053
    virtual void ShowKeyFillLabel(bool shown) = 0;      // "Split Key+Fill o/p"
    virtual void ShowEbuMode(bool ebu) = 0;             // button 1018: "EBU o/p" / "SMPTE o/p"
    // The frame copied into grabImage is to be written to a file now.
    virtual void WriteGrab() = 0;
    // Time display: seconds of the frame's timecode; 0 hides the time text.
    virtual void ShowTime(int32_t seconds) = 0;
    // Render `frame` into a preview and repaint it. `aspect` is the frame's picture aspect ratio.
    virtual void ShowPreview(PreviewTarget target, const FrameView& frame, float aspect) = 0;
    // Window timers: 4 (freeze blink) and 5 (no-frame watchdog).
    virtual void StartFreezeBlink() = 0;
    virtual void StopFreezeBlink() = 0;
    virtual void StartWatchdog() = 0;
    virtual void StopWatchdog() = 0;
};

}  // namespace velmor
