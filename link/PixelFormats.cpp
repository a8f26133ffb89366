#include "link/PixelFormats.h"

#include <array>
#include <cstring>

#include "link/Protocol.h"

namespace velarix {

namespace {

constexpr std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return (r << 16) | (g << 8) | b;
}
constexpr std::uint32_t Grey(std::uint32_t v) {
    return Rgb(v, v, v);
}

// Every table maps one source byte to all the pixels (or pixel parts) it holds.
constexpr auto kGrey4 = [] {
    std::array<std::array<std::uint32_t, 4>, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned i = 0; i < 4; ++i) t[b][i] = Grey(((b >> (2 * i)) & 3u) * 0x55u);
    return t;
}();

constexpr auto kGrey16 = [] {
    std::array<std::array<std::uint32_t, 2>, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        t[b][0] = Grey((b & 15u) * 0x11u);
        t[b][1] = Grey((b >> 4) * 0x11u);
    }
    return t;
}();

constexpr auto kColor256 = [] {
    std::array<std::uint32_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        t[b] = Rgb(kSteps4[b >> 6], kSteps8[(b >> 3) & 7u], kSteps8[b & 7u]);
    return t;
}();

// 65536 colours: one entry per 16-bit value (256 KiB), so a pixel costs one
// lookup; a channel at full scale becomes 255.
constexpr std::uint32_t Expand5(unsigned c) {
    return c == 31 ? 255u : c * 8u;
}
constexpr std::uint32_t Expand6(unsigned c) {
    return c == 63 ? 255u : c * 4u;
}
constexpr auto k64K = [] {
    std::array<std::uint32_t, 65536> t{};
    for (unsigned v = 0; v < 65536; ++v)
        t[v] = Rgb(Expand5(v >> 11), Expand6((v >> 5) & 63u), Expand5(v & 31u));
    return t;
}();

// 4096 colours: b0 and b1 give blue and green of the first and second pixel;
// b2 gives red, high nibble to the first pixel and low nibble to the second.
constexpr auto k4096BlueGreen = [] {
    std::array<std::uint32_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) t[b] = Rgb(0, kSteps16[b >> 4], kSteps16[b & 15u]);
    return t;
}();
constexpr auto k4096RedHigh = [] {
    std::array<std::uint32_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) t[b] = Rgb(kSteps16[b >> 4], 0, 0);
    return t;
}();
constexpr auto k4096RedLow = [] {
    std::array<std::uint32_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) t[b] = Rgb(kSteps16[b & 15u], 0, 0);
    return t;
}();

constexpr int kW = kScreenWidth;

void DecodeGrey4(const std::uint8_t* src, std::uint32_t* dst) {
#pragma GCC unroll 4
    for (int i = 0; i < kW / 4; ++i, dst += 4) std::memcpy(dst, kGrey4[src[i]].data(), 16);
}

void DecodeGrey16(const std::uint8_t* src, std::uint32_t* dst) {
#pragma GCC unroll 8
    for (int i = 0; i < kW / 2; ++i, dst += 2) std::memcpy(dst, kGrey16[src[i]].data(), 8);
}

void DecodeColor256(const std::uint8_t* src, std::uint32_t* dst) {
#pragma GCC unroll 8
    for (int i = 0; i < kW; ++i) dst[i] = kColor256[src[i]];
}

void DecodeColor64K(const std::uint8_t* src, std::uint32_t* dst) {
#pragma GCC unroll 8
    for (int i = 0; i < kW; ++i)
        dst[i] = k64K[unsigned(src[2 * i]) | unsigned(src[2 * i + 1]) << 8];
}

void DecodeColor4096(const std::uint8_t* src, std::uint32_t* dst) {
#pragma GCC unroll 4
    for (int i = 0; i < kW / 2; ++i, src += 3, dst += 2) {
        dst[0] = k4096BlueGreen[src[0]] | k4096RedHigh[src[2]];
        dst[1] = k4096BlueGreen[src[1]] | k4096RedLow[src[2]];
    }
}

constexpr PixelFormat kFormat4096 = {0, kW * 3 / 2, DecodeColor4096};
constexpr PixelFormat kFormats[] = {
    kFormat4096,
    {1, kW, DecodeColor256},
    {2, kW / 2, DecodeGrey16},
    {3, kW * 2, DecodeColor64K},
    {4, kW / 4, DecodeGrey4},
};

}  // namespace

const PixelFormat& PixelFormatForMode(std::uint8_t mode) {
    const unsigned code = mode & 0x1Fu;
    return code < std::size(kFormats) ? kFormats[code] : kFormats[0];
}

}  // namespace velarix
