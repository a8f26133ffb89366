#include "capture/CompressorState.h"

#include <cstddef>

namespace velarix {
namespace {

constexpr std::string_view kUpperDigits = "0123456789ABCDEF";
constexpr std::string_view kLowerDigits = "0123456789abcdef";

// The value of one hex digit, or -1.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string BytesToHex(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text.push_back(kUpperDigits[byte >> 4]);
        text.push_back(kUpperDigits[byte & 0x0F]);
    }
    return text;
}

std::vector<std::uint8_t> HexToBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        int value = 0;
        if (high >= 0) value = low >= 0 ? high * 16 + low : high;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::string CodecLabel(std::uint32_t handlerFourcc, std::uint32_t version) {
    std::string label;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto byte = static_cast<std::uint8_t>(handlerFourcc >> shift);
        label.push_back(byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '?');
    }
    label.push_back('-');
    // Lower-case hex without leading zeros; zero itself is "0".
    char digits[8];
    std::size_t count = 0;
    do {
        digits[count++] = kLowerDigits[version & 0x0F];
        version >>= 4;
    } while (version != 0);
    while (count > 0) label.push_back(digits[--count]);
    return label;
}

}  // namespace velarix
