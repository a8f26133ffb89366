// Builds the frame messages the phone sends: frame records of changed lines (FrameRaw,
// FrameZlib) and JPEG strips (FrameJpeg).
//
// A frame record is: width (BE16 208), height (BE16 320), mode byte (the pixel format code),
// the line records (BE16 line index, then the line's pixel bytes), the flip byte (1 = closed,
// 0 = open) and the BE32 frame value. There is no terminating line index: the viewer stops
// looking for line records once fewer than 104 bytes are left and reads the flip byte there,
// so a terminator would itself be taken for the flip byte. For the same reason a line record
// only counts while at least 104 bytes remain from its start; with 4 greys (54-byte line
// records) the last one would be skipped, so the record is padded after the frame value to
// keep that last line inside the 104-byte window.
//
// No message is ever longer than kMaxMessageLength: changed lines are spread over several
// records (and bands over several strips) when one would be too long.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Framebuffer.h"
#include "PixelEncoder.h"
#include "Wire.h"

namespace phonesim {

// One changed line: its index and BytesPerLine(mode) encoded bytes (borrowed).
struct LineUpdate {
    std::uint16_t index = 0;
    const std::uint8_t* bytes = nullptr;
};

struct FrameMessage {
    Bytes bytes;  // the whole message, length prefix included
    std::uint32_t frameValue = 0;
    std::string summary;  // for the log, e.g. "FrameZlib 4096 colours, 12 lines, 3456 bytes"
};

struct RecordSettings {
    ColourMode mode = ColourMode::k4096;  // a record format, not kJpeg
    bool compress = true;                 // FrameZlib, else FrameRaw
    int level = 6;                        // zlib level
    bool flipClosed = false;
};

// The frame record payload (before compression) for these lines.
Bytes BuildFrameRecord(ColourMode mode, std::span<const LineUpdate> lines, bool flipClosed,
                       std::uint32_t frameValue);

// Frame messages for the lines, in order; each takes the next value of *frameCounter.
std::vector<FrameMessage> EncodeRecords(const RecordSettings& settings,
                                        std::span<const LineUpdate> lines,
                                        std::uint32_t* frameCounter);

// JPEG strips through FreeImage; owns the library's initialisation.
class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // The screen lines top..top+height-1 as a baseline JPEG 208 pixels wide.
    std::optional<Bytes> Encode(const Framebuffer& fb, int top, int height, int quality) const;
};

// FrameJpeg messages covering screen lines top..bottom (inclusive); each takes the next value
// of *frameCounter. Empty if the encoder fails.
std::vector<FrameMessage> EncodeJpegStrips(const JpegEncoder& encoder, const Framebuffer& fb,
                                           int top, int bottom, int quality,
                                           std::uint32_t* frameCounter);

}  // namespace phonesim
