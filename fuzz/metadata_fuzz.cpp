// Feeds arbitrary metadata frames to the video thread's metadata handling: the frame's text (its
// length field may be anything, its text may lack a terminator) and the tally-echo test.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/metadata_texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int32_t length;
    std::memcpy(&length, data, 4);
    // The text exactly as large as the input, without a terminator, so a read past it is caught.
    std::vector<char> text(data + 4, data + size);
    NDIlib_metadata_frame_t frame{};
    frame.length = length;
    frame.p_data = text.empty() ? nullptr : text.data();
    // A length beyond the text would let strnlen run past it: the receiver's promise is that the
    // text holds `length` bytes or is terminated within them.
    if (length > static_cast<int32_t>(text.size())) frame.length = static_cast<int>(text.size());
    if (frame.length <= 0) text.push_back('\0');  // no length: the terminator bounds the text
    frame.p_data = text.data();
    const std::string utf8 = velmor::MetadataFrameText(frame);
    const auto state = velmor::TallyEchoState(utf8);
    if (state && (static_cast<int>(*state) < 0 || static_cast<int>(*state) > 2)) __builtin_trap();
    return 0;
}
