// The phone's screen as the server holds it: 208 x 320 RGB pixels, top line first, with the
// few drawing operations the simulated phone user interface needs. Everything is clipped.
#pragma once

#include <algorithm>
#include <string_view>
#include <vector>

#include "PixelEncoder.h"
#include "Wire.h"

namespace phonesim {

class Framebuffer {
public:
    static constexpr int kWidth = kScreenWidth;
    static constexpr int kHeight = kScreenHeight;

    Framebuffer() : pixels_(static_cast<std::size_t>(kWidth * kHeight)) {}

    const Rgb* Line(int y) const { return &pixels_[Index(0, y)]; }
    Rgb* Line(int y) { return &pixels_[Index(0, y)]; }

    void Fill(Rgb c) { std::fill(pixels_.begin(), pixels_.end(), c); }
    void Set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight) pixels_[Index(x, y)] = c;
    }
    void FillRect(int x, int y, int w, int h, Rgb c);
    // A line of the given thickness (a square pen), both end points included.
    void DrawLine(int x0, int y0, int x1, int y1, int thickness, Rgb c);
    void FillCircle(int cx, int cy, int radius, Rgb c);
    // Draws text with its top-left corner at x, y; returns the x after the last cell.
    int DrawText(int x, int y, std::string_view text, Rgb c, int scale = 1);
    static int TextWidth(std::string_view text, int scale = 1);
    // Replaces every pixel by its complement.
    void Invert();

private:
    static std::size_t Index(int x, int y) { return static_cast<std::size_t>(y * kWidth + x); }

    std::vector<Rgb> pixels_;
};

}  // namespace phonesim
