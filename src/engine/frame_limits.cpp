#include "engine/frame_limits.h"

namespace velmor {
namespace {

// Bytes of one row of `width` pixels in the layouts Velmor handles; 0 for other FourCCs, whose
// rows are then only checked against the picture's width.
int64_t PackedRow(NDIlib_FourCC_video_type_e fourCC, int width) {
    switch (fourCC) {
        case NDIlib_FourCC_video_type_UYVY:
        case NDIlib_FourCC_video_type_UYVA:
            return int64_t{width} * 2;
        case NDIlib_FourCC_video_type_BGRA:
        case NDIlib_FourCC_video_type_BGRX:
        case NDIlib_FourCC_video_type_RGBA:
        case NDIlib_FourCC_video_type_RGBX:
            return int64_t{width} * 4;
        default:
            return width;
    }
}

std::string Size(int a, int b) {
    return std::to_string(a) + " x " + std::to_string(b);
}

}  // namespace

std::string VideoFrameProblem(const NDIlib_video_frame_v2_t& f) {
    if (f.xres < 1 || f.yres < 1 || f.xres > kMaxFrameSide || f.yres > kMaxFrameSide ||
        int64_t{f.xres} * f.yres > kMaxFramePixels)
        return "picture size " + Size(f.xres, f.yres);
    if (!f.p_data) return "no picture data";
    const int64_t stride = f.line_stride_in_bytes;
    if (stride < PackedRow(f.FourCC, f.xres) || stride > int64_t{kMaxFrameSide} * 4)
        return "row length " + std::to_string(stride) + " for " + std::to_string(f.xres) +
               " pixels";
    return {};
}

std::string AudioFrameProblem(const NDIlib_audio_frame_v2_t& f) {
    if (f.no_channels < 1 || f.no_channels > kMaxFrameChannels)
        return std::to_string(f.no_channels) + " channels";
    if (f.no_samples < 1 || f.no_samples > kMaxFrameSamples)
        return std::to_string(f.no_samples) + " samples";
    if (f.sample_rate < 1 || f.sample_rate > kMaxFrameSampleRate)
        return "sample rate " + std::to_string(f.sample_rate);
    if (!f.p_data) return "no sample data";
    const int64_t stride = f.channel_stride_in_bytes;
    if (stride < int64_t{f.no_samples} * 4 || stride % 4 != 0 ||
        stride > int64_t{kMaxFrameSamples} * 4 * 2)
        return "plane spacing " + std::to_string(stride) + " bytes for " +
               std::to_string(f.no_samples) + " samples";
    return {};
}

bool FrameLimitGate::Refused(const std::string& problem, MediaKind kind, bool& shown) {
    (kind == MediaKind::Video ? c_.r.skippedVideoFrames : c_.r.skippedAudioFrames).fetch_add(1);
    if (kind == MediaKind::Video)
        c_.r.counters.videoFramesDropped.fetch_add(1, std::memory_order_relaxed);
    if (!shown) {
        shown = true;
        c_.bridge.ShowFramesSkipped(kind, problem);
    }
    return true;
}

bool FrameLimitGate::Usable(NDIlib_recv_instance_t recv, NDIlib_video_frame_v2_t& frame) {
    const std::string problem = VideoFrameProblem(frame);
    if (problem.empty()) return true;
    c_.ndi.recv_free_video_v2(recv, &frame);
    return !Refused(problem, MediaKind::Video, videoShown_);
}

bool FrameLimitGate::Usable(NDIlib_recv_instance_t recv, NDIlib_audio_frame_v2_t& frame) {
    const std::string problem = AudioFrameProblem(frame);
    if (problem.empty()) return true;
    c_.ndi.recv_free_audio_v2(recv, &frame);
    return !Refused(problem, MediaKind::Audio, audioShown_);
}

}  // namespace velmor
