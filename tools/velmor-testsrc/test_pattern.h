// The test source's picture: colour bars, a box that moves one step per frame and the frame
// number in large digits, in UYVY or in BGRA with an alpha that varies across the picture.
#pragma once

#include <cstdint>
#include <vector>

namespace velmor::testsrc {

class TestPattern {
public:
    TestPattern(int width, int height, bool bgra);
    // Draws frame `n` into `out` (resized to width x height x bytes per pixel, packed).
    void Render(uint64_t n, std::vector<uint8_t>& out) const;
    int stride() const { return width_ * (bgra_ ? 4 : 2); }

private:
    void Fill(std::vector<uint8_t>& out, int x, int y, int w, int h, int bar) const;
    int width_, height_;
    bool bgra_;
    std::vector<uint8_t> bars_;
};

}  // namespace velmor::testsrc
