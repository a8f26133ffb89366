// Builders for the phone-to-PC messages other than frames: pure functions from values to the
// bytes that go on the wire, length prefix included.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "Wire.h"

namespace phonesim {

// 00 00 00 0A 55 55 55 55 55 55: the viewer drops everything before it and then answers
// with Options and SyncAck.
Bytes SyncPattern();

// Length prefix, type byte and payload.
Bytes PhoneMessage(std::uint8_t type, std::span<const std::uint8_t> payload);

Bytes PingMessage();
// The text is cut to 65535 bytes, the most its 16-bit length can carry.
Bytes ClipboardTextMessage(std::string_view text);
Bytes StatusValueMessage(std::uint32_t value);
Bytes StatusWordMessage(std::uint32_t word);
// Event codes: 0 incoming call, 1 incoming SMS.
Bytes PhoneEventMessage(std::uint8_t code);
// Without payload the viewer closes the connection; with a payload it only drops the sync
// and searches for the pattern again.
Bytes ByeMessage(bool withPayload);
// A length prefix of 0x7FFFFFFF and a type byte: the viewer rejects the length as a framing
// error and searches for the sync pattern again.
Bytes GarbageMessage();

}  // namespace phonesim
