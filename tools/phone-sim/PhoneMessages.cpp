#include "PhoneMessages.h"

#include <algorithm>

namespace phonesim {

Bytes SyncPattern() {
    return {0x00, 0x00, 0x00, 0x0A, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
}

Bytes PhoneMessage(std::uint8_t type, std::span<const std::uint8_t> payload) {
    Bytes out;
    out.reserve(5 + payload.size());
    PutBe32(out, static_cast<std::uint32_t>(5 + payload.size()));
    out.push_back(type);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes PingMessage() {
    return PhoneMessage(kPing, {});
}

Bytes ClipboardTextMessage(std::string_view text) {
    const std::size_t n = std::min<std::size_t>(text.size(), 0xFFFF);
    Bytes payload;
    payload.reserve(2 + n);
    PutBe16(payload, static_cast<std::uint16_t>(n));
    payload.insert(payload.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    return PhoneMessage(kClipboardText, payload);
}

Bytes StatusValueMessage(std::uint32_t value) {
    Bytes payload;
    PutBe32(payload, value);
    return PhoneMessage(kStatusValue, payload);
}

Bytes StatusWordMessage(std::uint32_t word) {
    Bytes payload;
    PutBe32(payload, word);
    return PhoneMessage(kStatusWord, payload);
}

Bytes PhoneEventMessage(std::uint8_t code) {
    const std::uint8_t payload[] = {code};
    return PhoneMessage(kPhoneEvent, payload);
}

Bytes ByeMessage(bool withPayload) {
    if (!withPayload) return PhoneMessage(kPhoneBye, {});
    const std::uint8_t payload[] = {0};
    return PhoneMessage(kPhoneBye, payload);
}

Bytes GarbageMessage() {
    return {0x7F, 0xFF, 0xFF, 0xFF, 0x00};
}

}  // namespace phonesim
