// The output side of a connection: what depends on the source's video format (SetUpOutput), the
// senders, and closing everything at exit.
//
// SetUpOutput runs on the window thread during the connection's probe and on the video thread
// when the format changes; CreateSenders on the window thread when the probe has ended;
// CloseOutputs at exit once no engine thread runs.
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine_context.h"

namespace velmor {

// A frame's rate as a float (0 for a source without a sensible rate), and one frame in 100-ns
// units, truncated (0 without a rate; at most the largest int32 for a vanishingly small rate).
float FrameRateOf(const NDIlib_video_frame_v2_t& frame);
int32_t FrameDurationOf(float rate);
// The format as the window shows it, at `rate` (the frame's own or the output's).
VideoFormatReport FormatReportOf(const NDIlib_video_frame_v2_t& frame, float rate);

class OutputSetup {
public:
    explicit OutputSetup(EngineContext& context) : c_(context) {}

    // Everything that depends on the video format: the output format (size, rate, aspect, field
    // order, FourCC), the caption and lamp, the AirSend output, EBU or SMPTE.
    void SetUpOutput(const NDIlib_video_frame_v2_t& frame);
    // The main sender, and the key and meter senders when those outputs are on, clocked by video
    // when a video frame came during the probe.
    void CreateSenders(bool videoSeen);
    // Senders (the meter sender flushed first), the receiver and the AirSend output.
    void CloseOutputs();
    // The signal lamp from the formats seen.
    void ReportSignal();

private:
    void AddMetadata(NDIlib_send_instance_t sender, const std::string& text);

    EngineContext& c_;
};

}  // namespace velmor
