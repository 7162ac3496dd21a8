// The frame descriptors and buffers of the engine threads: the third group of the relay record
// (relay_record.h).
//
// Owned by the video thread (video frames, the key and meter outputs, the work pictures) and by
// the audio thread (the audio frames and the delay ring) while they run; the connection procedure
// sets them up on the window thread before the threads start (the probe captures into them and
// sizes them), and the exit releases them after the threads have ended. No other thread touches
// them, so they are plain members. The timecode glyphs are drawn once at start-up and only read
// afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ndi/ndi_types.h"
#include "video/image_buffer.h"
#include "video/timecode_burn_in.h"

namespace velmor {

inline constexpr int kKeyBufferWidth = 4096;
inline constexpr int kKeyBufferHeight = 2160;
inline constexpr int kAudioRingSize = 16;

// What the key and meter output frames take from a format; one place fills their descriptors.
struct OutputFrameFormat {
    int width = 0;
    int height = 0;
    int frameRateN = 30000;
    int frameRateD = 1200;
    float aspect = 16.0f / 9.0f;
    NDIlib_frame_format_type_e frameFormatType = NDIlib_frame_format_type_progressive;
};

// `frame` describes packed rows of `bytesPerPixel` at `data`, in `fourCC` and `format`.
void DescribeOutputFrame(NDIlib_video_frame_v2_t& frame, NDIlib_FourCC_video_type_e fourCC,
                         int bytesPerPixel, const OutputFrameFormat& format, uint8_t* data);

struct RecordFrames {
    // --- Video thread ---
    NDIlib_metadata_frame_t metadataFrame{};
    NDIlib_video_frame_v2_t videoFrame{};  // as received; released as received
    NDIlib_video_frame_v2_t keyFrame{};
    NDIlib_video_frame_v2_t ppmFrame{};
    std::vector<uint8_t> keyBuffer;
    // The meter output goes out with the asynchronous send, whose buffer the sender may read until
    // the next send on it: the meter is drawn into ppmBuffer, and after each send the two buffers
    // change places, so the one being read is never drawn into.
    std::vector<uint8_t> ppmBuffer;
    std::vector<uint8_t> ppmBufferSpare;  // made with the meter sender (AddMeterSpareBuffer)
    // The buffers still hold the meter at a placement since changed (current, spare): each is
    // cleared before the meter is drawn into it again.
    bool ppmStale = false, ppmSpareStale = false;
    ImageBuffer rotateImage;  // the quarter turns
    // Filled for a freeze or a grab; a grab hands it to the grab sink (or the window writes it
    // while the thread waits).
    ImageBuffer grabImage;
    ImageBuffer meterScratch;  // the meter picture in UYVA when the meter has none ready
    ImageBuffer digitImages[kDigitImageCount];  // timecode glyphs, drawn at start-up

    // --- Audio thread ---
    NDIlib_audio_frame_v2_t audioCapture{};
    std::array<NDIlib_audio_frame_v2_t, kAudioRingSize> audioRing{};
    std::array<std::vector<float>, kAudioRingSize> audioRingBuffers;
};

}  // namespace velmor
