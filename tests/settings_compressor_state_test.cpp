// Hex form of the saved compressor state and the label that names a compressor.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/CompressorState.h"

namespace velarix {
namespace {

using ByteVector = std::vector<std::uint8_t>;

TEST(CompressorStateHex, BytesBecomeUpperCasePairsWithoutSeparators) {
    const ByteVector bytes = {0x00, 0x7F, 0x80, 0xFF};
    EXPECT_EQ(BytesToHex(bytes), "007F80FF");
    EXPECT_EQ(BytesToHex(ByteVector{0x0A, 0xBC}), "0ABC");
    EXPECT_EQ(BytesToHex({}), "");
}

TEST(CompressorStateHex, PairsBecomeBytes) {
    EXPECT_EQ(HexToBytes("007F80FF"), (ByteVector{0x00, 0x7F, 0x80, 0xFF}));
    EXPECT_EQ(HexToBytes("007f80ff"), (ByteVector{0x00, 0x7F, 0x80, 0xFF}));
    EXPECT_TRUE(HexToBytes("").empty());
}

TEST(CompressorStateHex, EveryByteValueRoundTrips) {
    ByteVector all(256);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
    const std::string text = BytesToHex(all);
    EXPECT_EQ(text.size(), 512u);
    EXPECT_EQ(HexToBytes(text), all);
}

TEST(CompressorStateHex, TrailingOddCharacterIsIgnored) {
    EXPECT_EQ(HexToBytes("7F8"), (ByteVector{0x7F}));
    EXPECT_TRUE(HexToBytes("A").empty());
}

TEST(CompressorStateHex, BadPairsGiveWhatTheirValidPrefixSays) {
    // Not starting with a hex digit: zero, with no whitespace or sign handling.
    EXPECT_EQ(HexToBytes("G4"), (ByteVector{0x00}));
    EXPECT_EQ(HexToBytes(" 4"), (ByteVector{0x00}));
    EXPECT_EQ(HexToBytes("-1"), (ByteVector{0x00}));
    EXPECT_EQ(HexToBytes("ZZ"), (ByteVector{0x00}));
    // A valid first digit alone counts, as strtoul would stop after it.
    EXPECT_EQ(HexToBytes("4G"), (ByteVector{0x04}));
    EXPECT_EQ(HexToBytes("0x"), (ByteVector{0x00}));
    EXPECT_EQ(HexToBytes("F "), (ByteVector{0x0F}));
    // A bad pair does not shift the pairs after it.
    EXPECT_EQ(HexToBytes("01??02"), (ByteVector{0x01, 0x00, 0x02}));
}

TEST(CompressorStateLabel, FourccLowestByteFirstThenLowerCaseHexVersion) {
    EXPECT_EQ(CodecLabel(0x4356534D, 0x10000), "MSVC-10000");
    EXPECT_EQ(CodecLabel(0x64636261, 0xABCDEF), "abcd-abcdef");
    EXPECT_EQ(CodecLabel(0x20424944, 0), "DIB -0");
    EXPECT_EQ(CodecLabel(0x4356534D, 0xFFFFFFFF), "MSVC-ffffffff");
    EXPECT_EQ(CodecLabel(0x4356534D, 0x0F), "MSVC-f");
}

TEST(CompressorStateLabel, UnprintableBytesBecomeQuestionMarks) {
    EXPECT_EQ(CodecLabel(0, 1), "?\?\?\?-1");
    EXPECT_EQ(CodecLabel(0x00005641, 0x10), "AV?\?-10");
    EXPECT_EQ(CodecLabel(0x7F1F0AE9, 2), "?\?\?\?-2");
    const std::string label = CodecLabel(0x00000041, 5);
    EXPECT_EQ(label.find('\0'), std::string::npos);
    EXPECT_EQ(label.size(), 6u);
}

}  // namespace
}  // namespace velarix
