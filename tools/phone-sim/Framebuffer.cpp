#include "Framebuffer.h"

#include <algorithm>
#include <cstdlib>

#include "Font.h"

namespace phonesim {

void Framebuffer::FillRect(int x, int y, int w, int h, Rgb c) {
    const int x0 = std::max(x, 0), x1 = std::min(x + w, kWidth);
    const int y0 = std::max(y, 0), y1 = std::min(y + h, kHeight);
    for (int yy = y0; yy < y1; ++yy) {
        for (int xx = x0; xx < x1; ++xx) pixels_[Index(xx, yy)] = c;
    }
}

void Framebuffer::DrawLine(int x0, int y0, int x1, int y1, int thickness, Rgb c) {
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    const int half = (thickness - 1) / 2;
    int err = dx + dy;
    for (;;) {
        FillRect(x0 - half, y0 - half, thickness, thickness, c);
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void Framebuffer::FillCircle(int cx, int cy, int radius, Rgb c) {
    for (int y = -radius; y <= radius; ++y) {
        for (int x = -radius; x <= radius; ++x) {
            if (x * x + y * y <= radius * radius + radius) Set(cx + x, cy + y, c);
        }
    }
}

int Framebuffer::DrawText(int x, int y, std::string_view text, Rgb c, int scale) {
    for (const char ch : text) {
        const auto& rows = Glyph(static_cast<unsigned char>(ch));
        const int top = y + GlyphDrop(static_cast<unsigned char>(ch)) * scale;
        for (int row = 0; row < kGlyphHeight; ++row) {
            const unsigned bits = rows[static_cast<std::size_t>(row)];
            for (int col = 0; col < kGlyphWidth; ++col) {
                if (bits & (0x10u >> col)) {
                    FillRect(x + col * scale, top + row * scale, scale, scale, c);
                }
            }
        }
        x += kCellWidth * scale;
    }
    return x;
}

int Framebuffer::TextWidth(std::string_view text, int scale) {
    return static_cast<int>(text.size()) * kCellWidth * scale;
}

void Framebuffer::Invert() {
    for (Rgb& p : pixels_) {
        p = {static_cast<std::uint8_t>(255 - p.r), static_cast<std::uint8_t>(255 - p.g),
             static_cast<std::uint8_t>(255 - p.b)};
    }
}

}  // namespace phonesim
