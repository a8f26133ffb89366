// The view's decisions without a window: options and commands with their
// exact bytes and settings, command states, phone data and events, and the
// switch between the connected and disconnected presentations.
#include <gtest/gtest.h>

#include <algorithm>

#include "ViewDoubles.h"
#include "view/Cp1252.h"

namespace velarix::test {
namespace {

const ByteVec kHello(16, 0x55);

TEST(ViewOptions, SyncSendsHelloOptionsSyncAckAndStoresAllSixOptions) {
    ConnectedView v(false);
    v.Feed(SyncBytes());
    EXPECT_EQ(v.transport.sent,
              Concat({kHello, {0x04, 0x01, 0x01, 0x01, 0x00, 0x32, 0x02, 0x02}, {0x01}}));
    for (auto key :
         {"Compression", "Interlaced", "ColorMode", "JpegQuality", "Priority", "TimerDiv"})
        EXPECT_TRUE(v.backend->ReadInt("General", key).has_value()) << key;
    EXPECT_FALSE(v.backend->ReadInt("General", "Zoom").has_value());
    EXPECT_EQ(v.view.ActiveLink(), &v.view.Link());
    EXPECT_EQ(v.host.calls, (std::vector<std::string>{"screen", "activate", "redraw"}));
}

TEST(ViewOptions, StoredOptionsAreReadAtCreationAndSentAtSync) {
    auto backend = std::make_shared<MemorySettingsBackend>();
    SettingsStore store(backend);
    store.SetCompression(5);
    store.SetInterlaced(2);
    store.SetColorMode(3);
    store.WriteInt("General", "JpegQuality", 50);
    store.WriteInt("General", "Priority", 2);
    store.WriteInt("General", "TimerDiv", 2);
    RecordingTransport transport;
    RecordingHost host;
    ViewCore view(host, store);
    view.Link().AttachTransport(transport);
    view.Link().OnReceive(SyncBytes());
    EXPECT_EQ(transport.sent,
              Concat({kHello, {0x04, 0x09, 0x01, 0x01, 0x03, 0x32, 0x02, 0x02}, {0x01}}));
}

TEST(ViewOptions, JpegItemSwitchesTheColourModeAndUnchecksTheOthers) {
    ConnectedView v;
    v.view.OnCommand(cmd::kColor256);
    v.transport.TakeSent();
    v.view.OnCommand(cmd::kJpeg30);
    EXPECT_EQ(v.transport.sent, (ByteVec{0x04, 0x01, 0x01, 0x01, 0x7E, 0x1E, 0x02, 0x02}));
    EXPECT_FALSE(v.view.QueryCommand(cmd::kColor256)->checked);
    EXPECT_TRUE(v.view.QueryCommand(cmd::kJpeg30)->checked);
    EXPECT_FALSE(v.view.QueryCommand(cmd::kJpeg50)->checked);
    EXPECT_EQ(v.Int("General", "ColorMode"), 126u);
    EXPECT_EQ(v.Int("General", "JpegQuality"), 30u);
}

TEST(ViewOptions, EveryOptionCommandStoresAndSendsItsValue) {
    struct Case {
        int id;
        std::size_t byte;
        std::uint8_t value;
    };
    const Case cases[] = {
        {cmd::kCompression1 + 4, 1, 9},
        {cmd::kCompression1 + 1, 1, 3},
        {cmd::kInterlaceOff, 2, 0},
        {cmd::kInterlaceOn, 3, 0},
        {cmd::kColor64K, 4, 3},
        {cmd::kGrey16, 4, 2},
        {cmd::kGrey4, 4, 4},
        {cmd::kJpeg70, 5, 70},
        {cmd::kPriorityLow + 3, 6, 3},
        {cmd::kPriorityLow, 6, 0},
        {cmd::kRate40Hz, 7, 1},
        {cmd::kRate1Hz, 7, 40},
        {cmd::kRate5Hz, 7, 8},
    };
    for (const Case& c : cases) {
        ConnectedView v;
        EXPECT_TRUE(v.view.OnCommand(c.id));
        ASSERT_EQ(v.transport.sent.size(), 8u) << c.id;
        EXPECT_EQ(v.transport.sent[c.byte], c.value) << c.id;
        EXPECT_TRUE(v.view.QueryCommand(c.id)->checked) << c.id;
    }
}

TEST(ViewOptions, OptionCommandsWhileDisconnectedAreStoredAndSentAtTheNextSync) {
    ConnectedView v(false);
    v.view.OnCommand(cmd::kRate10Hz);
    EXPECT_TRUE(v.transport.sent.empty());
    EXPECT_EQ(v.Int("General", "TimerDiv"), 4u);
    v.Feed(SyncBytes());
    EXPECT_EQ(v.transport.sent,
              Concat({kHello, {0x04, 0x01, 0x01, 0x01, 0x00, 0x32, 0x02, 0x04}, {0x01}}));
}

TEST(ViewOptions, HidingInTheTraySendsBackgroundOptionsWithoutStoringThem) {
    ConnectedView v;
    v.view.OnCommand(cmd::kInterlaceOff);
    v.view.OnCommand(cmd::kPriorityLow + 3);
    v.view.OnCommand(cmd::kRate40Hz);
    v.transport.TakeSent();
    v.view.SendPhoneOptions(true);
    EXPECT_EQ(v.transport.sent, (ByteVec{0x04, 0x01, 0x01, 0x00, 0x00, 0x32, 0x01, 0x28}));
    EXPECT_EQ(v.Int("General", "Interlaced"), 0u);
    EXPECT_EQ(v.Int("General", "Priority"), 3u);
    EXPECT_EQ(v.Int("General", "TimerDiv"), 1u);
    v.transport.TakeSent();
    v.view.SendPhoneOptions(false);
    EXPECT_EQ(v.transport.sent, (ByteVec{0x04, 0x01, 0x00, 0x00, 0x00, 0x32, 0x03, 0x01}));
}

TEST(ViewCommands, TaskListPressesNowAndReleasesWhenTimerTwoFires) {
    ConnectedView v;
    v.view.OnCommand(cmd::kTaskList);
    EXPECT_EQ(v.transport.sent, (ByteVec{0x02, 0x01, 0x00, 0x00, 0x00, 0xB4}));
    EXPECT_EQ(v.host.calls, (std::vector<std::string>{"timer 2 2000"}));
    v.transport.TakeSent();
    v.view.OnTimer(kTimerTaskList);
    EXPECT_EQ(v.transport.sent, (ByteVec{0x02, 0x00, 0x00, 0x00, 0x00, 0xB4}));
    EXPECT_EQ(v.host.calls.back(), "kill 2");
}

TEST(ViewCommands, SimulatedKeysClickTheirPhoneKeys) {
    const std::pair<int, std::uint8_t> cases[] = {{cmd::kKeyAbc, 18},
                                                  {cmd::kKeyClear, 1},
                                                  {cmd::kKeyStar, 42},
                                                  {cmd::kKeyHash, 127},
                                                  {cmd::kKeyOnOff, 166}};
    for (const auto& [id, key] : cases) {
        ConnectedView v;
        v.view.OnCommand(id);
        EXPECT_EQ(v.transport.sent, (ByteVec{0x02, 0x02, 0, 0, 0, key})) << id;
    }
}

TEST(ViewCommands, DisconnectSaysByeThenClosesWhenTimerOneFires) {
    ConnectedView v;
    v.view.OnCommand(cmd::kDisconnect);
    EXPECT_EQ(v.transport.sent, ByteVec{0xFF});
    EXPECT_EQ(v.transport.closes, 0);
    EXPECT_EQ(v.host.calls, (std::vector<std::string>{"timer 1 200"}));
    v.view.OnTimer(kTimerDisconnect);
    EXPECT_EQ(v.transport.closes, 1);
    EXPECT_EQ(v.view.ActiveLink(), nullptr);
    EXPECT_FALSE(v.view.Link().IsOpen());
    EXPECT_EQ(v.view.Link().ConnectState(), 0);
    EXPECT_EQ(v.host.calls, (std::vector<std::string>{"timer 1 200", "kill 1", "page", "refresh",
                                                      "link lost", "redraw"}));
}

TEST(ViewCommands, ConnectDropsAnActiveLinkFirst) {
    ConnectedView v;
    v.view.OnCommand(cmd::kConnect);
    EXPECT_EQ(v.transport.sent, ByteVec{0xFF});
    EXPECT_EQ(v.view.ActiveLink(), nullptr);
    EXPECT_EQ(v.host.calls.back(), "connect");
}

TEST(ViewCommands, StatesFollowTheLinkAndTheToolbarRule) {
    ConnectedView off(false);
    for (int id :
         {cmd::kTaskList, cmd::kKeyAbc, cmd::kKeyClear, cmd::kKeyStar, cmd::kEditCopy,
          cmd::kCopyScreenshot, cmd::kSaveScreenshot, cmd::kDisconnect, cmd::kTrayDisconnect})
        EXPECT_FALSE(off.view.QueryCommand(id)->enabled) << id;
    for (int id : {cmd::kKeyHash, cmd::kKeyOnOff, cmd::kConnect, cmd::kTrayConnect, cmd::kColor64K})
        EXPECT_TRUE(off.view.QueryCommand(id)->enabled) << id;
    EXPECT_FALSE(off.view.ToolbarShowsDisconnect());

    off.view.SetRouterPort(0);  // no relay: the button says Disconnect, disabled
    EXPECT_TRUE(off.view.ToolbarShowsDisconnect());
    EXPECT_FALSE(off.view.QueryCommand(cmd::kDisconnect)->enabled);
    EXPECT_FALSE(off.view.QueryCommand(cmd::kConnect)->enabled);

    ConnectedView on;
    EXPECT_TRUE(on.view.ToolbarShowsDisconnect());
    EXPECT_TRUE(on.view.QueryCommand(cmd::kDisconnect)->enabled);
    EXPECT_FALSE(on.view.QueryCommand(cmd::kTrayConnect)->enabled);
    EXPECT_FALSE(on.view.QueryCommand(cmd::kEditPaste)->enabled);  // no text on the clipboard
    on.host.clipboard = "x";
    EXPECT_TRUE(on.view.QueryCommand(cmd::kEditPaste)->enabled);
    EXPECT_EQ(on.view.QueryCommand(12345), std::nullopt);
}

TEST(ViewCommands, ZoomTogglesStoresAndMovesThePointerMapping) {
    ConnectedView v;
    v.view.OnCommand(cmd::kZoom);
    EXPECT_EQ(v.view.Zoom(), 2);
    EXPECT_EQ(v.Int("General", "Zoom"), 2u);
    EXPECT_TRUE(v.view.QueryCommand(cmd::kZoom)->checked);
    v.view.Input().ButtonDown(MouseButton::Left, 103, 202);
    EXPECT_EQ(v.transport.sent, (ByteVec{0x06, 0x01, 0x00, 0x32, 0x00, 0x64}));  // 50, 100
    v.view.OnCommand(cmd::kZoom);
    EXPECT_EQ(v.Int("General", "Zoom"), 1u);
}

TEST(ViewCommands, RepaintBandIsZoomedWithItsMargin) {
    ConnectedView v;
    v.Feed(Message(0, FrameRecord(1, {{10, ByteVec(208, 0)}, {12, ByteVec(208, 0)}})));
    EXPECT_EQ(v.host.repaints, (std::vector<Repaint>{{0, 10, 212, 16}}));
    EXPECT_TRUE(v.view.FrameReady());
    v.view.OnCommand(cmd::kZoom);
    v.Feed(Message(0, FrameRecord(1, {{10, ByteVec(208, 0)}})));
    EXPECT_EQ(v.host.repaints.back(), (Repaint{0, 20, 420, 24}));
}

TEST(ViewCommands, ClipboardCommandsSendTheTextOrTheRequest) {
    ConnectedView v;
    v.host.clipboard = "abc";
    v.view.OnCommand(cmd::kEditPaste);
    v.view.OnCommand(cmd::kPasteToPhoneClipboard);
    v.view.OnCommand(cmd::kEditCopy);
    EXPECT_EQ(v.transport.sent,
              Concat({{0x08, 0, 3, 'a', 'b', 'c'}, {0x09, 0, 3, 'a', 'b', 'c'}, {0x0A}}));
    v.Feed(Message(10, {0, 5, 'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(v.host.clipboard, "hello");
}

// A paste longer than the phone takes is cut to its limit, which keeps the
// stream in step, and the status bar says so.
TEST(ViewCommands, OverlongPasteIsCutAndTheUserIsTold) {
    for (const int id : {cmd::kEditPaste, cmd::kPasteToPhoneClipboard}) {
        for (const std::size_t length :
             {std::size_t{65535}, std::size_t{65536}, std::size_t{70000}}) {
            ConnectedView v;
            v.host.clipboard = std::string(length, 'x');
            v.view.OnCommand(id);
            const std::size_t kept = std::min<std::size_t>(length, 65535);
            ASSERT_EQ(v.transport.sent.size(), 3 + kept) << length;
            EXPECT_EQ(v.transport.sent[1], kept >> 8);
            EXPECT_EQ(v.transport.sent[2], kept & 0xFF);
            const std::vector<std::string> noted{
                "note The text was shortened to its first 65535 of " + std::to_string(length) +
                " characters: the phone takes no more at once."};
            EXPECT_EQ(v.host.calls, length > 65535 ? noted : std::vector<std::string>{}) << length;
        }
    }
}

TEST(PhoneEvents, RaiseTheWindowAsTheEventSettingsSay) {
    struct Case {
        std::uint8_t code;
        int ignoreAll, call, sms;
        bool raises;
        bool raisedThisTurn = false;  // an event before it in the same turn raised the window
    };
    const Case cases[] = {
        {0, 0, 1, 1, true},  {1, 0, 1, 1, true},        {0, 1, 1, 1, false},
        {1, 5, 1, 1, false}, {0, 0, 0, 1, false},       {1, 0, 1, 0, false},
        {2, 0, 1, 1, false}, {0, 0, 1, 1, false, true}, {1, 0, 1, 1, false, true}};
    for (const Case& c : cases) {
        ConnectedView v;
        v.host.raisedThisTurn = c.raisedThisTurn;
        SettingsStore s(v.backend);
        s.WriteInt("Events", "IgnoreAllEvents", c.ignoreAll);
        s.WriteInt("Events", "IncomingCall", c.call);
        s.WriteInt("Events", "IncomingSMS", c.sms);
        s.WriteInt("Events", "IncomingMMS", 1);
        v.Feed(Message(130, {c.code}));
        EXPECT_EQ(v.host.calls == std::vector<std::string>{"front"}, c.raises)
            << int(c.code) << " " << c.ignoreAll << c.call << c.sms;
    }
}

TEST(PhoneEvents, EventMenuTogglesAndItsStates) {
    ConnectedView v;
    EXPECT_TRUE(v.view.QueryCommand(cmd::kEventIncomingCall)->checked);  // default 1
    EXPECT_FALSE(v.view.QueryCommand(cmd::kEventIgnoreAll)->checked);
    v.view.OnCommand(cmd::kEventIgnoreAll);
    EXPECT_EQ(v.Int("Events", "IgnoreAllEvents"), 1u);
    for (int id : {cmd::kEventIncomingCall, cmd::kEventIncomingSms, cmd::kEventIncomingMms})
        EXPECT_FALSE(v.view.QueryCommand(id)->enabled) << id;
    EXPECT_TRUE(v.view.QueryCommand(cmd::kEventIgnoreAll)->enabled);

    SettingsStore(v.backend).WriteInt("Events", "IncomingSMS", 5);
    v.view.OnCommand(cmd::kEventIncomingSms);
    EXPECT_EQ(v.Int("Events", "IncomingSMS"), 0u);
    v.view.OnCommand(cmd::kEventIncomingSms);
    EXPECT_EQ(v.Int("Events", "IncomingSMS"), 1u);
}

TEST(PhoneStatus, StatusWordWithout64KBitForces4096Colours) {
    ConnectedView v;
    v.view.OnCommand(cmd::kColor64K);
    v.transport.TakeSent();
    v.Feed(Message(129, Be32(0x20)));
    EXPECT_TRUE(v.transport.sent.empty());
    EXPECT_TRUE(v.view.QueryCommand(cmd::kColor64K)->enabled);
    v.Feed(Message(129, Be32(0x10)));
    EXPECT_EQ(v.transport.sent, (ByteVec{0x04, 0x01, 0x01, 0x01, 0x00, 0x32, 0x02, 0x02}));
    EXPECT_EQ(v.Int("General", "ColorMode"), 0u);
    EXPECT_TRUE(v.view.QueryCommand(cmd::kColor4096)->checked);
    EXPECT_FALSE(v.view.QueryCommand(cmd::kColor64K)->enabled);
}

TEST(PhoneStatus, StatusPaneShowsTheValueIn1024s) {
    ConnectedView v;
    EXPECT_EQ(v.view.StatusPaneText(), "0");
    v.Feed(Message(128, Be32(1023)));
    EXPECT_EQ(v.view.StatusPaneText(), "0");
    v.Feed(Message(128, Be32(3 * 1024)));
    EXPECT_EQ(v.view.StatusPaneText(), "3");
    v.Feed(Message(128, Be32(0xFFFFFFFF)));
    EXPECT_EQ(v.view.StatusPaneText(), "4194303");
    ConnectedView off(false);
    EXPECT_EQ(off.view.StatusPaneText(), "");
}

TEST(LinkLifecycle, LosingTheLinkWhitensTheScreenAndShowsThePage) {
    ConnectedView v;
    v.Feed(Message(0, FrameRecord(1, {{0, ByteVec(208, 0)}})));
    EXPECT_EQ(v.view.Screen()[319 * 208], 0u);
    v.Feed(Message(255, {}));
    EXPECT_EQ(v.view.ActiveLink(), nullptr);
    EXPECT_EQ(v.view.Screen()[319 * 208], 0xFFFFFFFFu);
    EXPECT_EQ(v.host.calls, (std::vector<std::string>{"page", "refresh", "link lost", "redraw"}));
    EXPECT_GE(v.host.frameRefreshes, 1);
}

TEST(LinkLifecycle, DestroyingTheViewSaysByeOnAnActiveLink) {
    RecordingTransport transport;
    {
        auto backend = std::make_shared<MemorySettingsBackend>();
        RecordingHost host;
        ViewCore view(host, SettingsStore(backend));
        view.Link().AttachTransport(transport);
        view.Link().OnReceive(SyncBytes());
        transport.TakeSent();
    }
    EXPECT_EQ(transport.sent, ByteVec{0xFF});
    EXPECT_EQ(transport.closes, 1);
}

// A stream that falls out of step and finds its sync again on the same
// connection: the phone gets Hello, Options and SyncAck each time, but the
// window is brought forward only for the first sync of a connection.
TEST(LinkLifecycle, ResyncOfTheSameConnectionDoesNotActivateAgain) {
    const ByteVec outOfStep{0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    const ByteVec options{0x04, 0x01, 0x01, 0x01, 0x00, 0x32, 0x02, 0x02};
    struct Case {
        const char* what;
        bool newConnection;
        bool drawFrame;
        bool activates;
    };
    const Case cases[] = {
        {"re-sync", false, false, false},
        {"re-sync after a frame", false, true, false},
        {"a new connection", true, false, true},
    };
    for (const auto& c : cases) {
        RecordingTransport second;  // outlives the view, which says Bye on it
        ConnectedView v;
        if (c.drawFrame) v.Feed(Message(0, FrameRecord(1, {{0, ByteVec(208, 0)}})));
        v.transport.TakeSent();
        v.Feed(outOfStep);  // Hello goes out again at once
        ASSERT_EQ(v.view.ActiveLink(), nullptr) << c.what;
        if (c.newConnection) v.view.Link().AttachTransport(second);
        RecordingTransport& now = c.newConnection ? second : v.transport;
        v.host.calls.clear();
        v.Feed(SyncBytes());
        EXPECT_EQ(now.sent, Concat({kHello, options, {0x01}})) << c.what;
        const bool activated = std::count(v.host.calls.begin(), v.host.calls.end(), "activate") > 0;
        EXPECT_EQ(activated, c.activates) << c.what;
        EXPECT_EQ(v.view.Screen()[319 * 208], 0xFFFFFFFFu) << c.what;
    }
}

// ---- Windows-1252 clipboard text ----

TEST(Cp1252Text, EveryByteRoundTripsAndOthersBecomeQuestionMarks) {
    const struct {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"abc", u"abc"},
        {"\x80\x91\x92\x93\x94\x96\x97", u"\u20AC\u2018\u2019\u201C\u201D\u2013\u2014"},
        {"\x8A\x9F\xA0\xE9\xFF", u"\u0160\u0178\u00A0\u00E9\u00FF"},
        {"\x81\x8D\x8F\x90\x9D", u"\u0081\u008D\u008F\u0090\u009D"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cp1252ToUtf16(c.bytes), c.text) << c.bytes;
        EXPECT_EQ(Utf16ToCp1252(c.text), c.bytes) << c.bytes;
    }
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
    // Outside the code page: one '?' per character, a surrogate pair too.
    EXPECT_EQ(Utf16ToCp1252(u"\u0101x\U0001F600\u0080\xD800"), "?x???");
}

// ---- In the background ----

TEST(ViewOptions, BackgroundOptionsGoOnceAndAlsoAtASync) {
    ConnectedView v;
    v.view.SetInBackground(true);
    v.view.SetInBackground(true);
    EXPECT_EQ(v.transport.TakeSent(), (ByteVec{0x04, 1, 1, 0, 0, 0x32, 1, 40}));
    v.view.OnCommand(cmd::kColor256);  // a forced change while hidden stays in the background
    EXPECT_EQ(v.transport.TakeSent(), (ByteVec{0x04, 1, 1, 0, 1, 0x32, 1, 40}));
    EXPECT_EQ(v.Int("General", "TimerDiv"), 2u);
    // The stream falls out of step and syncs again while the window is
    // hidden: the Options at that sync are the background ones.
    v.Feed({0xFF, 0xFF, 0xFF, 0xFF, 0x00});
    v.Feed(SyncBytes());
    EXPECT_EQ(v.transport.TakeSent(), Concat({kHello, {0x04, 1, 1, 0, 1, 0x32, 1, 40}, {0x01}}));
    v.view.SetInBackground(false);
    v.view.SetInBackground(false);
    EXPECT_EQ(v.transport.TakeSent(), (ByteVec{0x04, 1, 1, 1, 1, 0x32, 2, 2}));
}

}  // namespace
}  // namespace velarix::test
