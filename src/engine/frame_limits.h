// The largest frames Velmor takes from a source. The receiver hands over whatever the network
// carried; a broken or hostile source could otherwise make the relay allocate gigabytes (the key,
// meter, rotation, grab and audio ring buffers all follow the frame's size), and Linux kills a
// process that over-commits rather than failing its allocation. No real source comes near these
// limits: 8K UHD is 7680 x 4320, and an audio frame normally carries one video frame's worth of
// samples. A frame beyond them is treated as not received: released at once, counted, and shown
// once per connection in the video or audio caption.
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine_context.h"
#include "ndi/ndi_types.h"

namespace velmor {

inline constexpr int kMaxFrameSide = 8192;
inline constexpr int64_t kMaxFramePixels = int64_t{8192} * 4320;
inline constexpr int kMaxFrameChannels = 64;
inline constexpr int kMaxFrameSamples = 48000;
inline constexpr int kMaxFrameSampleRate = 192000;

// Empty when the frame may be used; otherwise what is wrong with it, for the caption. Checks the
// size, that there is a picture, and that rows are at least as long as the layout needs (padded
// rows are fine up to four bytes for each of the widest picture's pixels).
std::string VideoFrameProblem(const NDIlib_video_frame_v2_t& frame);
// The same for an audio frame: channel count, samples, sample rate, samples present, and planes
// no closer than one plane's samples (padded planes are fine, but only whole floats apart).
std::string AudioFrameProblem(const NDIlib_audio_frame_v2_t& frame);

// Where the probe and the engine threads check each captured frame: a frame beyond the limits is
// released at once and counted, and the first of each kind in a connection is reported to the
// window. The video thread (or the probe) checks video, the audio thread (or the probe) audio.
class FrameLimitGate {
public:
    explicit FrameLimitGate(EngineContext& context) : c_(context) {}
    // Window thread, at the start of a connection (no engine thread runs).
    void NewConnection() { videoShown_ = audioShown_ = false; }
    // True when the frame may be used.
    bool Usable(NDIlib_recv_instance_t recv, NDIlib_video_frame_v2_t& frame);
    bool Usable(NDIlib_recv_instance_t recv, NDIlib_audio_frame_v2_t& frame);

private:
    bool Refused(const std::string& problem, MediaKind kind, bool& shown);

    EngineContext& c_;
    bool videoShown_ = false, audioShown_ = false;
};

}  // namespace velmor
