// Text forms of what the program remembers about a video compressor: its
// opaque state blob as hex, and the label that names the compressor in the
// settings (the key under which its state is kept).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velarix {

// Every byte as two upper-case hex digits, no separators: {0x00, 0x7F} -> "007F".
std::string BytesToHex(std::span<const std::uint8_t> bytes);

// The reverse, read two characters at a time, one byte per pair. It never
// fails, because saved state comes from a file the user may have edited and a
// bad blob must not stop the program:
//  - a trailing odd character is ignored;
//  - a pair whose first character is not a hex digit gives 0 (no whitespace,
//    sign or "0x" prefix is honoured);
//  - a pair whose first character is a hex digit and second is not gives the
//    value of the first digit alone, as strtoul would stop there ("4G" -> 0x04);
//  - upper- and lower-case digits are both accepted.
// Empty text gives an empty vector, which means "no state saved".
std::vector<std::uint8_t> HexToBytes(std::string_view text);

// "<four characters>-<version in lower-case hex>": the handler code's four
// bytes, lowest byte first, then the version without leading zeros. The
// little-endian code 0x4356534D with version 0x10000 gives "MSVC-10000".
//
// The label is used as a settings key, so every byte outside printable ASCII
// (0x20..0x7E) - a zero byte in particular - is written as '?'. Printing such
// a byte raw would put a NUL or a non-UTF-8 byte into a key, which cuts a
// registry value name short or makes it unconvertible; every real handler
// code is printable, so its label is unaffected.
std::string CodecLabel(std::uint32_t handlerFourcc, std::uint32_t version);

}  // namespace velarix
