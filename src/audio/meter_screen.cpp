#include "audio/meter_screen.h"

#include <algorithm>

namespace velmor {

MeterScreenLayout MeterScreenGeometry(int clientW, int clientH, int edge, int shownLeft,
                                      int shownRight, int full, bool overloadLeft,
                                      bool overloadRight, bool scaleText) {
    MeterScreenLayout out;
    const int left = edge, top = edge, right = clientW - edge, bottom = clientH - edge;
    const int H = bottom - top;
    const int span = 9 * H / 10;
    const int line71 = bottom - span * 71 / 100;
    const int threshold = full * 71 / 100;
    if (H <= 0 || right <= left || full <= 0) return out;
    const int xs[2][2] = {{left, right / 2}, {right / 2 + 2, right}};
    const int shown[2] = {shownLeft, shownRight};
    for (int c = 0; c < 2; ++c) {
        const int s = std::clamp(shown[c], 0, full);
        const int barTop = bottom - s * span / full;
        const int x0 = xs[c][0], x1 = xs[c][1];
        if (s < threshold) {
            out.rects[out.rectCount++] = {x0, barTop, x1, bottom, 5, 170, 0};
        } else {
            out.rects[out.rectCount++] = {x0, barTop, x1, line71, 205, 204, 0};
            out.rects[out.rectCount++] = {x0, line71, x1, bottom, 5, 187, 0};
        }
    }
    const bool overloads[2] = {overloadLeft, overloadRight};
    for (int c = 0; c < 2; ++c) {
        if (overloads[c]) {
            out.rects[out.rectCount++] = {xs[c][0], top, xs[c][1], bottom - span - 2, 238, 17, 17};
        }
    }
    if (scaleText) {
        const int x = (right - left - 15) / 2;
        out.labels[0] = {"- 0 -", x, top + 43 * H / 128};
        out.labels[1] = {"+8 -", x, top + 23 * H / 128};
        out.labels[2] = {" -8 -", x, top + 62 * H / 128};
        out.labelCount = 3;
    }
    return out;
}

}  // namespace velmor
