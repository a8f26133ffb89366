// Frame records through the link: raw and zlib, the repaint band, the flip
// picture, the frame value and the records that must reset the sync.
#include <gtest/gtest.h>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "link/FrameDecoder.h"
#include "link/PhoneLink.h"
#include "res/ClosedFlip.h"

namespace velarix::test {
namespace {

using Synced = SyncedLink;

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;

TEST(FrameRecord, OneGreyLineLandsOnItsScreenLineAndRepaintsOnlyIt) {
    Synced s;
    s.Raw(FrameRecord(2, {{0, ByteVec(104, 0x10)}}));
    EXPECT_EQ(s.view.Pixel(0, 0), 0x000000u);
    EXPECT_EQ(s.view.Pixel(1, 0), 0x111111u);
    EXPECT_EQ(s.view.Pixel(207, 0), 0x111111u);
    EXPECT_EQ(s.view.Pixel(0, 1), kWhite);
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 0, 208, 0}}));
    // Screen line 0 is the last row of the bottom-up buffer.
    EXPECT_EQ(s.view.screen[319 * 208 + 1], 0x111111u);
}

TEST(FrameRecord, TheBandSpansTheSmallestToTheLargestLine) {
    Synced s;
    s.Raw(FrameRecord(1, {{200, ByteVec(208, 0x07)},
                          {5, ByteVec(208, 0xC0)},
                          {319, ByteVec(208, 0x38)},
                          {0xFFFF, {}}}));
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 5, 208, 319}}));
    EXPECT_EQ(s.view.Pixel(3, 200), 0x0000FFu);
    EXPECT_EQ(s.view.Pixel(3, 5), 0xFF0000u);
    EXPECT_EQ(s.view.Pixel(3, 319), 0x00FF00u);
    EXPECT_EQ(s.view.Pixel(3, 6), kWhite);
}

TEST(FrameRecord, ZlibRecordsDecodeLikeRawOnes) {
    const ByteVec record =
        FrameRecord(0, {{10, RandomBytes(312, 3)}, {11, RandomBytes(312, 4)}}, 0, 0xCAFEBABE);
    Synced raw, zlib;
    raw.Raw(record);
    zlib.Zlib(record);
    EXPECT_EQ(raw.view.screen, zlib.view.screen);
    EXPECT_EQ(zlib.view.repaints, (std::vector<Repaint>{{0, 10, 208, 11}}));
    EXPECT_EQ(zlib.link.LastFrameValue(), 0xCAFEBABEu);
    EXPECT_TRUE(zlib.link.Synced());
}

TEST(FrameRecord, EveryChunkingGivesTheSameScreen) {
    const ByteVec stream = Concat(
        {SyncBytes(),
         Message(1, Deflate(FrameRecord(3, {{7, RandomBytes(416, 5)}, {8, RandomBytes(416, 6)}}))),
         Message(0, FrameRecord(2, {{300, RandomBytes(104, 7)}}))});
    std::vector<std::uint32_t> whole;
    for (std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{2}, std::size_t{13}}) {
        RecordingTransport transport;
        RecordingView view;
        CRelayLink link;
        link.SetView(&view);
        link.AttachTransport(transport);
        for (std::size_t i = 0; i < stream.size(); i += chunk)
            link.OnReceive(Bytes(stream).subspan(i, std::min(chunk, stream.size() - i)));
        if (whole.empty()) whole = view.screen;
        EXPECT_EQ(view.screen, whole) << "chunk " << chunk;
        EXPECT_EQ(view.repaints, (std::vector<Repaint>{{0, 7, 208, 8}, {0, 300, 208, 300}}));
    }
}

TEST(FrameRecord, ALineRecordIsReadOnlyWhile104BytesRemain) {
    Synced s;
    // A 4-grey line needs 2 + 52 bytes, but the loop wants 104 left first.
    ByteVec record = FrameRecord(4, {{1, ByteVec(52, 0xFF)}, {2, ByteVec(52, 0xFF)}});
    s.Raw(record);
    EXPECT_EQ(s.view.Pixel(0, 1), 0xFFFFFFu);
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 1, 208, 1}}));
    // The second line's index became the flip byte: 0x00 (open).
    EXPECT_FALSE(s.link.FlipClosed());
}

TEST(FrameRecord, ALineRunningPastTheRecordEndsTheList) {
    Synced s;
    ByteVec record = FrameRecord(1, {{4, ByteVec(208, 0x07)}, {6, ByteVec(150, 0xC0)}});
    s.Raw(record);
    EXPECT_EQ(s.view.Pixel(0, 4), 0x0000FFu);
    EXPECT_EQ(s.view.Pixel(0, 6), kWhite);
    EXPECT_TRUE(s.link.Synced());
}

TEST(FrameRecord, WrongSizeOrTooShortResetsTheSync) {
    for (const ByteVec& record : {FrameRecord(0, {}, {}, {}, 176, 320),
                                  FrameRecord(0, {}, {}, {}, 208, 240), ByteVec{0, 208, 1, 64}}) {
        Synced s;
        s.Raw(record);
        EXPECT_FALSE(s.link.Synced());
        EXPECT_EQ(s.view.events, (std::vector<std::string>{"lost"}));
        EXPECT_TRUE(s.view.repaints.empty());
    }
}

TEST(FrameRecord, CorruptOrOversizedZlibResetsTheSync) {
    {
        Synced s;
        s.link.OnReceive(Message(1, RandomBytes(300, 11)));
        EXPECT_FALSE(s.link.Synced());
    }
    {
        // Inflates to more than the 276480-byte buffer.
        Synced s;
        s.link.OnReceive(Message(1, Deflate(ByteVec(276481, 0))));
        EXPECT_FALSE(s.link.Synced());
    }
    {
        Synced s;
        s.link.OnReceive(Message(1, Deflate(ByteVec(276480, 0))));  // fits; width 0 fails after
        EXPECT_FALSE(s.link.Synced());
        EXPECT_EQ(s.view.events, (std::vector<std::string>{"lost"}));
    }
}

TEST(FrameRecord, WithoutAViewRecordsAreDropped) {
    RecordingTransport transport;
    CRelayLink link;
    link.AttachTransport(transport);
    link.OnReceive(Concat({SyncBytes(), Message(0, FrameRecord(1, {{0, ByteVec(208, 1)}})),
                           Message(2, {0, 0, 0, 0, 0, 1})}));
    EXPECT_TRUE(link.Synced());
    EXPECT_EQ(link.LastFrameValue(), 0u);
}

TEST(FrameRecord, FrameValueIsKeptAndClearedAtSync) {
    Synced s;
    s.Raw(FrameRecord(1, {{0, ByteVec(208, 1)}}, 0, 0x01020304));
    EXPECT_EQ(s.link.LastFrameValue(), 0x01020304u);
    s.Raw(FrameRecord(1, {{0, ByteVec(208, 1)}}, 0));  // no frame value: kept
    EXPECT_EQ(s.link.LastFrameValue(), 0x01020304u);
    s.link.OnReceive(Message(255, {1}));
    s.link.OnReceive(SyncBytes());
    EXPECT_EQ(s.link.LastFrameValue(), 0u);
}

bool ShowsFlip(const RecordingView& v) {
    const auto pic = ClosedFlipPicture();
    for (int r = 0; r < kClosedFlipHeight; ++r)
        for (int x = 0; x < kClosedFlipWidth; ++x)
            if (v.Pixel(x, kFlipTopLine + r) != pic[std::size_t(r * kClosedFlipWidth + x)])
                return false;
    return true;
}

TEST(FlipPicture, ClosedFlipIsDrawnIntoEveryRecordUntilOpened) {
    Synced s;
    s.Raw(FrameRecord(1, {{250, ByteVec(208, 0)}}, 1));
    EXPECT_TRUE(s.link.FlipClosed());
    EXPECT_TRUE(ShowsFlip(s.view));

    // Records without a flip byte keep it, and overwrite no picture line.
    s.Raw(FrameRecord(1, {{250, ByteVec(208, 0)}}));
    EXPECT_TRUE(s.link.FlipClosed());
    EXPECT_TRUE(ShowsFlip(s.view));

    // Open: lines under it reappear as they are updated.
    s.Raw(FrameRecord(1, {{250, ByteVec(208, 0)}}, 0));
    EXPECT_FALSE(s.link.FlipClosed());
    EXPECT_EQ(s.view.Pixel(0, 250), 0u);
    EXPECT_EQ(s.view.Pixel(0, 251), ClosedFlipPicture()[std::size_t(43 * 208)]);
}

TEST(FlipPicture, ARecordThatClosesTheFlipRepaintsThePictureToo) {
    Synced s;
    s.Raw(FrameRecord(1, {{3, ByteVec(208, 0)}}, 1));
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 3, 208, 319}}));
    s.view.repaints.clear();
    s.Raw(FrameRecord(1, {}, 1));  // no lines at all
    EXPECT_EQ(s.view.repaints, (std::vector<Repaint>{{0, 208, 208, 319}}));
}

TEST(FlipPicture, ANewSyncOpensTheFlip) {
    Synced s;
    s.Raw(FrameRecord(1, {}, 1));
    s.link.OnReceive(Message(255, {1}));
    s.link.OnReceive(SyncBytes());
    EXPECT_FALSE(s.link.FlipClosed());
}

TEST(FrameRecordLines, TheTailAfterTheLastLineIsFlipThenValue) {
    std::vector<std::uint32_t> screen(kScreenPixels, kWhite);
    // Fewer than 104 bytes after the last line: they are the tail.
    const RecordDecode d =
        DecodeRecordLines(FrameRecord(2, {{9, ByteVec(104, 0xFF)}}, 1, 77), screen);
    EXPECT_EQ(d.minLine, 9);
    EXPECT_EQ(d.maxLine, 9);
    EXPECT_EQ(d.flipClosed, std::optional<bool>(true));
    EXPECT_EQ(d.frameValue, 77u);

    // A terminating index is only read while 104 bytes remain; followed by a
    // short tail, its first byte is taken for the flip byte.
    const RecordDecode t =
        DecodeRecordLines(FrameRecord(2, {{9, ByteVec(104, 0xFF)}, {0x0200, {}}}, 0, 77), screen);
    EXPECT_EQ(t.flipClosed, std::optional<bool>(false));
    EXPECT_EQ(t.frameValue, 0x00000000u);
    const RecordDecode u = DecodeRecordLines(
        FrameRecord(2, {{9, ByteVec(104, 0xFF)}, {320, ByteVec(110, 0)}}, 1, 77), screen);
    EXPECT_EQ(u.maxLine, 9);  // the terminator was read as one
}

TEST(FrameRecordLines, AScreenTooSmallIsNeverWritten) {
    std::vector<std::uint32_t> tiny(10, kWhite);
    const ByteVec record = FrameRecord(1, {{0, ByteVec(208, 0)}});
    DecodeRecordLines(record, tiny);
    EXPECT_EQ(tiny, std::vector<std::uint32_t>(10, kWhite));
}

}  // namespace
}  // namespace velarix::test
