// The second output as the engine calls it: the AirSend operations, provided by the platform (a
// YUV4MPEG2 writer, platform/air_send_writer.h) and handed to the engine by the application.
// Without them, or when `create` fails, there is no second output and the video goes out on NDI,
// as with a missing library.
#pragma once

#include <cstdint>

namespace velmor {

struct AirSendLibrary {
    void* (*create)(int width, int height, int frameRateN, int frameRateD, bool progressive,
                    float aspect, bool reserved1, int reserved2, int reserved3);
    bool (*changeVideoFormat)(void* instance, int width, int height, int frameRateN, int frameRateD,
                              bool progressive, float aspect);
    // One frame of the last format, `stride` bytes from one line to the next.
    bool (*addFrameYCbCr)(void* instance, const uint8_t* data, int stride);
    bool (*addFrameBGRA)(void* instance, const uint8_t* data, int stride);
    void (*destroy)(void* instance);
};

}  // namespace velmor
