// Where the video thread hands a frame grab. Encoding and writing a picture takes tens of
// milliseconds (a 1080p PNG), far more than a frame period at 60p, so the video thread only copies
// the frame and hands the copy over; a worker of the platform encodes and writes it and reports
// the outcome to the window (amber when requested, then green and the blink, or red).
#pragma once

#include "video/frame_grab.h"
#include "video/image_buffer.h"

namespace velmor {

class IGrabSink {
public:
    virtual ~IGrabSink() = default;
    // Window thread, whenever a grab is requested: the naming the requested file takes (the sink
    // keeps its own copy, so the grab settings stay window-thread state).
    virtual void SetNaming(const GrabNaming& naming, int instanceIndex) = 0;
    // Video thread: whether Submit can take a picture now. While it cannot, a grab request stays
    // pending and the next frame is tried.
    virtual bool Ready() = 0;
    // Video thread, only after Ready: takes `picture` for writing with the latest naming and puts
    // a buffer of the sink's in its place (contents undefined), so no grab allocates once the
    // buffers have the frame's size.
    virtual void Submit(ImageBuffer& picture) = 0;
};

}  // namespace velmor
