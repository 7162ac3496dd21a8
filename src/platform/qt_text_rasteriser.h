// The text rasteriser of the picture code, drawn with Qt: one antialiased line, white on black.
// Font: "Franklin Gothic Medium" when installed, else "Arial" (on Linux fontconfig usually maps it
// to the metric-compatible Liberation Sans), else the system's sans-serif font.
#pragma once

#include <QFont>
#include <QString>

#include "video/text_rasteriser.h"

namespace velmor {

class QtTextRasteriser : public ITextRasteriser {
public:
    // Needs a QGuiApplication; without one every call returns false.
    bool RasteriseLine(std::string_view utf8, int width, int height, int fontHeight,
                       uint8_t* bgra) override;

    // The font the rule above picks for `pixelHeight` (for tests and the window code).
    static QFont TextFont(int pixelHeight);
};

}  // namespace velmor
