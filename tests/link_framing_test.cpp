// The sync search and the message loop, fed in every chunking from whole
// streams down to one byte at a time.
#include <gtest/gtest.h>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "link/PhoneLink.h"

namespace velarix::test {
namespace {

const ByteVec kHello(16, 0x55);
const ByteVec kSyncAck = {0x01};
const ByteVec kPingReply = {0x07};
const ByteVec kDefaultOptions = {0x04, 0x01, 0x01, 0x01, 0x00, 0x32, 0x02, 0x02};

// A connected link with a view that sends Options when it syncs, as the
// real view does.
struct Harness {
    Harness() {
        link.SetView(&view);
        view.onSynced = [](CPhoneLink& l) { l.SendOptions(PhoneOptions{}); };
        link.AttachTransport(transport);
    }
    void Feed(const ByteVec& bytes, std::size_t chunk = 0) {
        if (chunk == 0) chunk = bytes.size();
        for (std::size_t i = 0; i < bytes.size(); i += chunk)
            link.OnReceive(Bytes(bytes).subspan(i, std::min(chunk, bytes.size() - i)));
    }
    RecordingTransport transport;
    RecordingView view;
    CRelayLink link;
};

TEST(SyncSearch, GarbageThenPatternSyncsAndAnswersHelloOptionsSyncAckInOrder) {
    Harness h;
    h.Feed(Concat({RandomBytes(37, 1), SyncBytes()}));
    EXPECT_TRUE(h.link.Synced());
    EXPECT_EQ(h.transport.sent, Concat({kHello, kDefaultOptions, kSyncAck}));
    EXPECT_EQ(h.view.events, (std::vector<std::string>{"synced"}));
    EXPECT_EQ(h.link.RxCount(), 0u);  // garbage and pattern are gone
}

TEST(SyncSearch, HelloAlreadySentAtConnectIsNotRepeated) {
    Harness h;
    h.link.SendHello(false);
    h.Feed(SyncBytes());
    EXPECT_EQ(h.transport.sent, Concat({kHello, kDefaultOptions, kSyncAck}));
}

TEST(SyncSearch, PartialPatternIsCompletedByLaterReadsInEveryChunking) {
    const ByteVec stream = Concat({RandomBytes(5, 2), SyncBytes(), Message(7)});
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        Harness h;
        h.Feed(stream, chunk);
        EXPECT_TRUE(h.link.Synced()) << "chunk " << chunk;
        EXPECT_EQ(h.transport.sent, Concat({kHello, kDefaultOptions, kSyncAck, kPingReply}))
            << "chunk " << chunk;
    }
}

TEST(SyncSearch, MismatchInsideAPartialMatchResumesOneByteLater) {
    // 00 00 00 00 0A 55 ...: the first attempt fails at the fourth byte, the
    // real pattern starts one byte later.
    Harness h;
    h.Feed(Concat({{0x00}, SyncBytes()}));
    EXPECT_TRUE(h.link.Synced());
}

TEST(SyncSearch, UnmatchedInputIsHalvedFrom1024BytesOn) {
    Harness h;
    ByteVec garbage(3000, 0x55);  // no 00 00 00 0A in it
    h.Feed(garbage);
    EXPECT_EQ(h.link.RxCount(), 1500u);
    EXPECT_FALSE(h.link.Synced());
    EXPECT_EQ(h.transport.sent, kHello);

    Harness small;
    small.Feed(ByteVec(1023, 0x55));
    EXPECT_EQ(small.link.RxCount(), 1023u);
    small.Feed({0x55});
    EXPECT_EQ(small.link.RxCount(), 512u);
}

TEST(SyncSearch, PatternStraddlingTheHalvingPointSurvives) {
    Harness h;
    const ByteVec sync = SyncBytes();
    h.Feed(Concat({ByteVec(2000, 0x77), ByteVec(sync.begin(), sync.begin() + 6)}));
    EXPECT_FALSE(h.link.Synced());
    h.Feed(ByteVec(sync.begin() + 6, sync.end()));
    EXPECT_TRUE(h.link.Synced());
}

TEST(SyncSearch, InputWithoutViewStillSyncsAndAcknowledges) {
    RecordingTransport transport;
    CRelayLink link;
    link.AttachTransport(transport);
    const ByteVec sync = SyncBytes();
    link.OnReceive(sync);
    EXPECT_TRUE(link.Synced());
    EXPECT_EQ(transport.sent, Concat({kHello, kSyncAck}));
}

TEST(MessageLoop, TwoMessagesInOneReadAndOneSplitAcrossReadsAreAllDispatched) {
    const ByteVec stream = Concat({SyncBytes(), Message(7), Message(7), Message(7)});
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{7}, stream.size()}) {
        Harness h;
        h.Feed(stream, chunk);
        h.transport.sent.erase(h.transport.sent.begin(), h.transport.sent.begin() + 25);
        EXPECT_EQ(h.transport.sent, Concat({kPingReply, kPingReply, kPingReply}))
            << "chunk " << chunk;
        EXPECT_EQ(h.link.RxCount(), 0u);
    }
}

TEST(MessageLoop, IncompleteMessageWaitsForTheRest) {
    Harness h;
    h.Feed(SyncBytes());
    h.transport.TakeSent();
    const ByteVec ping = Message(128, Be32(42));
    h.Feed(ByteVec(ping.begin(), ping.end() - 1));
    EXPECT_TRUE(h.view.statusValues.empty());
    EXPECT_EQ(h.link.RxCount(), ping.size() - 1);
    h.Feed({ping.back()});
    EXPECT_EQ(h.view.statusValues, (std::vector<std::uint32_t>{42}));
}

TEST(MessageLoop, LengthLimitIs256000Inclusive) {
    Harness h;
    h.Feed(SyncBytes());
    // Exactly 256000: a message of an ignored type, accepted and consumed.
    ByteVec big = Message(131, ByteVec(256000 - 5, 0xAB));
    h.Feed(big, 4096);
    EXPECT_TRUE(h.link.Synced());
    EXPECT_EQ(h.link.RxCount(), 0u);

    // One more is a framing error: the sync is lost, the socket stays open.
    ByteVec tooBig = Be32(256001);
    tooBig.push_back(131);
    h.Feed(tooBig);
    EXPECT_FALSE(h.link.Synced());
    EXPECT_TRUE(h.link.IsOpen());
    EXPECT_EQ(h.view.events, (std::vector<std::string>{"synced", "lost"}));
}

TEST(MessageLoop, LengthBelowFiveIsAFramingError) {
    for (std::uint32_t length : {0u, 1u, 4u}) {
        Harness h;
        h.Feed(SyncBytes());
        ByteVec bad = Be32(length);
        bad.push_back(7);
        h.Feed(bad);
        EXPECT_FALSE(h.link.Synced()) << length;
        EXPECT_EQ(h.view.events.back(), "lost") << length;
    }
}

TEST(MessageLoop, AfterAFramingErrorTheNextPatternSyncsAgainWithAFreshHello) {
    Harness h;
    h.Feed(SyncBytes());
    h.transport.TakeSent();
    h.Feed(Concat({Be32(999999), {7}}));
    EXPECT_FALSE(h.link.Synced());
    EXPECT_EQ(h.transport.TakeSent(), kHello);  // the search starts again at once
    h.Feed(Concat({RandomBytes(20, 9), SyncBytes(), Message(7)}));
    EXPECT_TRUE(h.link.Synced());
    EXPECT_EQ(h.transport.sent, Concat({kDefaultOptions, kSyncAck, kPingReply}));
}

TEST(MessageLoop, APatternBehindALostSyncInTheSameReadIsFoundAtOnce) {
    Harness h;
    h.Feed(Concat({SyncBytes(), Message(255, {1}), SyncBytes(), Message(128, Be32(3))}));
    EXPECT_TRUE(h.link.Synced());
    EXPECT_EQ(h.view.statusValues, (std::vector<std::uint32_t>{3}));
    EXPECT_EQ(h.view.events, (std::vector<std::string>{"synced", "lost", "synced"}));
}

TEST(MessageLoop, PatternsEachFollowedByABadMessageCannotGrowTheBuffer) {
    Harness h;
    ByteVec read;
    for (int i = 0; i < 20; ++i) read = Concat({read, SyncBytes(), Be32(0xFFFFFFFF)});
    std::size_t most = 0;
    for (int i = 0; i < 2000; ++i) {
        h.Feed(read);
        most = std::max(most, h.link.RxCount());
    }
    EXPECT_LE(most, read.size() + 1024);
}

TEST(MessageLoop, IgnoredTypesAreConsumedWithoutEffect) {
    Harness h;
    h.Feed(SyncBytes());
    h.transport.TakeSent();
    h.Feed(Concat(
        {Message(0x55, ByteVec(5, 0x55)), Message(131, {1, 2, 3}), Message(200), Message(7)}));
    EXPECT_TRUE(h.link.Synced());
    EXPECT_EQ(h.transport.sent, kPingReply);
    EXPECT_EQ(h.view.events, (std::vector<std::string>{"synced"}));
}

// A few hundred bytes of compressed frame make a megabyte of work: with a
// budget the link stops between messages, and ContinueInput goes on in order.
ByteVec Bombs(int count) {
    ByteVec out;
    for (int i = 0; i < count; ++i) out = Concat({out, Message(1, ZlibBombPayload(i % 5))});
    return out;
}

TEST(WorkBudget, BombsAreHandledAFewPerCallInOrderWithThePingAnsweredLast) {
    const ByteVec stream = Concat({Bombs(12), Message(7), Message(128, Be32(5))});
    Harness reference;
    reference.Feed(Concat({SyncBytes(), stream}));
    const struct {
        std::size_t budget, split, mostPerCall;
    } cases[] = {
        {1, stream.size(), 1},  // one message per call
        {256 * 1024, stream.size(), 1},
        {2 * 1024 * 1024, stream.size(), 3},
        {256 * 1024, 1000, 1},  // more input arrives while the link is behind
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.budget);
        SCOPED_TRACE(c.split);
        Harness h;
        h.Feed(SyncBytes());
        h.transport.TakeSent();
        h.link.OnReceive(Bytes(stream).first(c.split), c.budget);
        EXPECT_TRUE(h.link.Behind());
        EXPECT_LE(h.view.repaints.size(), c.mostPerCall);
        if (c.split < stream.size()) {
            h.link.OnReceive(Bytes(stream).subspan(c.split), c.budget);
            EXPECT_LE(h.view.repaints.size(), 2 * c.mostPerCall);
        }
        // The Ping waits for every frame before it.
        for (int calls = 0; h.link.Behind() && calls < 100; ++calls) {
            EXPECT_TRUE(h.transport.sent.empty() || h.view.repaints.size() == 12);
            const std::size_t before = h.view.repaints.size();
            h.link.ContinueInput(c.budget);
            EXPECT_LE(h.view.repaints.size() - before, c.mostPerCall);
        }
        EXPECT_EQ(h.view.repaints.size(), 12u);
        EXPECT_EQ(h.transport.sent, kPingReply);
        EXPECT_EQ(h.view.statusValues, (std::vector<std::uint32_t>{5}));
        EXPECT_EQ(h.view.screen, reference.view.screen);
        EXPECT_EQ(h.view.repaints, reference.view.repaints);
    }
}

TEST(WorkBudget, ASyncBeforeEveryBombDoesNotRenewTheBudgetAndACloseDropsTheRest) {
    // Each bomb follows a fresh sync and loses it again with a bad length.
    ByteVec stream;
    for (int i = 0; i < 10; ++i) stream = Concat({stream, SyncBytes(), Bombs(1), Be32(~0u)});
    Harness h;
    h.link.OnReceive(stream, 1);
    ASSERT_LE(h.view.repaints.size(), 1u);
    while (h.view.repaints.size() < 5) {
        const std::size_t before = h.view.repaints.size();
        ASSERT_TRUE(h.link.Behind());
        h.link.ContinueInput(1);
        ASSERT_LE(h.view.repaints.size(), before + 1);
    }
    h.link.Close();
    EXPECT_FALSE(h.link.Behind());
    EXPECT_EQ(h.link.RxCount(), 0u);
}

}  // namespace
}  // namespace velarix::test
