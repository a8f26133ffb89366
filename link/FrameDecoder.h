// Frame records: the changed screen lines of one phone frame, in one of five
// pixel formats, decoded straight into the screen buffer (208 × 320 pixels
// 0x00RRGGBB, rows bottom-up: screen line y is buffer row 319 - y).
//
//   offset 0  width  (2, must be 208)
//          2  height (2, must be 320)
//          4  mode   (1, bits 0-4: pixel format)
//          5  line records: line index (2), then one line of pixels;
//             an index of 320 or more ends the list
//          …  flip byte (1 = closed; optional), frame value (4; optional)
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "link/Protocol.h"

namespace velarix {

// The closed flip covers the bottom 112 lines of the screen.
inline constexpr int kFlipTopLine = kScreenHeight - 112;

enum class RecordStatus {
    Decoded,
    TooShort,   // fewer than the 5 header bytes
    WrongSize,  // not 208 × 320
};

struct RecordDecode {
    RecordStatus status = RecordStatus::Decoded;
    // Band of the line indices met; empty while minLine > maxLine.
    int minLine = kScreenHeight;
    int maxLine = 0;
    std::optional<bool> flipClosed;           // when the record carries a flip byte
    std::optional<std::uint32_t> frameValue;  // when it carries a frame value
};

RecordStatus CheckRecordHeader(Bytes record);

// Decodes every complete line record of `record` into `screen`, which holds at
// least 208 × 320 pixels. A line record is read only while 104 more bytes
// remain (half a line in any format), so the 5-byte tail after the last line
// is never taken for one; a line whose pixels run past the record ends the
// list. Pixels are never read or written outside the two blocks.
RecordDecode DecodeRecordLines(Bytes record, std::span<std::uint32_t> screen);

// Draws the closed-flip picture over screen lines 208 to 319.
void DrawClosedFlip(std::span<std::uint32_t> screen);

}  // namespace velarix
