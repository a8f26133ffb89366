// Builds what a phone server would send: framed messages, frame records,
// compressed records and JPEG strips. Written from the wire layout, apart
// from the code under test.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "link/Protocol.h"

namespace velarix::test {

using ByteVec = std::vector<std::uint8_t>;

ByteVec Concat(std::initializer_list<ByteVec> parts);
// `unit` `times` times over.
ByteVec RepeatBytes(const ByteVec& unit, std::size_t times);
ByteVec SyncBytes();
// A phone-to-PC message: 4-byte length (whole message), type, payload.
ByteVec Message(std::uint8_t type, const ByteVec& payload = {});
ByteVec Be32(std::uint32_t v);

struct LineRecord {
    int line;
    ByteVec pixels;
};

// Bytes per 208-pixel line for a pixel format code.
std::size_t LineBytes(int code);

// width/height default to the screen; flip and frame value are optional tail bytes.
ByteVec FrameRecord(std::uint8_t mode, const std::vector<LineRecord>& lines,
                    std::optional<std::uint8_t> flip = std::nullopt,
                    std::optional<std::uint32_t> frameValue = std::nullopt, int width = 208,
                    int height = 320);
ByteVec Deflate(const ByteVec& data, int level = 6);
// A frame record that fills the link's whole inflate buffer with line records
// (the first two the top and the bottom line, so its band is the full
// screen), compressed at level 9: a few hundred bytes on the wire.
ByteVec ZlibBombPayload(int mode);

// A JPEG of `pixels` (0x00RRGGBB, top row first) encoded by FreeImage;
// `extraFlags` adds FreeImage save flags such as JPEG_PROGRESSIVE.
ByteVec EncodeJpeg(const std::vector<std::uint32_t>& pixels, int width, int height,
                   int quality = 90, bool greyscale = false, int extraFlags = 0);
ByteVec JpegPayload(int top, std::uint32_t frameValue, const ByteVec& jpeg);
// A progressive JPEG of the full screen whose smallest scan is repeated until
// the JPEG is about `bytes` long: every copy makes a decoder go over the
// whole picture again.
ByteVec JpegScanBomb(std::size_t bytes);

// Deterministic pseudo-random bytes.
ByteVec RandomBytes(std::size_t n, std::uint32_t seed);

}  // namespace velarix::test
