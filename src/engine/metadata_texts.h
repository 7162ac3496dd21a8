// The connection metadata texts that a receiver announces to its source and that every output
// carries, byte for byte.
#pragma once

#include <string>

namespace velmor {

// The receiver's format hint: preferred video and audio formats.
const std::string& ReceiverFormatHint();
// The receiver's product description.
const std::string& ReceiverProductText();
// The product description added to every sender (not to the main sender in comms-return mode).
const std::string& SenderProductText();

}  // namespace velmor
