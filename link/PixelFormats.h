// The five pixel formats of a frame record's screen lines, one decoder each,
// picked from a table by the record's mode bits 0-4. Each decoder turns one
// 208-pixel line into 0x00RRGGBB pixels through precomputed expansion tables.
//
//   code  colours  bytes/line  layout
//   4     4 greys  52          4 pixels a byte, first in bits 0-1; grey = v × 0x55
//   2     16 greys 104         2 pixels a byte, first in the low nibble; grey = v × 0x11
//   1     256      208         bits 0-2 blue, 3-5 green (8 steps), 6-7 red (4 steps)
//   3     65536    416         little-endian 5:6:5; full-scale channels become 255
//   other 4096     312         3 bytes per 2 pixels, nibbles through the 16-step table
#pragma once

#include <cstdint>

namespace velarix {

using LineDecoder = void (*)(const std::uint8_t* src, std::uint32_t* dst);

struct PixelFormat {
    int code;          // the mode value that names it (4096 colours: 0, and any unknown code)
    int bytesPerLine;  // for one 208-pixel line
    LineDecoder decodeLine;
};

// The format for a record's mode byte; bits 5-7 are not the PC's business.
// Its decoder uses the processor's byte shuffles where it has them.
const PixelFormat& PixelFormatForMode(std::uint8_t mode);
// The same format's decoder in plain C++, as used without byte shuffles.
LineDecoder PortableLineDecoder(std::uint8_t mode);

// The channel expansion tables, index to 8-bit value. Step 6 of the 8-step
// table is 220, not 219, and step 14 of the 16-step table is 0xF8, not 0xEE:
// that is what the phone's palette shows.
inline constexpr std::uint8_t kSteps4[4] = {0, 85, 170, 255};
inline constexpr std::uint8_t kSteps8[8] = {0, 36, 73, 109, 146, 182, 220, 255};
inline constexpr std::uint8_t kSteps16[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xF8, 0xFF};

}  // namespace velarix
