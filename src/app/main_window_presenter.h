// How the main window shows the state of the relay: the captions, colour numbers and lamps chosen
// from what the engine and the apply step report. Pure functions, so the choice is tested without
// a window; the model bridge (app/model_bridge.h) and the command set put them into the model.
#pragma once

#include <array>
#include <string>

#include "engine/window_bridge.h"
#include "relay/video_modes.h"

namespace velmor {

// A coloured button's state: colour index (0 none, 1 on, 2 ready, 3 off, 4 intermediate) and
// caption (empty: the caption stays).
struct ButtonLook {
    int colour = 0;
    std::string caption;
};

// The rotation button per rotationMode 0..5, and the de-interlace button per mode 0..3 (any
// other mode shows as mode 0).
ButtonLook RotationButton(int mode);
ButtonLook DeinterlaceButton(int mode);
// The buttons that show on (colour 1) or off (colour 3): Overlay, Audio Delay, Audio Map,
// Proc Amp.
ButtonLook OnOffButton(bool on);
// "Freeze" ready (colour 2) or "Restart" while a freeze is requested or held (colour 1).
ButtonLook FreezeButton(bool frozen);

// The video caption, "%d x %d, %4.2f%c %s": fields are shown at twice the frame rate.
std::string VideoFormatCaption(const VideoFormatReport& format);
// The audio caption, "%d Ch - %2.1f KHz".
std::string AudioFormatCaption(int channels, int sampleRate);
// The source caption for a connection's state, and for the connected source.
std::string SourceStateCaption(SourceState state);
std::string SourceConnectedCaption(const std::string& address, const std::string& name);
// The caption after the first frame of a connection beyond the frame limits.
std::string FramesSkippedCaption(MediaKind kind, const std::string& problem);
// The caption of a thread that ended.
std::string MediaEndedCaption(MediaKind kind);
// The signal lamp: magenta with video and audio, red with video only, blue otherwise.
Lamp SignalLamp(bool videoSeen, bool audioSeen);
// The EBU button's caption.
const char* EbuCaption(bool ebu);

}  // namespace velmor
