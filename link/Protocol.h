// Wire constants of the link between the viewer and the phone server, and the
// big-endian helpers every reader of the stream uses.
//
// Phone to PC: every message is `length` (4 bytes, the whole message), `type`
// (1 byte), payload. PC to phone: no length prefix; the type byte fixes the size.
// All multi-byte integers are big-endian, except the 16-bit pixels of the
// 65536-colour frame format, which are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velarix {

using Bytes = std::span<const std::uint8_t>;

inline constexpr int kScreenWidth = 208;
inline constexpr int kScreenHeight = 320;
inline constexpr std::size_t kScreenPixels = std::size_t{kScreenWidth} * kScreenHeight;

// The phone drops the link on a length above this; so do we.
inline constexpr std::uint32_t kMaxMessageLength = 256000;
// A message needs room for its length and its type byte.
inline constexpr std::uint32_t kMinMessageLength = 5;
// Output capacity for one inflated frame record.
inline constexpr std::size_t kInflateCapacity = 276480;
// Below this many unmatched bytes the sync search keeps everything.
inline constexpr std::size_t kSyncKeepLimit = 1024;

// The stream starts with this: a message of length 10, type 0x55, five 0x55 bytes.
inline constexpr std::array<std::uint8_t, 10> kSyncPattern = {0x00, 0x00, 0x00, 0x0A, 0x55,
                                                              0x55, 0x55, 0x55, 0x55, 0x55};

// Message types, phone to PC.
enum class PhoneMsg : std::uint8_t {
    FrameRaw = 0,
    FrameZlib = 1,
    FrameJpeg = 2,
    Ping = 7,
    ClipboardText = 10,
    StatusValue = 128,
    StatusWord = 129,
    PhoneEvent = 130,
    Reserved131 = 131,
    SyncPattern = 0x55,
    Bye = 255,
};

// Message types, PC to phone.
enum class PcMsg : std::uint8_t {
    SyncAck = 0x01,
    KeyEvent = 0x02,
    CharEvent = 0x03,
    Options = 0x04,
    PointerEvent = 0x06,
    PingReply = 0x07,
    TypeText = 0x08,
    SetPhoneClipboard = 0x09,
    GetPhoneClipboard = 0x0A,
    Hello = 0x55,
    Bye = 0xFF,
};

// Bit of the phone's status word: it can send 65536-colour frames.
inline constexpr std::uint32_t kStatusCan64K = 0x20;

// Phone event codes.
inline constexpr std::uint8_t kEventIncomingCall = 0;
inline constexpr std::uint8_t kEventIncomingSms = 1;

inline constexpr std::uint16_t ReadBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline constexpr std::uint32_t ReadBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

inline constexpr void WriteBe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

inline constexpr void WriteBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace velarix
