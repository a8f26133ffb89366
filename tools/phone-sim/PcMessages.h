// Parser for the byte stream the viewer sends to the phone.
//
// PC-to-phone messages have no length prefix: the first byte names the message and fixes its
// size (TypeText and SetPhoneClipboard add a 16-bit text length). The parser never sees a
// socket: Feed() appends received bytes, Next() cuts at most one message off the front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "Wire.h"

namespace phonesim {

enum class PcType : std::uint8_t {
    kHello = 0x55,
    kSyncAck = 0x01,
    kKeyEvent = 0x02,
    kCharEvent = 0x03,
    kOptions = 0x04,
    kPointerEvent = 0x06,
    kPingReply = 0x07,
    kTypeText = 0x08,
    kSetPhoneClipboard = 0x09,
    kGetPhoneClipboard = 0x0A,
    kBye = 0xFF,
};

// The seven option bytes, in wire order.
struct StreamOptions {
    std::uint8_t level = 1;  // zlib level the phone should use, 1..9
    std::uint8_t interlace = 0;
    std::uint8_t interlaceAuto = 0;
    std::uint8_t colour = 0;
    std::uint8_t quality = 50;
    std::uint8_t priority = 2;
    std::uint8_t timerDiv = 2;  // the screen is checked 40 / timerDiv times per second
};

struct PcMessage {
    PcType type = PcType::kHello;
    std::uint8_t action = 0;      // KeyEvent, PointerEvent
    std::uint32_t key = 0;        // KeyEvent
    std::uint16_t charCode = 0;   // CharEvent
    bool charLayoutUsual = true;  // CharEvent: the fixed fields hold what the viewer sends
    StreamOptions options;        // Options
    std::uint16_t x = 0, y = 0;   // PointerEvent
    std::string text;             // TypeText, SetPhoneClipboard
};

enum class ParseResult {
    kMessage,   // one message was cut off and stored
    kNeedMore,  // the buffered bytes end inside a message
    kError,     // the stream is out of step; nothing more can be parsed
};

class PcParser {
public:
    void Feed(std::span<const std::uint8_t> bytes);
    // Cuts one message off the front. On kError, *error says why and the parser stays stuck.
    ParseResult Next(PcMessage& out, std::string* error);
    std::size_t Buffered() const { return buffer_.size() - pos_; }

private:
    Bytes buffer_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

// One readable log line (without the "<- " prefix), e.g. "KeyEvent press 180".
std::string Describe(const PcMessage& message);

}  // namespace phonesim
