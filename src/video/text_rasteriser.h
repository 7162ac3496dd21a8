// The platform service that draws one line of antialiased text; Qt implements it in platform/.
#pragma once

#include <cstdint>
#include <string_view>

namespace velmor {

class ITextRasteriser {
public:
    virtual ~ITextRasteriser() = default;

    // Draws `utf8` as one line, centred both ways, white on black, into `bgra` (width x height
    // pixels, rows packed, 4 bytes B, G, R, A each). The whole buffer is written: background pixels
    // become 0, text pixels carry their antialiased grey in B, G and R with alpha 0. The font is
    // the platform's "Franklin Gothic Medium" (or a sans-serif fallback) at `fontHeight` pixels.
    // Returns false when nothing could be drawn; the buffer is then unspecified.
    // Called on the window thread only.
    virtual bool RasteriseLine(std::string_view utf8, int width, int height, int fontHeight,
                               uint8_t* bgra) = 0;
};

}  // namespace velmor
