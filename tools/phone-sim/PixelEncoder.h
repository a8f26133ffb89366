// The phone's pixel formats: turning one 208-pixel RGB screen line into the bytes of a line
// record in the colour mode the viewer asked for.
//
// Every channel is rounded to the nearest level that the viewer's expansion tables produce,
// so that a line the viewer decodes is as close to the phone's picture as the format allows:
//   8 steps (3-bit fields):  0, 36, 73, 109, 146, 182, 220, 255
//   4 steps (2-bit fields):  0, 85, 170, 255
//   16 steps (4096 colours): 0x00, 0x11, ... 0xDD, then 0xF8, 0xFF
//   5 and 6 bits (65536):    c * 8 and g * 4, with the top code meaning 255
//   grey formats:            v * 0x11 (16 greys) and v * 0x55 (4 greys)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace phonesim {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// What the phone sends. The values of the record formats are their format codes, which are
// also the Options colour byte asking for them; kJpeg is the Options value 126.
enum class ColourMode : std::uint8_t {
    k4096 = 0,
    k256 = 1,
    kGrey16 = 2,
    k65536 = 3,
    kGrey4 = 4,
    kJpeg = 126,
};

// Any colour byte the phone does not know falls back to 4096 colours.
ColourMode ModeFromOptionByte(std::uint8_t colour);
const char* ModeName(ColourMode mode);  // "4096 colours", ..., "JPEG"

// Bytes of one screen line in this mode. For kJpeg (no line format) it is the raw RGB line,
// which is what the phone compares to find changed lines in JPEG mode.
std::size_t BytesPerLine(ColourMode mode);

// Writes BytesPerLine(mode) bytes for kScreenWidth pixels.
void EncodeLine(ColourMode mode, const Rgb* pixels, std::uint8_t* out);

// What the viewer shows for these encoded bytes; the inverse of EncodeLine up to rounding.
// Used by the self-check at start-up.
void DecodeLine(ColourMode mode, const std::uint8_t* in, Rgb* pixels);

// Encodes every level of every table and checks that decoding gives it back; returns an
// explanation of the first mismatch, or an empty string.
std::string SelfCheckPixelFormats();

}  // namespace phonesim
