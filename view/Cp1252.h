// The phone's 8-bit text as the 8-bit clipboard of a Western Windows PC
// holds it: Windows-1252. Bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the control characters of the same number, as
// Windows converts them, so every byte survives the round trip.
#pragma once

#include <string>
#include <string_view>

namespace velarix {

// Each byte as one UTF-16 character.
std::u16string Cp1252ToUtf16(std::string_view text);
// Each character as one byte; a character Windows-1252 cannot hold (a
// surrogate pair counts as one) becomes '?'.
std::string Utf16ToCp1252(std::u16string_view text);

}  // namespace velarix
