// One 4-byte pixel unit (a BGRA pixel, a UYVY macropixel) read and written as a little-endian
// 32-bit word, whatever the alignment.
#pragma once

#include <cstdint>
#include <cstring>

namespace velmor {

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

}  // namespace velmor
