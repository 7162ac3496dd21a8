// The second output. Where the Windows program published to the AirSend library, this platform
// writes the processed video as a YUV4MPEG2 stream to the file or FIFO named by VELMOR_AIRSEND
// (UYVY as 4:2:2, BGRA as 4:4:4 with alpha), for ffmpeg or a player to read. Without that variable
// AirSend_Create fails and the engine skips the output, as for a missing library.
//
// Frames are handed to a writer thread through a one-deep mailbox: the video thread never blocks;
// when the reader lags or is absent, frames are dropped. The frame's rows are `stride` bytes apart
// (0: packed); the stream carries packed planes.
#pragma once

#include <cstdint>

#include "engine/air_send_output.h"

extern "C" {

typedef void* AirSend_instance_t;

AirSend_instance_t AirSend_Create(int width, int height, int frameRateN, int frameRateD,
                                  bool progressive, float aspect, bool reserved1, int reserved2,
                                  int reserved3);
bool AirSend_change_video_format(AirSend_instance_t instance, int width, int height, int frameRateN,
                                 int frameRateD, bool progressive, float aspect);
bool AirSend_add_frame_ycbcr(AirSend_instance_t instance, const uint8_t* data, int stride);
bool AirSend_add_frame_bgra(AirSend_instance_t instance, const uint8_t* data, int stride);
void AirSend_Destroy(AirSend_instance_t instance);

}  // extern "C"

namespace velmor {

// Counters of an instance, for tests and diagnostics.
struct AirSendStats {
    uint64_t framesWritten = 0;
    uint64_t framesDropped = 0;
};
AirSendStats AirSendGetStats(AirSend_instance_t instance);

// The functions above, for the engine (Engine::SetAirSend).
const AirSendLibrary& Y4mAirSendLibrary();

}  // namespace velmor
