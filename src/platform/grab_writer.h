// Writing a frame grab: conversion of the copied frame, the file name from the grab settings, the
// encoding by extension and the signal lamp feedback. Runs on the window thread while the video
// thread waits for it.
#pragma once

#include <ctime>

#include "platform/drawn_pictures.h"
#include "video/frame_grab.h"
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

// WriteGrab: FrameToImage on `grabImage` (BGRA or UYVY) into `outputImage`, then encodes it to
// GrabFilePath for the local time `now`, without alpha, replacing a file of the same name.
// Success: green lamp and the blink; any failure (empty grab, missing or unwritable folder, an
// encoder error): red lamp and nothing else. Returns success.
bool WriteGrab(const GrabNaming& naming, int instanceIndex, const ImageBuffer& grabImage,
               ImageBuffer& outputImage, IGrabLamps& lamps, std::time_t now);

}  // namespace velmor
