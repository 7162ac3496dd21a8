#include "engine/video_stage.h"

#include <bit>

namespace velmor {

StreamFormat StreamFormat::Of(const NDIlib_video_frame_v2_t& f) {
    StreamFormat s;
    s.width = f.xres;
    s.height = f.yres;
    s.stride = f.line_stride_in_bytes;
    s.fourCC = static_cast<uint32_t>(f.FourCC);
    s.frameFormatType = f.frame_format_type;
    s.frameRateN = f.frame_rate_N;
    s.frameRateD = f.frame_rate_D;
    s.aspect = f.picture_aspect_ratio;
    return s;
}

bool StreamFormat::operator==(const StreamFormat& o) const {
    return width == o.width && height == o.height && stride == o.stride && fourCC == o.fourCC &&
           frameFormatType == o.frameFormatType && frameRateN == o.frameRateN &&
           frameRateD == o.frameRateD &&
           std::bit_cast<uint32_t>(aspect) == std::bit_cast<uint32_t>(o.aspect);
}

}  // namespace velmor
