// PC-to-phone messages, built by pure functions from values to bytes. The
// phone reads them without a length prefix: the type byte fixes the size,
// except for the two text messages, which carry a 16-bit text length.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "link/Protocol.h"

namespace velarix {

enum class KeyAction : std::uint8_t { Release = 0, Press = 1, Click = 2 };
enum class PointerAction : std::uint8_t { Drag = 0, Down = 1, Up = 2 };

// Phone key codes the PC sends.
namespace phonekey {
inline constexpr std::uint32_t kClear = 1;  // 'C'
inline constexpr std::uint32_t kLeft = 14;
inline constexpr std::uint32_t kRight = 15;
inline constexpr std::uint32_t kUp = 16;
inline constexpr std::uint32_t kDown = 17;
inline constexpr std::uint32_t kAbc = 18;
inline constexpr std::uint32_t kStar = 42;
inline constexpr std::uint32_t kDigit0 = 48;  // '0' .. '9' are 48 .. 57
inline constexpr std::uint32_t kHash = 127;
inline constexpr std::uint32_t kPageUp = 165;    // also the wheel forward
inline constexpr std::uint32_t kPageDown = 166;  // also the wheel back and 'On/Off'
inline constexpr std::uint32_t kOnOff = 166;
inline constexpr std::uint32_t kF1 = 172;  // also the middle button
inline constexpr std::uint32_t kF3 = 177;
inline constexpr std::uint32_t kF2 = 178;
inline constexpr std::uint32_t kTaskList = 180;  // F4
inline constexpr std::uint32_t kF5 = 181;
}  // namespace phonekey

// The six streaming options as the view keeps them.
struct PhoneOptions {
    int compression = 1;  // 1..5
    int interlaced = 2;   // 0 off, 1 on, 2 auto
    int colorMode = 0;    // 0 4096, 1 256, 2 16 greys, 3 65536, 4 4 greys, 126 JPEG
    int jpegQuality = 50;
    int priority = 2;
    int timerDiv = 2;
    bool operator==(const PhoneOptions&) const = default;
};

inline constexpr int kColorMode4096 = 0;
inline constexpr int kColorMode256 = 1;
inline constexpr int kColorMode16Grey = 2;
inline constexpr int kColorMode64K = 3;
inline constexpr int kColorMode4Grey = 4;
inline constexpr int kColorModeJpeg = 126;

// The 16-bit text length caps what one text message can carry; longer texts
// are cut so the stream stays in step.
inline constexpr std::size_t kMaxTextLength = 65535;

std::array<std::uint8_t, 16> EncodeHello();
std::array<std::uint8_t, 1> EncodeSyncAck();
std::array<std::uint8_t, 1> EncodePingReply();
std::array<std::uint8_t, 1> EncodeGetPhoneClipboard();
std::array<std::uint8_t, 1> EncodeBye();
std::array<std::uint8_t, 6> EncodeKey(std::uint32_t code, KeyAction action);
std::array<std::uint8_t, 14> EncodeChar(std::uint16_t code);
std::array<std::uint8_t, 8> EncodeOptions(const PhoneOptions& options);
std::array<std::uint8_t, 6> EncodePointer(PointerAction action, std::uint16_t x, std::uint16_t y);
// `type` is TypeText or SetPhoneClipboard; `text` is 8-bit phone text.
std::vector<std::uint8_t> EncodeText(PcMsg type, std::string_view text);

}  // namespace velarix
