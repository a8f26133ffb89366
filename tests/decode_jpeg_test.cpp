// JPEG strips: placement on the screen, and the strips that must change no
// pixel because they do not fit, do not decode or are not what they claim.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "link/JpegStrip.h"
#include "link/PhoneLink.h"

namespace velarix::test {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;

// A strip of horizontal colour bands, easy to recognise after lossy coding.
std::vector<std::uint32_t> Bands(int width, int height) {
    std::vector<std::uint32_t> px(std::size_t(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[std::size_t(y * width + x)] = y < height / 2 ? 0xFF0000u : 0x0000FFu;
    return px;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 24) {
    for (int shift : {0, 8, 16}) {
        const int ca = int((a >> shift) & 0xFF), cb = int((b >> shift) & 0xFF);
        if (std::abs(ca - cb) > tolerance) return false;
    }
    return (a >> 24) == 0;
}

using Synced = SyncedLink;

TEST(JpegStrip, LandsUprightOnItsLinesAndRepaintsThem) {
    Synced s;
    s.Strip(JpegPayload(100, 0xABCD, EncodeJpeg(Bands(208, 20), 208, 20)));
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 100, 208, 120}}));
    EXPECT_EQ(s.link.LastFrameValue(), 0xABCDu);
    EXPECT_EQ(s.view.Pixel(5, 99), kWhite);
    EXPECT_EQ(s.view.Pixel(5, 120), kWhite);
    for (int x : {0, 100, 207}) {
        EXPECT_TRUE(Near(s.view.Pixel(x, 101), 0xFF0000u)) << std::hex << s.view.Pixel(x, 101);
        EXPECT_TRUE(Near(s.view.Pixel(x, 118), 0x0000FFu)) << std::hex << s.view.Pixel(x, 118);
    }
    EXPECT_TRUE(s.link.Synced());
}

TEST(JpegStrip, GreyscaleStripsAndTheLastLinesOfTheScreen) {
    Synced s;
    std::vector<std::uint32_t> grey(208 * 16, 0x808080u);
    s.Strip(JpegPayload(304, 1, EncodeJpeg(grey, 208, 16, 90, true)));
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 304, 208, 320}}));
    EXPECT_TRUE(Near(s.view.Pixel(50, 319), 0x808080u, 4));
    EXPECT_EQ(s.view.Pixel(50, 303), kWhite);
}

TEST(JpegStrip, StripsThatDoNotFitChangeNothing) {
    const ByteVec narrow = EncodeJpeg(Bands(176, 16), 176, 16);
    const ByteVec wide = EncodeJpeg(Bands(240, 16), 240, 16);
    const ByteVec tall = EncodeJpeg(Bands(208, 32), 208, 32);
    for (const ByteVec& payload :
         {JpegPayload(0, 0, narrow), JpegPayload(0, 0, wide), JpegPayload(300, 0, tall),
          JpegPayload(320, 0, tall), JpegPayload(0xFFFF, 0, tall)}) {
        Synced s;
        s.Strip(payload);
        EXPECT_TRUE(s.Untouched());
        EXPECT_TRUE(s.view.repaints.empty());
        EXPECT_TRUE(s.link.Synced());
    }
}

TEST(JpegStrip, ShortPayloadsAndUndecodableImagesChangeNothing) {
    const ByteVec good = EncodeJpeg(Bands(208, 16), 208, 16);
    ByteVec truncatedHeader(good.begin(), good.begin() + 40);
    ByteVec garbage = RandomBytes(500, 3);
    ByteVec corruptScan = good;
    for (std::size_t i = good.size() / 2; i < good.size() - 2; ++i) corruptScan[i] = 0xFF;
    for (const ByteVec& payload :
         {ByteVec{}, ByteVec{0, 1, 2, 3, 4}, JpegPayload(0, 0, {}),
          JpegPayload(0, 0, truncatedHeader), JpegPayload(0, 0, garbage)}) {
        Synced s;
        s.Strip(payload);
        EXPECT_TRUE(s.Untouched()) << payload.size();
        EXPECT_TRUE(s.view.repaints.empty());
    }
    // A damaged scan may decode to something, but only inside its own lines.
    Synced s;
    s.Strip(JpegPayload(10, 0, corruptScan));
    for (int y = 0; y < 320; ++y) {
        if (y >= 10 && y < 26) continue;
        ASSERT_EQ(s.view.Pixel(0, y), kWhite) << y;
    }
}

// Replaces the frame header's fields of an encoded JPEG.
ByteVec Patched(ByteVec jpeg, int precision, int height, int width, int components) {
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            if (precision >= 0) jpeg[i + 4] = std::uint8_t(precision);
            if (height >= 0) {
                jpeg[i + 5] = std::uint8_t(height >> 8);
                jpeg[i + 6] = std::uint8_t(height);
            }
            if (width >= 0) {
                jpeg[i + 7] = std::uint8_t(width >> 8);
                jpeg[i + 8] = std::uint8_t(width);
            }
            if (components >= 0) jpeg[i + 9] = std::uint8_t(components);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

TEST(JpegFrameHeader, AcceptsWhatTheEncoderWrites) {
    const ByteVec jpeg = EncodeJpeg(Bands(208, 24), 208, 24);
    const auto h = ParseJpegFrameHeader(jpeg);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->width, 208);
    EXPECT_EQ(h->height, 24);
    EXPECT_EQ(h->precision, 8);
    EXPECT_EQ(h->components, 3);
}

TEST(JpegFrameHeader, RejectsWhatFreeImageMustNeverSee) {
    const ByteVec jpeg = EncodeJpeg(Bands(208, 24), 208, 24);
    EXPECT_FALSE(ParseJpegFrameHeader(Patched(jpeg, 12, -1, -1, -1)));  // 12-bit samples
    EXPECT_FALSE(ParseJpegFrameHeader(Patched(jpeg, -1, -1, -1, 4)));   // CMYK, length mismatch
    EXPECT_FALSE(ParseJpegFrameHeader(Patched(jpeg, -1, -1, -1, 2)));
    ByteVec lossless = jpeg;
    for (std::size_t i = 2; i + 1 < lossless.size(); ++i)
        if (lossless[i] == 0xFF && lossless[i + 1] == 0xC0) {
            lossless[i + 1] = 0xC3;
            break;
        }
    EXPECT_FALSE(ParseJpegFrameHeader(lossless));
    // A scan before any frame header, a second image start, a truncated segment.
    EXPECT_FALSE(ParseJpegFrameHeader(ByteVec{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02}));
    EXPECT_FALSE(ParseJpegFrameHeader(ByteVec{0xFF, 0xD8, 0xFF, 0xD8, 0x00, 0x02}));
    EXPECT_FALSE(ParseJpegFrameHeader(ByteVec{0xFF, 0xD8, 0xFF, 0xE0, 0x10, 0x00}));
    EXPECT_FALSE(ParseJpegFrameHeader(ByteVec{0xFF, 0xD8}));
}

TEST(JpegFrameHeader, StripsWhoseHeaderLiesAreRefusedBeforeDecoding) {
    const ByteVec jpeg = EncodeJpeg(Bands(208, 16), 208, 16);
    for (const ByteVec& bad : {Patched(jpeg, -1, 0, -1, -1),       // height deferred
                               Patched(jpeg, -1, 400, -1, -1),     // taller than the screen
                               Patched(jpeg, -1, -1, 207, -1)}) {  // not 208 wide
        Synced s;
        s.Strip(JpegPayload(0, 0, bad));
        EXPECT_TRUE(s.Untouched());
    }
}

TEST(JpegFrameHeader, MetadataSegmentsAreLeftOutOfWhatFreeImageReads) {
    const ByteVec jpeg = EncodeJpeg(Bands(208, 16), 208, 16);
    // An Exif segment with a bogus body and a comment, right after SOI.
    ByteVec withMeta = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x0A, 'E',  'x', 'i', 'f', 0,
                        0,    0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x05, 'h', 'i', '!'};
    withMeta.insert(withMeta.end(), jpeg.begin() + 2, jpeg.end());
    std::vector<std::uint8_t> clean;
    ASSERT_TRUE(ParseJpegFrameHeader(withMeta, &clean));
    EXPECT_EQ(clean, jpeg);

    Synced s;
    s.Strip(JpegPayload(0, 0, withMeta));
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 0, 208, 16}}));
}

}  // namespace
}  // namespace velarix::test
