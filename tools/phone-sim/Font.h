// A small built-in bitmap font: 5 x 7 pixel glyphs for printable ASCII, drawn in 6 x 9 cells.
// Letters with descenders are drawn two rows lower, so they reach into the last two rows of
// the cell.
#pragma once

#include <array>
#include <cstdint>

namespace phonesim {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kCellWidth = 6;
constexpr int kCellHeight = 9;

// Seven rows, top first; bit 4 is the leftmost column. Characters outside 0x20..0x7E get the
// glyph of '?'.
const std::array<std::uint8_t, kGlyphHeight>& Glyph(unsigned char c);
// Rows the glyph is drawn below the top of its cell: 2 for g, p, q, y, else 0.
int GlyphDrop(unsigned char c);

}  // namespace phonesim
