// The five pixel formats against the channel tables, value by value, and
// against a plain per-pixel reading of the layouts on random lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>

#include "StreamBuilder.h"
#include "link/PixelFormats.h"

namespace velarix::test {
namespace {

using Line = std::array<std::uint32_t, 208>;

Line Decode(int mode, const ByteVec& bytes) {
    Line out;
    out.fill(0xDEADBEEF);
    const PixelFormat& f = PixelFormatForMode(static_cast<std::uint8_t>(mode));
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(f.bytesPerLine));
    f.decodeLine(bytes.data(), out.data());
    return out;
}

std::uint32_t Rgb(unsigned r, unsigned g, unsigned b) {
    return (r << 16) | (g << 8) | b;
}

// Reads one pixel the slow way, straight from the layout table.
std::uint32_t Reference(int code, const ByteVec& line, int x) {
    static const unsigned s8[] = {0, 36, 73, 109, 146, 182, 220, 255};
    static const unsigned s4[] = {0, 85, 170, 255};
    static const unsigned s16[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                   0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xF8, 0xFF};
    const auto ux = static_cast<std::size_t>(x);
    switch (code) {
        case 4: {
            const unsigned v = (line[ux / 4] >> (2 * (ux % 4))) & 3;
            return Rgb(v * 0x55, v * 0x55, v * 0x55);
        }
        case 2: {
            const unsigned v = ux % 2 ? line[ux / 2] >> 4 : line[ux / 2] & 15;
            return Rgb(v * 0x11, v * 0x11, v * 0x11);
        }
        case 1: {
            const unsigned b = line[ux];
            return Rgb(s4[b >> 6], s8[(b >> 3) & 7], s8[b & 7]);
        }
        case 3: {
            const unsigned v = unsigned{line[2 * ux]} | unsigned{line[2 * ux + 1]} << 8;
            const unsigned r = v >> 11, g = (v >> 5) & 63, b = v & 31;
            return Rgb(r == 31 ? 255 : r * 8, g == 63 ? 255 : g * 4, b == 31 ? 255 : b * 8);
        }
        default: {
            const std::size_t group = ux / 2 * 3;
            const unsigned b0 = line[group], b1 = line[group + 1], b2 = line[group + 2];
            if (ux % 2 == 0) return Rgb(s16[b2 >> 4], s16[b0 >> 4], s16[b0 & 15]);
            return Rgb(s16[b2 & 15], s16[b1 >> 4], s16[b1 & 15]);
        }
    }
}

TEST(PixelFormats, LineSizesPerFormat) {
    EXPECT_EQ(PixelFormatForMode(4).bytesPerLine, 52);
    EXPECT_EQ(PixelFormatForMode(2).bytesPerLine, 104);
    EXPECT_EQ(PixelFormatForMode(1).bytesPerLine, 208);
    EXPECT_EQ(PixelFormatForMode(3).bytesPerLine, 416);
    EXPECT_EQ(PixelFormatForMode(0).bytesPerLine, 312);
    // Unknown codes are 4096 colours; bits 5-7 do not take part.
    EXPECT_EQ(PixelFormatForMode(5).bytesPerLine, 312);
    EXPECT_EQ(PixelFormatForMode(31).bytesPerLine, 312);
    EXPECT_EQ(PixelFormatForMode(0xE1).bytesPerLine, 208);
    EXPECT_EQ(PixelFormatForMode(0x24).bytesPerLine, 52);
}

TEST(PixelFormats, EveryFormatMatchesTheLayoutOnRandomLines) {
    for (int code : {0, 1, 2, 3, 4, 9}) {
        for (std::uint32_t seed = 1; seed <= 40; ++seed) {
            const ByteVec line = RandomBytes(LineBytes(code), seed * 31 + std::uint32_t(code));
            const Line out = Decode(code, line);
            // The plain decoder, used on processors without byte shuffles.
            Line plain;
            PortableLineDecoder(std::uint8_t(code))(line.data(), plain.data());
            for (int x = 0; x < 208; ++x) {
                ASSERT_EQ(out[std::size_t(x)], Reference(code, line, x))
                    << "code " << code << " seed " << seed << " x " << x;
                ASSERT_EQ(plain[std::size_t(x)], Reference(code, line, x))
                    << "plain, code " << code << " seed " << seed << " x " << x;
            }
        }
    }
}

TEST(PixelFormats, DecodersReadNoByteBeyondTheirLine) {
    // Each line sits at the very end of its own heap block, so the sanitizer
    // build catches a read past it.
    for (int code : {0, 1, 2, 3, 4}) {
        const ByteVec bytes = RandomBytes(LineBytes(code), 77);
        auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), exact.get());
        Line out;
        PixelFormatForMode(std::uint8_t(code)).decodeLine(exact.get(), out.data());
        EXPECT_EQ(out[207], Reference(code, bytes, 207)) << code;
    }
}

TEST(PixelFormats, Grey16NibbleOrder) {
    const Line out = Decode(2, ByteVec(104, 0x10));
    for (int x = 0; x < 208; x += 2) {
        EXPECT_EQ(out[std::size_t(x)], 0x000000u);
        EXPECT_EQ(out[std::size_t(x) + 1], 0x111111u);
    }
}

TEST(PixelFormats, Grey4BitPairsFromTheLowEnd) {
    ByteVec line(52, 0);
    line[0] = 0b11100100;  // pixels 0, 1, 2, 3
    const Line out = Decode(4, line);
    EXPECT_EQ(out[0], 0x000000u);
    EXPECT_EQ(out[1], 0x555555u);
    EXPECT_EQ(out[2], 0xAAAAAAu);
    EXPECT_EQ(out[3], 0xFFFFFFu);
    EXPECT_EQ(out[4], 0x000000u);
}

TEST(PixelFormats, Color64KFullScaleChannelsBecome255) {
    auto pixel = [](std::uint8_t lo, std::uint8_t hi) {
        ByteVec line(416, 0);
        line[0] = lo;
        line[1] = hi;
        return Decode(3, line)[0];
    };
    EXPECT_EQ(pixel(0xFF, 0xFF), 0xFFFFFFu);
    EXPECT_EQ(pixel(0x1F, 0x00), 0x0000FFu);
    EXPECT_EQ(pixel(0xE0, 0x07), 0x00FF00u);
    EXPECT_EQ(pixel(0x00, 0xF8), 0xFF0000u);
    EXPECT_EQ(pixel(0x42, 0x08), Rgb(8, 8, 16));
    EXPECT_EQ(pixel(0xC0, 0x07), Rgb(0, 62 * 4, 0));  // g 62 stays 248
}

TEST(PixelFormats, Color256UsesTheEightAndFourStepTables) {
    auto pixel = [](std::uint8_t b) { return Decode(1, ByteVec(208, b))[100]; };
    EXPECT_EQ(pixel(0xFF), 0xFFFFFFu);
    EXPECT_EQ(pixel(0x3F), 0x00FFFFu);
    EXPECT_EQ(pixel(0x06), 0x0000DCu);  // step 6 is 220
    EXPECT_EQ(pixel(0x80), 0xAA0000u);
}

TEST(PixelFormats, Color4096SplitsTheRedByteBetweenTwoPixels) {
    ByteVec line(312, 0);
    line[0] = 0xE0;
    line[1] = 0xF0;
    line[2] = 0xFF;
    const Line out = Decode(0, line);
    EXPECT_EQ(out[0], Rgb(255, 0xF8, 0));  // green nibble 14 is 0xF8
    EXPECT_EQ(out[1], Rgb(255, 255, 0));
    EXPECT_EQ(out[2], 0u);
}

}  // namespace
}  // namespace velarix::test
