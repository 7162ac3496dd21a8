// Writing a frame grab: conversion of the copied frame, the file name from the grab settings, the
// encoding by extension and the signal lamp feedback. The grab worker (grab_worker.h) runs it on a
// thread of its own; the window's synchronous WriteGrab remains for a bridge without a worker.
#pragma once

#include <ctime>
#include <string>

#include "platform/drawn_pictures.h"
#include "video/frame_grab.h"
#include "video/image_buffer.h"

namespace velmor {

// The window-thread effects of a grab, implemented by the main window.
class IGrabLamps {
public:
    virtual ~IGrabLamps() = default;
    virtual void ShowSignalLamp(Lamp lamp) = 0;
    // grabBlinks = 4 and the 250 ms blink timer: the lamp flashes green, then shows the
    // connection state again.
    virtual void StartGrabBlink() = 0;
};

// WriteGrab: FrameToImage on `grabImage` (BGRA or UYVY) into `outputImage`, then encodes it to
// GrabFilePath for the local time `now`, without alpha, replacing a file of the same name.
// Success: green lamp and the blink; any failure (empty grab, missing or unwritable folder, an
// encoder error): red lamp and nothing else. Returns success.
bool WriteGrab(const GrabNaming& naming, int instanceIndex, const ImageBuffer& grabImage,
               ImageBuffer& outputImage, IGrabLamps& lamps, std::time_t now);

// The file part of WriteGrab, without the lamps: converts, encodes and writes; `path` (when
// given) receives the file's path. Any thread, with pictures no other thread touches meanwhile.
bool WriteGrabFile(const GrabNaming& naming, int instanceIndex, const ImageBuffer& grabImage,
                   ImageBuffer& outputImage, std::time_t now, std::string* path = nullptr);

}  // namespace velmor
