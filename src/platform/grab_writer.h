// Writing a frame grab: the file name from the grab settings, the encoding by extension and the
// signal lamp feedback. Runs on the window thread while the video thread waits for it.
#pragma once

#include <ctime>
#include <string>

#include "platform/drawn_pictures.h"
#include "relay/grab_setup.h"
#include "video/image_buffer.h"

namespace velmor {

// The window-thread effects of a grab, implemented by the main window.
class IGrabLamps {
public:
    virtual ~IGrabLamps() = default;
    virtual void ShowSignalLamp(Lamp lamp) = 0;
    // grabBlinks = 4 and the 250 ms blink timer (timer 6): the lamp flashes green, then shows the
    // connection state again.
    virtual void StartGrabBlink() = 0;
};

// "<base>-<copy>[-YYYYMMDD][-HHMMSS]<ext>" under the grab folder (or the current folder). A '/' in
// the base name is replaced by '_', so the name cannot leave the folder. An out-of-range format
// index (from a damaged configuration) gives an empty path.
std::string GrabPath(const GrabSetup& setup, int instanceIndex, const std::tm& localTime);

// Encodes `outputImage` (the grab converted to a 32-bit BGRA picture) to the grab path for `now`,
// without alpha, replacing a file of the same name. Success: green lamp and the blink; any failure
// (empty picture, bad format, missing or unwritable folder): red lamp. Returns success.
bool WriteGrab(const GrabSetup& setup, int instanceIndex, const ImageBuffer& outputImage,
               IGrabLamps& lamps, std::time_t now);

}  // namespace velmor
