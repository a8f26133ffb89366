// PC-to-phone messages: the exact bytes, and that each goes out as one block.
#include <gtest/gtest.h>

#include <string>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "link/PhoneLink.h"
#include "link/PhoneMessages.h"

namespace velarix::test {
namespace {

template <std::size_t N>
ByteVec Vec(const std::array<std::uint8_t, N>& a) {
    return ByteVec(a.begin(), a.end());
}

TEST(MessageBytes, FixedSizeMessages) {
    EXPECT_EQ(Vec(EncodeHello()), ByteVec(16, 0x55));
    EXPECT_EQ(Vec(EncodeSyncAck()), ByteVec{0x01});
    EXPECT_EQ(Vec(EncodePingReply()), ByteVec{0x07});
    EXPECT_EQ(Vec(EncodeGetPhoneClipboard()), ByteVec{0x0A});
    EXPECT_EQ(Vec(EncodeBye()), ByteVec{0xFF});
}

TEST(MessageBytes, KeyEvent) {
    EXPECT_EQ(Vec(EncodeKey(phonekey::kTaskList, KeyAction::Press)),
              (ByteVec{0x02,                       // KeyEvent
                       0x01,                       // press
                       0x00, 0x00, 0x00, 0xB4}));  // 180, the task list
    EXPECT_EQ(Vec(EncodeKey(phonekey::kTaskList, KeyAction::Release)),
              (ByteVec{0x02, 0x00, 0x00, 0x00, 0x00, 0xB4}));
    EXPECT_EQ(Vec(EncodeKey(0x01020304, KeyAction::Click)),
              (ByteVec{0x02, 0x02, 0x01, 0x02, 0x03, 0x04}));  // code is big-endian
}

TEST(MessageBytes, CharEvent) {
    EXPECT_EQ(Vec(EncodeChar(0x20AC)), (ByteVec{0x03,                    // CharEvent
                                                0x00, 0x00,              // 0
                                                0x00, 0x00, 0x04, 0x00,  // 0x00000400
                                                0x03,                    // 3
                                                0x20, 0xAC,              // character code
                                                0x00, 0x00, 0x00, 0x00}));
}

TEST(MessageBytes, OptionsFromTheSixFields) {
    // Compression 5, interlacing auto, 64K, quality 50, priority 2, timerDiv 2.
    EXPECT_EQ(Vec(EncodeOptions({5, 2, 3, 50, 2, 2})),
              (ByteVec{0x04,  // Options
                       0x09,  // level 2×5-1
                       0x01,  // interlace
                       0x01,  // interlace automatic
                       0x03,  // 65536 colours
                       0x32,  // quality 50
                       0x02,  // priority
                       0x02}));
    // Interlacing off and on; JPEG at quality 30.
    EXPECT_EQ(Vec(EncodeOptions({1, 0, 126, 30, 3, 40})),
              (ByteVec{0x04, 0x01, 0x00, 0x00, 0x7E, 0x1E, 0x03, 0x28}));
    EXPECT_EQ(Vec(EncodeOptions({3, 1, 0, 50, 1, 1})),
              (ByteVec{0x04, 0x05, 0x01, 0x00, 0x00, 0x32, 0x01, 0x01}));
}

TEST(MessageBytes, PointerEvent) {
    EXPECT_EQ(Vec(EncodePointer(PointerAction::Down, 207, 319)),
              (ByteVec{0x06,           // PointerEvent
                       0x01,           // down
                       0x00, 0xCF,     // x 207
                       0x01, 0x3F}));  // y 319
    EXPECT_EQ(Vec(EncodePointer(PointerAction::Drag, 0, 0)), (ByteVec{0x06, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Vec(EncodePointer(PointerAction::Up, 1, 2)), (ByteVec{0x06, 2, 0, 1, 0, 2}));
}

TEST(MessageBytes, TextMessagesCarryA16BitLengthAndNoTerminator) {
    EXPECT_EQ(EncodeText(PcMsg::TypeText, "Hi!"), (ByteVec{0x08, 0x00, 0x03, 'H', 'i', '!'}));
    EXPECT_EQ(EncodeText(PcMsg::SetPhoneClipboard, ""), (ByteVec{0x09, 0x00, 0x00}));
    const std::string exact(65535, 'x');
    EXPECT_EQ(EncodeText(PcMsg::TypeText, exact).size(), 3u + 65535u);
}

TEST(MessageBytes, TextsOver65535BytesAreCutSoTheStreamStaysInStep) {
    const std::string longText(70000, 'y');
    const ByteVec out = EncodeText(PcMsg::SetPhoneClipboard, longText);
    ASSERT_EQ(out.size(), 3u + 65535u);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0xFF);
}

struct Connected {
    Connected() { link.AttachTransport(transport); }
    RecordingTransport transport;
    CRelayLink link;
};

TEST(Senders, EachMessageGoesOutAsOneBlock) {
    Connected c;
    EXPECT_TRUE(c.link.SendKey(1, KeyAction::Click));
    EXPECT_TRUE(c.link.SendChar('a'));
    EXPECT_TRUE(c.link.SendOptions(1, 2, 0, 50, 2, 2));
    EXPECT_TRUE(c.link.SendPointer(PointerAction::Down, 3, 4));
    EXPECT_TRUE(c.link.SendText("abc"));
    EXPECT_TRUE(c.link.SendPhoneClipboard("de"));
    EXPECT_TRUE(c.link.RequestPhoneClipboard());
    EXPECT_TRUE(c.link.SendBye());
    ASSERT_EQ(c.transport.sendCalls.size(), 8u);
    const std::vector<std::size_t> sizes = {6, 14, 8, 6, 6, 5, 1, 1};
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(c.transport.sendCalls[i].size(), sizes[i]) << i;
    EXPECT_EQ(c.transport.sent, Concat({{0x02, 0x02, 0, 0, 0, 1},
                                        {0x03, 0, 0, 0, 0, 4, 0, 3, 0, 'a', 0, 0, 0, 0},
                                        {0x04, 1, 1, 1, 0, 50, 2, 2},
                                        {0x06, 1, 0, 3, 0, 4},
                                        {0x08, 0, 3, 'a', 'b', 'c'},
                                        {0x09, 0, 2, 'd', 'e'},
                                        {0x0A},
                                        {0xFF}}));
}

TEST(Senders, PartialSendsAreContinuedUntilTheBlockIsOut) {
    Connected c;
    c.transport.maxChunk = 3;
    EXPECT_TRUE(c.link.SendChar(0x41));
    EXPECT_EQ(c.transport.sendCalls.size(), 5u);  // 14 bytes, 3 at a time
    EXPECT_EQ(c.transport.sent, Vec(EncodeChar(0x41)));
}

TEST(Senders, AFailedSendResetsTheSyncAndClosesTheLink) {
    RecordingTransport transport;
    RecordingView view;
    CRelayLink link;
    link.SetView(&view);
    link.AttachTransport(transport);
    link.BeginAttempt();
    const ByteVec sync = SyncBytes();
    link.OnReceive(sync);
    ASSERT_TRUE(link.Synced());

    transport.failSends = true;
    EXPECT_FALSE(link.SendKey(1, KeyAction::Click));
    EXPECT_FALSE(link.Synced());
    EXPECT_FALSE(link.HelloSent());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(transport.closes, 1);
    EXPECT_EQ(link.ConnectState(), 0);
    EXPECT_EQ(view.events, (std::vector<std::string>{"synced", "lost"}));
}

TEST(Senders, NothingIsSentWithoutAConnection) {
    CRelayLink link;
    EXPECT_FALSE(link.SendBye());
    EXPECT_FALSE(link.SendText("x"));
    link.SendHello(false);
    EXPECT_FALSE(link.HelloSent());
}

}  // namespace
}  // namespace velarix::test
