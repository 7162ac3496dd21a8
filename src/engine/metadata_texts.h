// The connection metadata texts that a receiver announces to its source and that every output
// carries, byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ndi/ndi_types.h"
#include "video/preview_render.h"

namespace velmor {

// The receiver's format hint: preferred video and audio formats.
const std::string& ReceiverFormatHint();
// The receiver's product description.
const std::string& ReceiverProductText();
// The product description added to every sender (not to the main sender in comms-return mode).
const std::string& SenderProductText();

// The text of a received metadata frame, never read past its length or its terminator (at most
// 1 MiB when the frame gives no length).
std::string MetadataFrameText(const NDIlib_metadata_frame_t& frame);

// The preview's tally border a tally echo from downstream asks for; nothing for a text that is not
// a tally echo (the border stays as it is).
std::optional<TallyState> TallyEchoState(std::string_view utf8Text);

}  // namespace velmor
