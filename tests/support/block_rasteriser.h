// A text rasteriser for tests: every line is a white block over the middle half of its box, so
// where the text lands is known to the pixel without a font.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "video/text_rasteriser.h"

namespace velmor::testing {

class BlockRasteriser : public ITextRasteriser {
public:
    bool RasteriseLine(std::string_view, int width, int height, int, uint8_t* bgra) override {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool text =
                    x >= width / 4 && x < width * 3 / 4 && y >= height / 4 && y < height * 3 / 4;
                uint8_t* p = bgra + (static_cast<size_t>(y) * width + x) * 4;
                p[0] = p[1] = p[2] = text ? 255 : 0;
                p[3] = 0;
            }
        }
        return true;
    }
};

}  // namespace velmor::testing
