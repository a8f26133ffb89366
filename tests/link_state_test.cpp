// Connection state, the phone's data messages, and the link's behaviour when
// the view or the transport calls back into it.
#include <gtest/gtest.h>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "link/PhoneLink.h"

namespace velarix::test {
namespace {

using Synced = SyncedLink;

TEST(ConnectState, ConnectNotificationFollowsTheSocketError) {
    const std::pair<SocketError, int> cases[] = {
        {SocketError::ConnectionRefused, 1},
        {SocketError::NetworkUnreachable, 2},
        {SocketError::NetworkDown, 3},
        {SocketError::ConnectionAborted, 3},
        {SocketError::Other, 3},
    };
    for (const auto& [error, state] : cases) {
        CRelayLink link;
        link.OnConnect(error);
        EXPECT_EQ(link.ConnectState(), state) << static_cast<int>(error);
    }
    RecordingTransport transport;
    CRelayLink link;
    link.AttachTransport(transport);
    link.BeginAttempt();
    link.OnConnect(SocketError::None);
    EXPECT_EQ(link.ConnectState(), 0);
    EXPECT_EQ(transport.sent, ByteVec(16, 0x55));  // Hello
}

TEST(ConnectState, PeerCloseOfAnUnsyncedLinkKeepsOrSetsTheHint) {
    const std::pair<SocketError, int> cases[] = {
        {SocketError::NetworkDown, 2},
        {SocketError::ConnectionAborted, 1},
        {SocketError::Other, 1},  // unchanged from the attempt's 1
        {SocketError::None, 1},
    };
    for (const auto& [error, state] : cases) {
        RecordingTransport transport;
        RecordingView view;
        CRelayLink link;
        link.SetView(&view);
        link.AttachTransport(transport);
        link.BeginAttempt();
        link.OnClose(error);
        EXPECT_EQ(link.ConnectState(), state) << static_cast<int>(error);
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(view.events, (std::vector<std::string>{"lost", "refresh"}));
    }
}

TEST(ConnectState, PeerCloseOfASyncedLinkClearsTheHint) {
    Synced s;
    s.link.OnClose(SocketError::NetworkDown);
    EXPECT_EQ(s.link.ConnectState(), 0);
    EXPECT_FALSE(s.link.Synced());
    EXPECT_EQ(s.view.events, (std::vector<std::string>{"lost", "refresh"}));
}

TEST(ConnectState, CloseByThePcClearsTheHintAndClosesTheTransportOnce) {
    Synced s;
    s.link.Close();
    EXPECT_EQ(s.link.ConnectState(), 0);
    EXPECT_FALSE(s.link.IsOpen());
    EXPECT_EQ(s.transport.closes, 1);
    s.link.Close();
    EXPECT_EQ(s.transport.closes, 1);
}

TEST(ConnectState, AnEmptyReadMeansThePeerClosed) {
    Synced s;
    s.link.OnReceive({});
    EXPECT_FALSE(s.link.Synced());
    EXPECT_FALSE(s.link.IsOpen());
    EXPECT_EQ(s.transport.closes, 1);
    EXPECT_EQ(s.view.events, (std::vector<std::string>{"lost"}));
}

TEST(ConnectState, AFailedReadClosesTheLink) {
    Synced s;
    s.link.OnReceiveFailed();
    EXPECT_FALSE(s.link.IsOpen());
    EXPECT_EQ(s.view.events, (std::vector<std::string>{"lost"}));
}

TEST(ConnectState, BytesOfAClosedConnectionNeverReachTheNextOne) {
    RecordingTransport next;  // outlives the link, which says Bye on it at the end
    Synced s;
    // Half a message is waiting when the phone says Bye and the link closes.
    ByteVec partial = Message(128, Be32(7));
    partial.resize(6);
    s.Feed(Concat({Message(255), partial}));
    EXPECT_FALSE(s.link.IsOpen());
    EXPECT_EQ(s.link.RxCount(), 0u);

    s.link.AttachTransport(next);
    s.Feed(Concat({SyncBytes(), Message(128, Be32(9))}));
    EXPECT_EQ(s.view.statusValues, (std::vector<std::uint32_t>{9}));
}

TEST(ConnectState, ALinkClosedByThePcStartsTheNextConnectionUnsynced) {
    RecordingTransport next;
    Synced s;
    s.link.Close();
    EXPECT_FALSE(s.link.Synced());
    EXPECT_FALSE(s.link.HelloSent());
    EXPECT_EQ(s.view.events, (std::vector<std::string>{"lost"}));

    s.link.AttachTransport(next);
    s.link.SendHello(false);
    s.Feed(Concat({SyncBytes(), Message(7)}));
    EXPECT_TRUE(s.link.Synced());
    EXPECT_EQ(next.sent, Concat({ByteVec(16, 0x55), ByteVec{0x01}, ByteVec{0x07}}));
}

TEST(PhoneBye, WithoutPayloadClosesTheSocket) {
    Synced s;
    s.Feed(Message(255));
    EXPECT_FALSE(s.link.Synced());
    EXPECT_FALSE(s.link.IsOpen());
    EXPECT_EQ(s.link.ConnectState(), 0);
    EXPECT_EQ(s.view.events, (std::vector<std::string>{"lost"}));
}

TEST(PhoneBye, WithPayloadOnlyResetsTheSyncAndTheNextPatternResyncs) {
    Synced s;
    s.Feed(Message(255, {1}));
    EXPECT_FALSE(s.link.Synced());
    EXPECT_TRUE(s.link.IsOpen());
    s.Feed(SyncBytes());
    EXPECT_TRUE(s.link.Synced());
    EXPECT_EQ(s.transport.sent, Concat({ByteVec(16, 0x55), ByteVec{0x01}}));
}

TEST(PhoneData, ClipboardTextIsCutAtItsLengthTheMessageEndOrAZeroByte) {
    Synced s;
    s.Feed(Message(10, {0x00, 0x03, 'a', 'b', 'c', 'd'}));   // length 3 of 4
    s.Feed(Message(10, {0x00, 0x09, 'x', 'y'}));             // length beyond the message
    s.Feed(Message(10, {0x00, 0x04, 'p', 0x00, 'q', 'r'}));  // stops at the zero byte
    s.Feed(Message(10, {0x00, 0x00}));                       // empty text
    s.Feed(Message(10, {0x00, 0x02, 0xE9, 0xFC}));           // 8-bit text passes as is
    EXPECT_EQ(s.view.clipboard,
              (std::vector<std::string>{"abc", "xy", "p", "", std::string("\xE9\xFC")}));
}

TEST(PhoneData, StatusValueWordAndEventsReachTheView) {
    Synced s;
    s.Feed(Message(128, Be32(0x12345678)));
    s.Feed(Message(129, Be32(0x20)));
    s.Feed(Message(130, {1}));
    EXPECT_EQ(s.link.StatusValue(), 0x12345678u);
    EXPECT_EQ(s.link.StatusWord(), 0x20u);
    EXPECT_EQ(s.view.statusValues, (std::vector<std::uint32_t>{0x12345678}));
    EXPECT_EQ(s.view.statusWords, (std::vector<std::uint32_t>{0x20}));
    EXPECT_EQ(s.view.phoneEvents, (std::vector<std::uint8_t>{1}));
}

TEST(PhoneData, MessagesShorterThanTheirFieldsAreIgnored) {
    Synced s;
    s.Feed(Message(128, {1, 2, 3}));
    s.Feed(Message(129, {1, 2, 3}));
    s.Feed(Message(130));
    s.Feed(Message(10, {5}));
    s.Feed(Message(7));  // the stream is still in step
    EXPECT_TRUE(s.view.statusValues.empty());
    EXPECT_TRUE(s.view.statusWords.empty());
    EXPECT_TRUE(s.view.phoneEvents.empty());
    EXPECT_TRUE(s.view.clipboard.empty());
    EXPECT_EQ(s.link.StatusValue(), 0u);
    EXPECT_EQ(s.transport.sent, ByteVec{0x07});
}

TEST(PhoneData, StatusSurvivesANewSync) {
    Synced s;
    s.Feed(Message(128, Be32(4096)));
    s.Feed(Message(255, {0}));
    s.Feed(SyncBytes());
    EXPECT_TRUE(s.link.Synced());
    EXPECT_EQ(s.link.StatusValue(), 4096u);
}

TEST(Reentry, ASendThatDeliversMoreInputDoesNotMoveTheMessageBeingHandled) {
    // A blocking send may run the event loop, which may deliver more data.
    struct PumpingTransport : ILinkTransport {
        long Send(Bytes bytes) override {
            sent.insert(sent.end(), bytes.begin(), bytes.end());
            if (link && !toDeliver.empty()) {
                ByteVec more;
                more.swap(toDeliver);
                link->OnReceive(more);
            }
            return static_cast<long>(bytes.size());
        }
        void Close() override {}
        CPhoneLink* link = nullptr;
        ByteVec toDeliver;
        ByteVec sent;
    } transport;
    RecordingView view;
    CRelayLink link;
    link.SetView(&view);
    link.AttachTransport(transport);
    transport.link = &link;
    const ByteVec first = Concat({SyncBytes(), Message(7), Message(128, Be32(1))});
    link.OnReceive(first);
    transport.toDeliver = Concat({Message(7), Message(128, Be32(2)), ByteVec(100000, 0)});
    link.OnReceive(Message(7));
    EXPECT_EQ(view.statusValues, (std::vector<std::uint32_t>{1, 2}));
}

TEST(Reentry, TheViewClosingTheLinkDuringADispatchStopsTheLoop) {
    Synced s;
    // Close from inside the status-word hook, as a view tearing down might.
    struct Hook : ILinkView {
        explicit Hook(CRelayLink& l) : link(l) {}
        void OnLinkSynced(CPhoneLink&) override {}
        void OnLinkLost(CPhoneLink&) override { ++lost; }
        void SetScreenSize(int, int) override {}
        std::span<std::uint32_t> ScreenPixels() override { return {}; }
        void RepaintLines(int, int, int, int) override {}
        void RefreshStatusPage() override {}
        void OnPhoneStatusWord(std::uint32_t) override { link.Close(); }
        void OnPhoneStatusValue(std::uint32_t) override { ++values; }
        CRelayLink& link;
        int lost = 0;
        int values = 0;
    } hook(s.link);
    s.link.SetView(&hook);
    s.Feed(Concat({Message(129, Be32(0)), Message(128, Be32(1)), Message(7)}));
    EXPECT_FALSE(s.link.IsOpen());
    EXPECT_EQ(hook.values, 0);
    EXPECT_TRUE(s.transport.sent.empty());
    EXPECT_EQ(s.link.RxCount(), 0u);
}

TEST(Lifetime, DestroyingASyncedLinkSaysByeWithoutCallingTheView) {
    RecordingTransport transport;
    RecordingView view;
    {
        CRelayLink link;
        link.SetView(&view);
        link.AttachTransport(transport);
        const ByteVec sync = SyncBytes();
        link.OnReceive(sync);
        transport.TakeSent();
        view.events.clear();
    }
    EXPECT_EQ(transport.sent, ByteVec{0xFF});
    EXPECT_EQ(transport.closes, 1);
    EXPECT_TRUE(view.events.empty());
}

}  // namespace
}  // namespace velarix::test
