#include "link/PhoneMessages.h"

#include <algorithm>

namespace velarix {

namespace {

constexpr std::uint8_t Byte(PcMsg type) {
    return static_cast<std::uint8_t>(type);
}

// Option values travel as single bytes; the phone sees their low eight bits.
constexpr std::uint8_t Low8(int value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

std::array<std::uint8_t, 16> EncodeHello() {
    std::array<std::uint8_t, 16> out{};
    out.fill(Byte(PcMsg::Hello));
    return out;
}

std::array<std::uint8_t, 1> EncodeSyncAck() {
    return {Byte(PcMsg::SyncAck)};
}
std::array<std::uint8_t, 1> EncodePingReply() {
    return {Byte(PcMsg::PingReply)};
}
std::array<std::uint8_t, 1> EncodeGetPhoneClipboard() {
    return {Byte(PcMsg::GetPhoneClipboard)};
}
std::array<std::uint8_t, 1> EncodeBye() {
    return {Byte(PcMsg::Bye)};
}

std::array<std::uint8_t, 6> EncodeKey(std::uint32_t code, KeyAction action) {
    std::array<std::uint8_t, 6> out{Byte(PcMsg::KeyEvent), static_cast<std::uint8_t>(action)};
    WriteBe32(&out[2], code);
    return out;
}

std::array<std::uint8_t, 14> EncodeChar(std::uint16_t code) {
    std::array<std::uint8_t, 14> out{};
    out[0] = Byte(PcMsg::CharEvent);
    WriteBe32(&out[3], 0x00000400);
    out[7] = 3;
    WriteBe16(&out[8], code);
    return out;
}

std::array<std::uint8_t, 8> EncodeOptions(const PhoneOptions& o) {
    return {Byte(PcMsg::Options),
            Low8(2 * o.compression - 1),
            static_cast<std::uint8_t>(o.interlaced == 1 || o.interlaced == 2 ? 1 : 0),
            static_cast<std::uint8_t>(o.interlaced == 2 ? 1 : 0),
            Low8(o.colorMode),
            Low8(o.jpegQuality),
            Low8(o.priority),
            Low8(o.timerDiv)};
}

std::array<std::uint8_t, 6> EncodePointer(PointerAction action, std::uint16_t x, std::uint16_t y) {
    std::array<std::uint8_t, 6> out{Byte(PcMsg::PointerEvent), static_cast<std::uint8_t>(action)};
    WriteBe16(&out[2], x);
    WriteBe16(&out[4], y);
    return out;
}

std::vector<std::uint8_t> EncodeText(PcMsg type, std::string_view text) {
    const std::size_t n = std::min(text.size(), kMaxTextLength);
    std::vector<std::uint8_t> out(3 + n);
    out[0] = Byte(type);
    WriteBe16(&out[1], static_cast<std::uint16_t>(n));
    std::copy_n(reinterpret_cast<const std::uint8_t*>(text.data()), n, out.begin() + 3);
    return out;
}

}  // namespace velarix
