// How the engine reaches the window. The engine reports what happened and what state it is in; the
// window side chooses the captions, colour numbers and lamps that show it (app/model_bridge.*), so
// no text or colour of the main window is decided here.
//
// No call waits for the window: each hands a report over and returns (the GUI posts it under the
// key of the state it shows, so a window that stops serving keeps only the newest report of each
// state; the headless runner and tests act at once). An engine thread therefore never waits for
// the window, the display server or the operator, and the window thread never waits for an engine
// thread either: it joins only threads that have cleared their alive flags.
#pragma once

#include <cstdint>
#include <string>

#include "video/frame_view.h"
#include "video/image_buffer.h"

namespace velmor {

enum class Lamp { Grey, Red, Green, Amber, Blue, Magenta };

// Coloured buttons of the main window.
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

// Where a connection stands, for the source caption.
enum class SourceState {
    Closing,        // a selection while the previous connection still runs or ends
    ConnectFailed,  // the receiver could not be made
    Disconnecting,  // the picker's list was opened
    Ended           // the video thread ended: no source connected
};

// A video format as the caption shows it.
struct VideoFormatReport {
    int width = 0;
    int height = 0;
    float rate = 0.0f;  // frames per second of the frame (fields are shown as twice this)
    bool progressive = true;
    bool yuv = true;  // UYVY; anything else shows as RGBA
    // The frame's own description, for front ends that show it whole (the HTTP API).
    int frameRateN = 0;
    int frameRateD = 0;
    int frameFormatType = 1;  // NDIlib_frame_format_type_e
    uint32_t fourCC = 0;
};

enum class MediaKind { Video, Audio };

class IWindowBridge {
public:
    virtual ~IWindowBridge() = default;

    // --- The connection and its formats (the source, video and audio captions, the signal lamp)
    virtual void ShowSourceState(SourceState state) = 0;
    virtual void ShowSourceConnected(const std::string& address, const std::string& name) = 0;
    // The output was set up for this format, or frames arrive at another rate.
    virtual void ShowVideoFormat(const VideoFormatReport& format) = 0;
    virtual void ShowAudioFormat(int channels, int sampleRate) = 0;
    // The first frame of a connection beyond engine/frame_limits.h, and what is wrong with it.
    virtual void ShowFramesSkipped(MediaKind kind, const std::string& problem) = 0;
    // A thread ended: its caption says so and the lamp is as before any connection.
    virtual void ShowMediaEnded(MediaKind kind) = 0;
    // Which formats the connection has seen (the signal lamp).
    virtual void ShowSignal(bool videoSeen, bool audioSeen) = 0;
    // A grab was handed over and is being written (the lamp until the writer reports).
    virtual void ShowGrabStarted() = 0;

    // --- States shown on buttons, labels and counters
    virtual void ShowDeinterlaceMode(int mode) = 0;     // the de-interlace button
    virtual void ShowAudioDelayOn(bool on) = 0;         // "Audio Delay"
    virtual void ShowAudioDelayFrames(int frames) = 0;  // the delay counter
    virtual void ShowOverlayOn(bool on) = 0;            // "Overlay"
    virtual void ShowAudioMapActive(bool active) = 0;   // "Audio Map"
    // A freeze requested or held (button, freeze lamp and its blinking), or released.
    virtual void ShowFreeze(bool on) = 0;
    virtual void EnableOutputButton(bool enabled) = 0;  // NDI or AirSend, not while connected
    virtual void ShowKeyFillLabel(bool shown) = 0;      // "Split Key+Fill o/p"
    virtual void ShowEbuMode(bool ebu) = 0;             // "EBU o/p" or "SMPTE o/p"

    // --- Pictures and timers
    // `picture`, a copy of the frame, is to be written to a file now (without a grab sink; the
    // application always has one, which writes on a thread of its own).
    virtual void WriteGrab(const ImageBuffer& picture) = 0;
    // Time display: seconds of the frame's timecode; 0 hides the time text.
    virtual void ShowTime(int32_t seconds) = 0;
    // Render `frame` into a preview and repaint it. `aspect` is the frame's picture aspect ratio.
    // The video thread renders itself and never waits for the window here.
    virtual void ShowPreview(PreviewTarget target, const FrameView& frame, float aspect) = 0;
    // The no-frame watchdog while AirSend is the output: every 3.5 s, a period without a video
    // frame disconnects.
    virtual void StartWatchdog() = 0;
    virtual void StopWatchdog() = 0;
};

}  // namespace velmor
