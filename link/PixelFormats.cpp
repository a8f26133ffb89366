#include "link/PixelFormats.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__) || defined(__i386__)
// SSSE3 versions: the channel tables are at most 16 entries, so one byte
// shuffle looks up 16 of them at once. Chosen per line when the processor
// has SSSE3; every x86-64 processor of the last fifteen years does.
#define VELARIX_SSSE3 __attribute__((target("ssse3")))

VELARIX_SSSE3 __m128i Table16(const std::uint8_t* steps, int count) {
    alignas(16) std::uint8_t t[16] = {};
    std::memcpy(t, steps, static_cast<std::size_t>(count));
    return _mm_load_si128(reinterpret_cast<const __m128i*>(t));
}

VELARIX_SSSE3 void Store(std::uint32_t* dst, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}

// Sixteen grey bytes in pixel order become sixteen pixels 0x00GGGGGG.
VELARIX_SSSE3 void StoreGreys(std::uint32_t* dst, __m128i g) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i gg0 = _mm_unpacklo_epi8(g, g), gg1 = _mm_unpackhi_epi8(g, g);
    const __m128i g00 = _mm_unpacklo_epi8(g, zero), g01 = _mm_unpackhi_epi8(g, zero);
    Store(dst, _mm_unpacklo_epi16(gg0, g00));
    Store(dst + 4, _mm_unpackhi_epi16(gg0, g00));
    Store(dst + 8, _mm_unpacklo_epi16(gg1, g01));
    Store(dst + 12, _mm_unpackhi_epi16(gg1, g01));
}

VELARIX_SSSE3 void DecodeColor4096Ssse3(const std::uint8_t* src, std::uint32_t* dst) {
    const __m128i steps = Table16(kSteps16, 16);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    // Four pixels from two 3-byte groups: blue from the low nibble of b0/b1,
    // green from their high nibble, red from b2's high (first) or low
    // (second) nibble; the fourth byte stays 0 (step 0).
    const __m128i loA = _mm_setr_epi8(0, -1, -1, -1, 1, -1, 2, -1, 3, -1, -1, -1, 4, -1, 5, -1);
    const __m128i hiA = _mm_setr_epi8(-1, 0, 2, -1, -1, 1, -1, -1, -1, 3, 5, -1, -1, 4, -1, -1);
    const __m128i loB = _mm_setr_epi8(6, -1, -1, -1, 7, -1, 8, -1, 9, -1, -1, -1, 10, -1, 11, -1);
    const __m128i hiB = _mm_setr_epi8(-1, 6, 8, -1, -1, 7, -1, -1, -1, 9, 11, -1, -1, 10, -1, -1);
    auto eight = [&](__m128i v, std::uint32_t* out) VELARIX_SSSE3 {
        const __m128i a =
            _mm_or_si128(_mm_and_si128(_mm_shuffle_epi8(v, loA), nibble),
                         _mm_and_si128(_mm_srli_epi16(_mm_shuffle_epi8(v, hiA), 4), nibble));
        const __m128i b =
            _mm_or_si128(_mm_and_si128(_mm_shuffle_epi8(v, loB), nibble),
                         _mm_and_si128(_mm_srli_epi16(_mm_shuffle_epi8(v, hiB), 4), nibble));
        Store(out, _mm_shuffle_epi8(steps, a));
        Store(out + 4, _mm_shuffle_epi8(steps, b));
    };
    // 12 bytes make 8 pixels; a 16-byte load may not run past the line, so
    // the last group of 12 is copied first.
    constexpr int kGroups = kW / 8;
    for (int i = 0; i < kGroups - 1; ++i)
        eight(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12 * i)), dst + 8 * i);
    alignas(16) std::uint8_t last[16] = {};
    std::memcpy(last, src + 12 * (kGroups - 1), 12);
    eight(_mm_load_si128(reinterpret_cast<const __m128i*>(last)), dst + 8 * (kGroups - 1));
}

VELARIX_SSSE3 void DecodeColor256Ssse3(const std::uint8_t* src, std::uint32_t* dst) {
    const __m128i steps8 = Table16(kSteps8, 8);
    const __m128i steps4 = Table16(kSteps4, 4);
    const __m128i three = _mm_set1_epi8(3), seven = _mm_set1_epi8(7);
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < kW / 16; ++i, src += 16, dst += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_shuffle_epi8(steps8, _mm_and_si128(v, seven));
        const __m128i g = _mm_shuffle_epi8(steps8, _mm_and_si128(_mm_srli_epi16(v, 3), seven));
        const __m128i r = _mm_shuffle_epi8(steps4, _mm_and_si128(_mm_srli_epi16(v, 6), three));
        const __m128i bg0 = _mm_unpacklo_epi8(b, g), bg1 = _mm_unpackhi_epi8(b, g);
        const __m128i r00 = _mm_unpacklo_epi8(r, zero), r01 = _mm_unpackhi_epi8(r, zero);
        Store(dst, _mm_unpacklo_epi16(bg0, r00));
        Store(dst + 4, _mm_unpackhi_epi16(bg0, r00));
        Store(dst + 8, _mm_unpacklo_epi16(bg1, r01));
        Store(dst + 12, _mm_unpackhi_epi16(bg1, r01));
    }
}

VELARIX_SSSE3 void DecodeGrey16Ssse3(const std::uint8_t* src, std::uint32_t* dst) {
    alignas(16) static constexpr std::uint8_t kGreys[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
                                                            0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB,
                                                            0xCC, 0xDD, 0xEE, 0xFF};
    const __m128i greys = _mm_load_si128(reinterpret_cast<const __m128i*>(kGreys));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    // 16 bytes hold 32 pixels: the low nibble first.
    int i = 0;
    for (; i + 16 <= kW / 2; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i lo = _mm_shuffle_epi8(greys, _mm_and_si128(v, nibble));
        const __m128i hi = _mm_shuffle_epi8(greys, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
        StoreGreys(dst + 2 * i, _mm_unpacklo_epi8(lo, hi));
        StoreGreys(dst + 2 * i + 16, _mm_unpackhi_epi8(lo, hi));
    }
    for (; i < kW / 2; ++i) std::memcpy(dst + 2 * i, kGrey16[src[i]].data(), 8);
}

VELARIX_SSSE3 void DecodeGrey4Ssse3(const std::uint8_t* src, std::uint32_t* dst) {
    const __m128i greys = Table16(kSteps4, 4);
    const __m128i three = _mm_set1_epi8(3);
    // 16 bytes hold 64 pixels: bits 0-1 first, then 2-3, 4-5, 6-7.
    int i = 0;
    for (; i + 16 <= kW / 4; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i p0 = _mm_shuffle_epi8(greys, _mm_and_si128(v, three));
        const __m128i p1 = _mm_shuffle_epi8(greys, _mm_and_si128(_mm_srli_epi16(v, 2), three));
        const __m128i p2 = _mm_shuffle_epi8(greys, _mm_and_si128(_mm_srli_epi16(v, 4), three));
        const __m128i p3 = _mm_shuffle_epi8(greys, _mm_and_si128(_mm_srli_epi16(v, 6), three));
        const __m128i p01lo = _mm_unpacklo_epi8(p0, p1), p01hi = _mm_unpackhi_epi8(p0, p1);
        const __m128i p23lo = _mm_unpacklo_epi8(p2, p3), p23hi = _mm_unpackhi_epi8(p2, p3);
        std::uint32_t* out = dst + 4 * i;
        StoreGreys(out, _mm_unpacklo_epi16(p01lo, p23lo));
        StoreGreys(out + 16, _mm_unpackhi_epi16(p01lo, p23lo));
        StoreGreys(out + 32, _mm_unpacklo_epi16(p01hi, p23hi));
        StoreGreys(out + 48, _mm_unpackhi_epi16(p01hi, p23hi));
    }
    for (; i < kW / 4; ++i) std::memcpy(dst + 4 * i, kGrey4[src[i]].data(), 16);
}

bool HasSsse3() {
    return __builtin_cpu_supports("ssse3");
}

template <LineDecoder Plain, LineDecoder Fast>
void Dispatch(const std::uint8_t* src, std::uint32_t* dst) {
    if (HasSsse3())
        Fast(src, dst);
    else
        Plain(src, dst);
}
#else
template <LineDecoder Plain, LineDecoder Fast>
void Dispatch(const std::uint8_t* src, std::uint32_t* dst) {
    Plain(src, dst);
}
#define DecodeColor4096Ssse3 DecodeColor4096
#define DecodeColor256Ssse3 DecodeColor256
#define DecodeGrey16Ssse3 DecodeGrey16
#define DecodeGrey4Ssse3 DecodeGrey4
#endif

constexpr PixelFormat kFormat4096 = {0, kW * 3 / 2,
                                     Dispatch<DecodeColor4096, DecodeColor4096Ssse3>};
constexpr PixelFormat kFormats[] = {
    kFormat4096,
    {1, kW, Dispatch<DecodeColor256, DecodeColor256Ssse3>},
    {2, kW / 2, Dispatch<DecodeGrey16, DecodeGrey16Ssse3>},
    {3, kW * 2, DecodeColor64K},
    {4, kW / 4, Dispatch<DecodeGrey4, DecodeGrey4Ssse3>},
};

}  // namespace

LineDecoder PortableLineDecoder(std::uint8_t mode) {
    static constexpr LineDecoder kPortable[] = {DecodeColor4096, DecodeColor256, DecodeGrey16,
                                                DecodeColor64K, DecodeGrey4};
    const unsigned code = mode & 0x1Fu;
    return code < std::size(kPortable) ? kPortable[code] : kPortable[0];
}

const PixelFormat& PixelFormatForMode(std::uint8_t mode) {
    const unsigned code = mode & 0x1Fu;
    return code < std::size(kFormats) ? kFormats[code] : kFormats[0];
}

}  // namespace velarix
