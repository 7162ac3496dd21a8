// Picture conversions a receiver applies when the colour format it asked for differs from what
// the sender sent. YUV is BT.601 studio range (Y 16..235), as the rest of Velmor expects.
#pragma once

#include <cstdint>
#include <vector>

#include "ndi/builtin/wire.h"

namespace velmor::wire {

// The FourCC a receiver with `colorFormat` gets for a frame sent as `sent`.
uint32_t DeliveredFourCC(int32_t colorFormat, uint32_t sent);

// Converts a packed picture into `out` (packed, resized to fit). `to` is UYVY, BGRA, BGRX, RGBA or
// RGBX; returns false for any other target or a picture that PictureBytes refuses.
bool ConvertPicture(uint32_t from, const uint8_t* src, int xres, int yres, uint32_t to,
                    std::vector<uint8_t>& out);

// Doubles every line of a packed field (both planes for UYVA) into a full-height frame.
bool LineDouble(uint32_t fourCC, const uint8_t* src, int xres, int yres, std::vector<uint8_t>& out);

}  // namespace velmor::wire
