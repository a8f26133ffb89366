// JPEG strips of the screen: a 6-byte header (top line, frame value) and a
// JPEG image 208 pixels wide, decoded through FreeImage from memory.
//
// Network bytes never reach FreeImage unchecked: the strip's own frame header
// must describe an 8-bit, 1- or 3-component image that is 208 wide and fits
// the screen below its top line, and the metadata segments (APPn, COM), which
// FreeImage would hand to its Exif/XMP/IPTC/ICC/thumbnail parsers, are left out
// of what it reads, wherever they are: before the first scan or between scans.
// A screen strip needs none of them; only a plain JFIF header is kept, since
// libjpeg takes the colour layout from it. A strip may have at most
// kMaxJpegScans scans, whose bands together cover each coefficient of the
// image at most three times (libjpeg's progressive script covers it just
// under three times): every scan costs the decoder a pass over the image, and a
// strip that asks for more is not decoded at all, since a progressive image
// stopped short would paint a blurred, wrong picture.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/Protocol.h"

namespace velarix {

// A progressive strip has about ten scans; even one per component and
// coefficient band stays below this.
inline constexpr int kMaxJpegScans = 32;

struct JpegFrameHeader {
    int precision = 0;
    int height = 0;
    int width = 0;
    int components = 0;
};

// Walks the whole JPEG, stepping over the entropy-coded data of each scan.
// Returns the frame header of a baseline, extended or progressive JPEG, or
// nothing for anything else (truncated segments before the first scan, a scan
// before the frame header, a second frame header, bytes between segments,
// more scans than allowed (see above), lossless, arithmetic or hierarchical coding).
// When `clean` is given, it receives the JPEG with the metadata segments and
// whatever follows the end-of-image marker removed.
std::optional<JpegFrameHeader> ParseJpegFrameHeader(Bytes jpeg,
                                                    std::vector<std::uint8_t>* clean = nullptr);

// FreeImage reads a strip through this cursor over a block of memory.
struct MemoryCursor {
    const std::uint8_t* start;
    const std::uint8_t* current;
    const std::uint8_t* end;
};

// Moves the cursor as fseek would (SEEK_SET, SEEK_CUR, SEEK_END) and returns
// 0, or returns -1 and leaves it where it was when the position would fall
// outside the block or the origin is unknown.
int SeekMemory(MemoryCursor& cursor, long offset, int origin);

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
