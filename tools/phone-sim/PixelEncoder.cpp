#include "PixelEncoder.h"

#include <array>
#include <cstdlib>

#include "Wire.h"

namespace phonesim {

namespace {

using Table = std::array<std::uint8_t, 256>;

constexpr std::uint8_t kSteps8[8] = {0, 36, 73, 109, 146, 182, 220, 255};
constexpr std::uint8_t kSteps4[4] = {0, 85, 170, 255};
constexpr std::uint8_t kSteps16[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                       0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xF8, 0xFF};

std::uint8_t Expand5(unsigned c) {
    return static_cast<std::uint8_t>(c == 31 ? 255 : c * 8);
}
std::uint8_t Expand6(unsigned g) {
    return static_cast<std::uint8_t>(g == 63 ? 255 : g * 4);
}

// For each 8-bit value, the index of the nearest level (the lower one on a tie).
template <typename Level>
Table NearestTable(unsigned count, Level level) {
    Table table{};
    for (int v = 0; v < 256; ++v) {
        unsigned best = 0;
        int bestDistance = 1000;
        for (unsigned i = 0; i < count; ++i) {
            const int distance = std::abs(v - static_cast<int>(level(i)));
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(best);
    }
    return table;
}

struct Tables {
    Table to8 = NearestTable(8, [](unsigned i) { return kSteps8[i]; });
    Table to4 = NearestTable(4, [](unsigned i) { return kSteps4[i]; });
    Table to16 = NearestTable(16, [](unsigned i) { return kSteps16[i]; });
    Table to5 = NearestTable(32, Expand5);
    Table to6 = NearestTable(64, Expand6);
    Table grey16 = NearestTable(16, [](unsigned i) { return i * 0x11; });
    Table grey4 = NearestTable(4, [](unsigned i) { return i * 0x55; });
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

std::uint8_t Luma(const Rgb& p) {
    return static_cast<std::uint8_t>((77u * p.r + 150u * p.g + 29u * p.b + 128u) >> 8);
}

Rgb Grey(unsigned v) {
    const auto g = static_cast<std::uint8_t>(v);
    return {g, g, g};
}

}  // namespace

ColourMode ModeFromOptionByte(std::uint8_t colour) {
    switch (colour) {
        case 1:
            return ColourMode::k256;
        case 2:
            return ColourMode::kGrey16;
        case 3:
            return ColourMode::k65536;
        case 4:
            return ColourMode::kGrey4;
        case 126:
            return ColourMode::kJpeg;
        default:
            return ColourMode::k4096;
    }
}

const char* ModeName(ColourMode mode) {
    switch (mode) {
        case ColourMode::k4096:
            return "4096 colours";
        case ColourMode::k256:
            return "256 colours";
        case ColourMode::kGrey16:
            return "16 greys";
        case ColourMode::k65536:
            return "65536 colours";
        case ColourMode::kGrey4:
            return "4 greys";
        case ColourMode::kJpeg:
            return "JPEG";
    }
    return "?";
}

std::size_t BytesPerLine(ColourMode mode) {
    constexpr std::size_t w = kScreenWidth;
    switch (mode) {
        case ColourMode::k4096:
            return w / 2 * 3;
        case ColourMode::k256:
            return w;
        case ColourMode::kGrey16:
            return w / 2;
        case ColourMode::k65536:
            return w * 2;
        case ColourMode::kGrey4:
            return w / 4;
        case ColourMode::kJpeg:
            return w * 3;
    }
    return 0;
}

void EncodeLine(ColourMode mode, const Rgb* px, std::uint8_t* out) {
    const Tables& t = T();
    switch (mode) {
        case ColourMode::k4096:
            // Per pixel pair: b0 = green|blue of the first, b1 = green|blue of the second,
            // b2 = red of the first (high nibble) | red of the second (low nibble).
            for (int x = 0; x < kScreenWidth; x += 2) {
                const Rgb& a = px[x];
                const Rgb& b = px[x + 1];
                *out++ = static_cast<std::uint8_t>(t.to16[a.g] << 4 | t.to16[a.b]);
                *out++ = static_cast<std::uint8_t>(t.to16[b.g] << 4 | t.to16[b.b]);
                *out++ = static_cast<std::uint8_t>(t.to16[a.r] << 4 | t.to16[b.r]);
            }
            break;
        case ColourMode::k256:
            for (int x = 0; x < kScreenWidth; ++x) {
                const Rgb& p = px[x];
                *out++ = static_cast<std::uint8_t>(t.to4[p.r] << 6 | t.to8[p.g] << 3 | t.to8[p.b]);
            }
            break;
        case ColourMode::kGrey16:
            for (int x = 0; x < kScreenWidth; x += 2) {
                *out++ = static_cast<std::uint8_t>(t.grey16[Luma(px[x])] | t.grey16[Luma(px[x + 1])]
                                                                               << 4);
            }
            break;
        case ColourMode::k65536:
            for (int x = 0; x < kScreenWidth; ++x) {
                const Rgb& p = px[x];
                const unsigned v =
                    unsigned{t.to5[p.r]} << 11 | unsigned{t.to6[p.g]} << 5 | unsigned{t.to5[p.b]};
                *out++ = static_cast<std::uint8_t>(v);  // little-endian
                *out++ = static_cast<std::uint8_t>(v >> 8);
            }
            break;
        case ColourMode::kGrey4:
            for (int x = 0; x < kScreenWidth; x += 4) {
                *out++ = static_cast<std::uint8_t>(
                    t.grey4[Luma(px[x])] | t.grey4[Luma(px[x + 1])] << 2 |
                    t.grey4[Luma(px[x + 2])] << 4 | t.grey4[Luma(px[x + 3])] << 6);
            }
            break;
        case ColourMode::kJpeg:
            for (int x = 0; x < kScreenWidth; ++x) {
                *out++ = px[x].r;
                *out++ = px[x].g;
                *out++ = px[x].b;
            }
            break;
    }
}

void DecodeLine(ColourMode mode, const std::uint8_t* in, Rgb* px) {
    switch (mode) {
        case ColourMode::k4096:
            for (int x = 0; x < kScreenWidth; x += 2, in += 3) {
                px[x] = {kSteps16[in[2] >> 4], kSteps16[in[0] >> 4], kSteps16[in[0] & 15]};
                px[x + 1] = {kSteps16[in[2] & 15], kSteps16[in[1] >> 4], kSteps16[in[1] & 15]};
            }
            break;
        case ColourMode::k256:
            for (int x = 0; x < kScreenWidth; ++x, ++in) {
                px[x] = {kSteps4[*in >> 6], kSteps8[(*in >> 3) & 7], kSteps8[*in & 7]};
            }
            break;
        case ColourMode::kGrey16:
            for (int x = 0; x < kScreenWidth; x += 2, ++in) {
                px[x] = Grey((*in & 15u) * 0x11);
                px[x + 1] = Grey((*in >> 4u) * 0x11);
            }
            break;
        case ColourMode::k65536:
            for (int x = 0; x < kScreenWidth; ++x, in += 2) {
                const unsigned v = unsigned{in[0]} | unsigned{in[1]} << 8;
                px[x] = {Expand5(v >> 11), Expand6((v >> 5) & 63), Expand5(v & 31)};
            }
            break;
        case ColourMode::kGrey4:
            for (int x = 0; x < kScreenWidth; x += 4, ++in) {
                for (unsigned i = 0; i < 4; ++i) {
                    px[x + static_cast<int>(i)] = Grey(((*in >> (2 * i)) & 3u) * 0x55);
                }
            }
            break;
        case ColourMode::kJpeg:
            for (int x = 0; x < kScreenWidth; ++x, in += 3) px[x] = {in[0], in[1], in[2]};
            break;
    }
}

std::string SelfCheckPixelFormats() {
    // Lines made of table levels must survive encoding and decoding unchanged.
    std::array<Rgb, kScreenWidth> line{};
    std::array<Rgb, kScreenWidth> back{};
    std::array<std::uint8_t, kScreenWidth * 3> bytes{};
    const auto check = [&](ColourMode mode) -> std::string {
        EncodeLine(mode, line.data(), bytes.data());
        DecodeLine(mode, bytes.data(), back.data());
        for (int x = 0; x < kScreenWidth; ++x) {
            const auto i = static_cast<std::size_t>(x);
            if (!(back[i] == line[i])) {
                return std::string(ModeName(mode)) + ": pixel " + std::to_string(x) +
                       " does not survive encoding";
            }
        }
        return {};
    };
    for (int x = 0; x < kScreenWidth; ++x) {
        const auto i = static_cast<unsigned>(x);
        line[i] = {kSteps16[i % 16], kSteps16[(i / 16) % 16], kSteps16[(i * 7) % 16]};
    }
    if (auto e = check(ColourMode::k4096); !e.empty()) return e;
    for (int x = 0; x < kScreenWidth; ++x) {
        const auto i = static_cast<unsigned>(x);
        line[i] = {kSteps4[i % 4], kSteps8[(i / 4) % 8], kSteps8[(i * 3) % 8]};
    }
    if (auto e = check(ColourMode::k256); !e.empty()) return e;
    for (int x = 0; x < kScreenWidth; ++x) {
        const auto i = static_cast<unsigned>(x);
        line[i] = {Expand5(i % 32), Expand6((i * 5) % 64), Expand5((i * 3 + 7) % 32)};
    }
    if (auto e = check(ColourMode::k65536); !e.empty()) return e;
    for (int x = 0; x < kScreenWidth; ++x)
        line[static_cast<unsigned>(x)] = Grey(static_cast<unsigned>(x % 16) * 0x11);
    if (auto e = check(ColourMode::kGrey16); !e.empty()) return e;
    for (int x = 0; x < kScreenWidth; ++x)
        line[static_cast<unsigned>(x)] = Grey(static_cast<unsigned>(x % 4) * 0x55);
    if (auto e = check(ColourMode::kGrey4); !e.empty()) return e;
    return {};
}

}  // namespace phonesim
