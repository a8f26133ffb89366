// JPEG strips: placement on the screen, and the strips that must change no
// pixel because they do not fit, do not decode or are not what they claim.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

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

// A marker segment: FF, marker, big-endian length, body.
ByteVec Seg(std::uint8_t marker, const ByteVec& body) {
    const std::size_t len = body.size() + 2;
    ByteVec out = {0xFF, marker, std::uint8_t(len >> 8), std::uint8_t(len)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

const ByteVec kSoi = {0xFF, 0xD8};
const ByteVec kEoi = {0xFF, 0xD9};
const ByteVec kSof = Seg(0xC0, {8, 0, 16, 0, 208, 1, 1, 0x11, 0});
const ByteVec kSos = Seg(0xDA, {1, 1, 0x00, 0, 63, 0});
const ByteVec kExif = Seg(0xE1, {'E', 'x', 'i', 'f', 0, 0, 'M', 'M'});
const ByteVec kComment = Seg(0xFE, {'h', 'i'});
const ByteVec kJfif = Seg(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
const ByteVec kJfxx = Seg(0xE0, {'J', 'F', 'X', 'X', 0, 0x10, 0xFF, 0xD8, 0xFF, 0xD9});
// Entropy-coded data with a stuffed 0xFF and a restart marker, which do not end the scan.
const ByteVec kData = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD3, 0x56};

// Progressive scans of the DC coefficients only, which cost little each.
ByteVec Scans(int count, const ByteVec& frame = Seg(0xC2, {8, 0, 16, 0, 208, 1, 1, 0x11, 0}),
              const ByteVec& scan = Seg(0xDA, {1, 1, 0x00, 0, 0, 0})) {
    ByteVec out = Concat({kSoi, frame});
    for (int i = 0; i < count; ++i) out = Concat({out, scan, kData});
    return Concat({out, kEoi});
}

TEST(JpegFrameHeader, WalksEveryScanAndDropsMetadataWherever) {
    const ByteVec twoScans = Concat({kSoi, kSof, kSos, kData, kSos, kData, kEoi});
    const ByteVec fill = {0xFF, 0xFF};  // fill bytes before a marker go with it
    struct Case {
        const char* what;
        ByteVec jpeg;
        std::optional<ByteVec> clean;  // nothing: refused
    };
    const Case cases[] = {
        {"plain", twoScans, twoScans},
        {"metadata between scans",
         Concat({kSoi, kSof, kSos, kData, fill, kExif, kComment, kJfxx, kSos, kData, kEoi}),
         twoScans},
        {"metadata before the frame, a plain JFIF header stays",
         Concat({kSoi, kJfif, kJfxx, kExif, kSof, kComment, kSos, kData, kEoi}),
         Concat({kSoi, kJfif, kSof, kSos, kData, kEoi})},
        {"bytes after the image", Concat({twoScans, kComment, {1, 2, 3}}), twoScans},
        {"cut short in a segment after a scan",
         Concat({kSoi, kSof, kSos, kData, {0xFF, 0xC4, 0x00, 0x40, 1}}),
         Concat({kSoi, kSof, kSos, kData})},
        {"cut short in the data", Concat({kSoi, kSof, kSos, {1, 0xFF}}),
         Concat({kSoi, kSof, kSos, {1, 0xFF}})},
        {"the most scans", Scans(kMaxJpegScans), Scans(kMaxJpegScans)},
        {"one scan too many", Scans(kMaxJpegScans + 1), std::nullopt},
        {"whole-band scans within the budget", Scans(3, kSof, kSos), Scans(3, kSof, kSos)},
        {"whole-band scans over the budget", Scans(4, kSof, kSos), std::nullopt},
        {"a scan of a component the frame lacks", Scans(1, kSof, Seg(0xDA, {1, 2, 0, 0, 63, 0})),
         std::nullopt},
        {"a second frame after a scan", Concat({kSoi, kSof, kSos, kData, kSof, kSos, kEoi}),
         std::nullopt},
        {"bytes between segments after a scan",
         Concat({kSoi, kSof, kSos, kData, kComment, {1, 2}, kEoi}), std::nullopt},
        {"an image without a scan", Concat({kSoi, kSof, kEoi}), std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> clean;
        const auto h = ParseJpegFrameHeader(c.jpeg, &clean);
        ASSERT_EQ(h.has_value(), c.clean.has_value()) << c.what;
        if (!h) continue;
        EXPECT_EQ(h->width, 208) << c.what;
        EXPECT_EQ(clean, *c.clean) << c.what;
    }
}

// Positions of the scans (their SOS markers) of an encoded JPEG.
std::vector<std::size_t> ScanStarts(const ByteVec& jpeg) {
    std::vector<std::size_t> out;
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) out.push_back(i);
    return out;
}

TEST(JpegStrip, ProgressiveStripsDecodeWithoutMetadataAndWithinTheScanLimit) {
    const ByteVec progressive = EncodeJpeg(Bands(208, 16), 208, 16, 90, false, JPEG_PROGRESSIVE);
    const std::vector<std::size_t> scans = ScanStarts(progressive);
    ASSERT_GT(scans.size(), 2u);
    ASSERT_LT(scans.size(), std::size_t(kMaxJpegScans));
    // The last scan again, until the strip has `count` scans.
    const auto withScans = [&](std::size_t count) {
        const ByteVec last(progressive.begin() + std::ptrdiff_t(scans.back()),
                           progressive.end() - 2);
        ByteVec out(progressive.begin(), progressive.end() - 2);
        for (std::size_t i = scans.size(); i < count; ++i)
            out.insert(out.end(), last.begin(), last.end());
        return Concat({out, kEoi});
    };
    ByteVec withMeta(progressive.begin(), progressive.begin() + std::ptrdiff_t(scans[1]));
    withMeta = Concat({withMeta, kExif, kComment, kJfxx,
                       ByteVec(progressive.begin() + std::ptrdiff_t(scans[1]), progressive.end())});
    std::vector<std::uint8_t> clean;
    ASSERT_TRUE(ParseJpegFrameHeader(withMeta, &clean));
    EXPECT_EQ(clean, progressive);

    struct Case {
        ByteVec jpeg;
        bool decodes;
    };
    for (const Case& c :
         {Case{progressive, true}, Case{withMeta, true}, Case{withScans(scans.size() + 1), false},
          Case{withScans(kMaxJpegScans), false}, Case{withScans(5000), false}}) {
        Synced s;
        s.Strip(JpegPayload(40, 0, c.jpeg));
        EXPECT_EQ(s.Untouched(), !c.decodes) << c.jpeg.size();
        if (c.decodes) {
            EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 40, 208, 56}}));
            EXPECT_TRUE(Near(s.view.Pixel(100, 42), 0xFF0000u));
        }
        EXPECT_TRUE(s.link.Synced());
    }
    // libjpeg's progressive script for grey stays just within the budget.
    Synced grey;
    const std::vector<std::uint32_t> greyPixels(208 * 16, 0x808080u);
    grey.Strip(JpegPayload(0, 0, EncodeJpeg(greyPixels, 208, 16, 90, true, JPEG_PROGRESSIVE)));
    EXPECT_TRUE(Near(grey.view.Pixel(50, 8), 0x808080u, 4));
}

TEST(JpegStrip, SeekingInMemoryFollowsFseek) {
    const std::uint8_t block[10] = {};
    struct Case {
        long offset;
        int origin;
        int result;
        long position;  // from 4
    };
    const Case cases[] = {
        {3, SEEK_SET, 0, 3},
        {10, SEEK_SET, 0, 10},
        {11, SEEK_SET, -1, 4},
        {-1, SEEK_SET, -1, 4},
        {2, SEEK_CUR, 0, 6},
        {-4, SEEK_CUR, 0, 0},
        {-5, SEEK_CUR, -1, 4},
        {7, SEEK_CUR, -1, 4},
        {0, SEEK_END, 0, 10},
        {-3, SEEK_END, 0, 7},
        {-10, SEEK_END, 0, 0},
        {1, SEEK_END, -1, 4},
        {-11, SEEK_END, -1, 4},
        {0, 99, -1, 4},
        {std::numeric_limits<long>::max(), SEEK_CUR, -1, 4},
        {std::numeric_limits<long>::min(), SEEK_END, -1, 4},
    };
    for (const Case& c : cases) {
        MemoryCursor cursor{block, block + 4, block + sizeof block};
        EXPECT_EQ(SeekMemory(cursor, c.offset, c.origin), c.result) << c.offset << " " << c.origin;
        EXPECT_EQ(cursor.current - block, c.position) << c.offset << " " << c.origin;
    }
}

}  // namespace
}  // namespace velarix::test
