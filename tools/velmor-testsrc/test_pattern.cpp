#include "test_pattern.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace velmor::testsrc {
namespace {

// 75% bars: white, yellow, cyan, green, magenta, red, blue; then black (index 7) and 100% white
// (index 8) for the box and the digits. BT.601 studio-range YUV and the matching RGB.
struct Colour {
    uint8_t y, u, v, r, g, b;
};
constexpr Colour kColours[] = {
    {180, 128, 128, 191, 191, 191}, {162, 44, 142, 191, 191, 0}, {131, 156, 44, 0, 191, 191},
    {112, 72, 58, 0, 191, 0},       {84, 184, 198, 191, 0, 191}, {65, 100, 212, 191, 0, 0},
    {35, 212, 114, 0, 0, 191},      {16, 128, 128, 0, 0, 0},     {235, 128, 128, 255, 255, 255},
};
constexpr int kBlack = 7, kWhite = 8;

// 3 x 5 digit glyphs, one bit per cell, top row first.
constexpr uint16_t kDigits[10] = {0x7B6F, 0x2492, 0x73E7, 0x73CF, 0x5BC9,
                                  0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};

}  // namespace

TestPattern::TestPattern(int width, int height, bool bgra)
    : width_(width), height_(height), bgra_(bgra) {
    bars_.resize(static_cast<size_t>(stride()) * height_);
    const int barWidth = std::max(2, (width_ / 7) & ~1);
    for (int i = 0; i < 7; ++i) {
        const int x = i * barWidth;
        if (x >= width_) break;
        Fill(bars_, x, 0, i == 6 ? width_ - x : barWidth, height_, i);
    }
}

void TestPattern::Fill(std::vector<uint8_t>& out, int x, int y, int w, int h, int bar) const {
    x = std::clamp(x & ~1, 0, width_);
    y = std::clamp(y, 0, height_);
    w = std::min(w, width_ - x) & ~1;
    h = std::min(h, height_ - y);
    if (w <= 0 || h <= 0) return;
    const Colour& c = kColours[bar];
    for (int row = y; row < y + h; ++row) {
        uint8_t* p = out.data() + static_cast<size_t>(row) * stride();
        if (bgra_) {
            // Alpha falls from opaque at the top to a quarter at the bottom.
            const uint8_t a = static_cast<uint8_t>(255 - (191 * row) / std::max(1, height_ - 1));
            for (int col = x; col < x + w; ++col) {
                uint8_t* q = p + col * 4;
                q[0] = c.b, q[1] = c.g, q[2] = c.r, q[3] = a;
            }
        } else {
            for (int col = x; col < x + w; col += 2) {
                uint8_t* q = p + col * 2;
                q[0] = c.u, q[1] = c.y, q[2] = c.v, q[3] = c.y;
            }
        }
    }
}

void TestPattern::Render(uint64_t n, std::vector<uint8_t>& out) const {
    out = bars_;
    // The moving box crosses the picture every 2 seconds at 60 frames per second.
    const int box = std::max(2, height_ / 8);
    const int travel = std::max(1, width_ - box);
    const int x = static_cast<int>((n * static_cast<uint64_t>(travel) / 120) % travel);
    Fill(out, x, height_ / 2 - box / 2, box, box, kWhite);

    // The frame number on a black panel in the lower third.
    const std::string digits = std::to_string(n);
    const int cell = std::max(2, height_ / 40);
    const int panelW = static_cast<int>(digits.size()) * 4 * cell + cell;
    const int panelX = (width_ - panelW) / 2, panelY = height_ * 2 / 3;
    Fill(out, panelX, panelY, panelW, 7 * cell, kBlack);
    for (size_t i = 0; i < digits.size(); ++i) {
        const uint16_t glyph = kDigits[digits[i] - '0'];
        for (int gy = 0; gy < 5; ++gy)
            for (int gx = 0; gx < 3; ++gx)
                if (glyph & (1 << (14 - (gy * 3 + gx))))
                    Fill(out, panelX + cell + static_cast<int>(i) * 4 * cell + gx * cell,
                         panelY + cell + gy * cell, cell, cell, kWhite);
    }
}

}  // namespace velmor::testsrc
