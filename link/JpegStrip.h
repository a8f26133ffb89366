// JPEG strips of the screen: a 6-byte header (top line, frame value) and a
// JPEG image 208 pixels wide, decoded through FreeImage from memory.
//
// Network bytes never reach FreeImage unchecked: the strip's own frame header
// must describe an 8-bit, 1- or 3-component image that is 208 wide and fits
// the screen below its top line, and the metadata segments (APP1-APP15, COM),
// which FreeImage would hand to its Exif/XMP/IPTC/ICC parsers, are left out of
// what it reads. A screen strip needs none of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/Protocol.h"

namespace velarix {

struct JpegFrameHeader {
    int precision = 0;
    int height = 0;
    int width = 0;
    int components = 0;
};

// Reads the segments up to the first scan. Returns the frame header of a
// baseline, extended or progressive JPEG, or nothing for anything else
// (truncated segments, a scan before the frame header, lossless, arithmetic
// or hierarchical coding). When `clean` is given, it receives the JPEG with
// the metadata segments removed.
std::optional<JpegFrameHeader> ParseJpegFrameHeader(Bytes jpeg,
                                                    std::vector<std::uint8_t>* clean = nullptr);

enum class StripResult {
    Decoded,
    TooShort,      // fewer than the 6 header bytes
    BadHeader,     // not a JPEG we accept: see ParseJpegFrameHeader
    DoesNotFit,    // not 208 wide, empty, or top + height beyond line 320
    DecodeFailed,  // FreeImage could not decode it
};

struct StripDecode {
    StripResult result = StripResult::TooShort;
    int top = 0;
    int width = 0;
    int height = 0;
    std::optional<std::uint32_t> frameValue;  // present once the header was there
};

// Decodes the strip `payload` (the message after its type byte) into `screen`
// (208 × 320 pixels 0x00RRGGBB, rows bottom-up), upright on screen lines
// top .. top + height - 1. Anything but Decoded changes no pixel.
StripDecode DecodeJpegStrip(Bytes payload, std::span<std::uint32_t> screen);

}  // namespace velarix
