// Byte-level helpers and constants of the link protocol as the phone server sees it.
//
// Every phone-to-PC message is length-prefixed (4 bytes, big-endian, the prefix included)
// followed by a type byte; PC-to-phone messages carry no prefix and are self-delimiting by
// their first byte. All multi-byte integers are big-endian, except the 16-bit pixels of the
// 65536-colour format, which are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace phonesim {

using Bytes = std::vector<std::uint8_t>;

constexpr int kScreenWidth = 208;
constexpr int kScreenHeight = 320;
// The flip keypad covers the screen from this line down when it is closed.
constexpr int kFlipTopLine = 208;

// The viewer treats a longer message as a framing error, so nothing longer is ever sent.
constexpr std::size_t kMaxMessageLength = 256000;

// Phone-to-PC message types.
enum PhoneType : std::uint8_t {
    kFrameRaw = 0,
    kFrameZlib = 1,
    kFrameJpeg = 2,
    kPing = 7,
    kClipboardText = 10,
    kStatusValue = 128,
    kStatusWord = 129,
    kPhoneEvent = 130,
    kPhoneBye = 255,
};

inline void PutBe16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

inline void PutBe32(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

inline std::uint16_t GetBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline std::uint32_t GetBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

}  // namespace phonesim
