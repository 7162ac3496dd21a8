// The geometry of the on-screen meter (the main window's twin bars): what to paint where, from
// the shown positions. Pure; the control paints it.
#pragma once

#include <cstdint>

namespace velmor {

// Rectangles of the on-screen meter (control PMeterButton), left/top inclusive, right/bottom
// exclusive, in client coordinates, painted in array order.
struct MeterPaintRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    uint8_t r = 0, g = 0, b = 0;
};
struct MeterScreenLayout {
    MeterPaintRect rects[6];
    int rectCount = 0;
    struct Label {
        const char* text;
        int x, y;
    } labels[3];
    int labelCount = 0;  // 0 when the scale text is off
};

// The on-screen twin bars for a client area of clientW x clientH with `edge` pixels of system
// edge on every side.
MeterScreenLayout MeterScreenGeometry(int clientW, int clientH, int edge, int shownLeft,
                                      int shownRight, int fullScale, bool overloadLeft,
                                      bool overloadRight, bool scaleText);

}  // namespace velmor
