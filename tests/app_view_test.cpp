// The Qt view and frame over a fake transport: painted pixels at zoom 1 and
// 2 for every pixel format, input as exact bytes, window sizes, toolbar and
// menu states, screenshot to the clipboard and the window modes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "FrameRig.h"
#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "app/CMainFrame.h"
#include "app/CTrayIcon.h"
#include "settings/MemorySettingsBackend.h"
#include "status/CHtmlCtrl.h"
#include "view/CChildView.h"

namespace velarix::test {
namespace {

struct Frame : FrameRig {
    explicit Frame(int zoom = 1) : FrameRig(std::make_shared<MemorySettingsBackend>(), zoom) {}
    QImage Grab() const { return view()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// What a screen pixel should be after the buffer's top byte is dropped.
QRgb Expected(std::uint32_t pixel) {
    return 0xFF000000u | (pixel & 0x00FFFFFFu);
}

TEST(ViewPainting, EveryPixelFormatIsPaintedAtZoomOneAndTwo) {
    for (int zoom : {1, 2}) {
        for (int code : {0, 1, 2, 3, 4}) {
            Frame f(zoom);
            f.Sync();
            std::vector<LineRecord> lines;
            for (int y = 0; y < 320; y += 7)
                lines.push_back({y, RandomBytes(LineBytes(code), std::uint32_t(y + code))});
            lines.push_back({319, RandomBytes(LineBytes(code), 99)});
            // The 104-byte rule needs room after the last 4-grey line.
            f.Feed(Message(0, FrameRecord(std::uint8_t(code), lines, 0, 0)));
            const QImage img = f.Grab();
            const auto screen = f.view()->Core().Screen();
            for (int y = 0; y < 320; y += 7) {
                for (int x = 0; x < 208; x += 13) {
                    const std::uint32_t px = screen[std::size_t(319 - y) * 208 + std::size_t(x)];
                    for (int dy = 0; dy < zoom; ++dy)
                        for (int dx = 0; dx < zoom; ++dx)
                            ASSERT_EQ(img.pixel(3 + x * zoom + dx, 2 + y * zoom + dy), Expected(px))
                                << "zoom " << zoom << " code " << code << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ViewPainting, FrameAroundTheScreenAndTheSunkenEdge) {
    Frame f;
    f.Sync();
    const QImage img = f.Grab();
    ASSERT_EQ(img.size(), QSize(214, 324));
    EXPECT_EQ(img.pixel(0, 0), qRgb(214, 211, 206));
    EXPECT_EQ(img.pixel(2, 100), qRgb(144, 144, 144));    // dark left edge
    EXPECT_EQ(img.pixel(100, 1), qRgb(144, 144, 144));    // dark top edge
    EXPECT_EQ(img.pixel(211, 100), qRgb(240, 240, 240));  // light right edge
    EXPECT_EQ(img.pixel(100, 323), qRgb(240, 240, 240));  // light bottom edge
    EXPECT_EQ(img.pixel(3, 2), qRgb(255, 255, 255));      // the white screen starts here
}

TEST(ViewPainting, StatusPageShowsWhileDisconnectedAndHidesWhenSynced) {
    Frame f;
    EXPECT_TRUE(f.view()->StatusPage()->isVisible());
    EXPECT_EQ(f.view()->StatusPage()->geometry(), QRect(2, 1, 210, 322));
    f.Sync();
    EXPECT_FALSE(f.view()->StatusPage()->isVisible());
    f.Feed(Message(255));
    EXPECT_TRUE(f.view()->StatusPage()->isVisible());
}

TEST(FrameLayout, ClientSizeFollowsTheZoom) {
    Frame one(1);
    EXPECT_EQ(one.view()->size(), QSize(214, 324));
    Frame two(2);
    EXPECT_EQ(two.view()->size(), QSize(422, 644));
    EXPECT_EQ(two.view()->StatusPage()->geometry(), QRect(2, 1, 418, 642));
    one.frame->OnCommand(cmd::kZoom);
    EXPECT_EQ(one.view()->size(), QSize(422, 644));
    EXPECT_GE(one.frame->height(), 644);
}

TEST(ViewInput, ClicksAndKeysBecomeExactPhoneMessages) {
    Frame f(2);
    f.Sync();
    f.view()->setFocus();
    QTest::mouseClick(f.view(), Qt::LeftButton, Qt::NoModifier, QPoint(103, 202));
    EXPECT_EQ(f.transport.TakeSent(), Concat({{0x06, 1, 0, 50, 0, 100}, {0x06, 2, 0, 50, 0, 100}}));

    QTest::keyClick(f.view(), Qt::Key_A);
    EXPECT_EQ(f.transport.TakeSent(),
              Concat({{0x03, 0, 0, 0, 0, 4, 0, 3, 0, 97, 0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0}}));
    QTest::keyClick(f.view(), Qt::Key_Left);
    EXPECT_EQ(f.transport.TakeSent(), Concat({{0x02, 1, 0, 0, 0, 14}, {0x02, 0, 0, 0, 0, 14}}));
    QTest::keyClick(f.view(), Qt::Key_5);
    EXPECT_EQ(f.transport.TakeSent(), Concat({{0x02, 2, 0, 0, 0, 53}, {0x02, 0, 0, 0, 0, 0}}));

    // A press on the frame around the screen sends nothing.
    QTest::mouseClick(f.view(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
    EXPECT_TRUE(f.transport.sent.empty());
}

TEST(ViewInput, NothingReachesThePhoneWhileDisconnected) {
    Frame f;
    QTest::keyClick(f.view(), Qt::Key_Left);
    QTest::mouseClick(f.view(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_TRUE(f.transport.sent.empty());
}

TEST(FrameCommands, ConnectButtonFollowsTheToolbarRule) {
    Frame f;
    f.frame->RefreshCommandStates();
    QAction* button = f.frame->MainToolBar()->actions().at(0);
    EXPECT_EQ(button->text(), "Connect via PC Suite/mRouter");
    EXPECT_TRUE(button->isEnabled());
    f.Sync();
    f.frame->RefreshCommandStates();
    EXPECT_EQ(button->text(), "Disconnect from your phone");
    EXPECT_TRUE(button->isEnabled());
    button->trigger();
    EXPECT_EQ(f.transport.TakeSent(), ByteVec{0xFF});

    Frame noRelay;
    noRelay.view()->Core().SetRouterPort(0);
    noRelay.frame->RefreshCommandStates();
    QAction* b = noRelay.frame->MainToolBar()->actions().at(0);
    EXPECT_EQ(b->text(), "Disconnect from your phone");
    EXPECT_FALSE(b->isEnabled());
}

TEST(FrameCommands, MenuItemsCarryTheirTextsAndStates) {
    Frame f;
    QStringList menus;
    for (QAction* a : f.frame->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "Edit", "&View", "&Options", "&Extras", "&?"}));
    f.frame->RefreshCommandStates();
    EXPECT_FALSE(f.frame->Action(cmd::kEditCopy)->isEnabled());
    EXPECT_TRUE(f.frame->Action(cmd::kColor4096)->isChecked());
    EXPECT_TRUE(f.frame->Action(cmd::kInterlaceAuto)->isChecked());
    EXPECT_TRUE(f.frame->Action(cmd::kRate20Hz)->isChecked());
    EXPECT_TRUE(f.frame->Action(cmd::kPriorityLow + 2)->isChecked());
    f.Sync();
    f.frame->RefreshCommandStates();
    EXPECT_TRUE(f.frame->Action(cmd::kEditCopy)->isEnabled());
    f.frame->Action(cmd::kColor256)->trigger();
    EXPECT_TRUE(f.frame->Action(cmd::kColor256)->isChecked());
    EXPECT_FALSE(f.frame->Action(cmd::kColor4096)->isChecked());
    EXPECT_EQ(f.transport.TakeSent(), (ByteVec{0x04, 1, 1, 1, 1, 50, 2, 2}));
}

TEST(FrameCommands, StatusValuePaneShowsKilobytes) {
    Frame f;
    f.Sync();
    f.Feed(Message(128, Be32(5 * 1024 + 3)));
    f.frame->RefreshCommandStates();
    EXPECT_EQ(f.frame->StatusValuePane()->text(), "5");
}

TEST(FrameCommands, ScreenshotButtonFollowsClipboardAction) {
    auto backend = std::make_shared<MemorySettingsBackend>();
    SettingsStore(backend).WriteInt("Screenshot", "ClipboardAction", 1);
    CMainFrame frame{SettingsStore(backend)};
    auto* button = frame.findChild<QToolButton*>("screenshotButton");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->defaultAction()->text(), "Save screenshot");
    frame.OnCommand(cmd::kChooseCopyScreenshot);
    EXPECT_EQ(button->defaultAction()->text(), "Copy screenshot to clipboard");
    EXPECT_EQ(*backend->ReadInt("Screenshot", "ClipboardAction"), 0u);
    frame.View()->Core().Shutdown();
}

TEST(Screenshots, CopyPutsTheUnzoomedScreenOnTheClipboard) {
    Frame f(2);
    f.Sync();
    f.Feed(Message(0, FrameRecord(1, {{0, RandomBytes(208, 5)}, {200, RandomBytes(208, 6)}})));
    f.frame->OnCommand(cmd::kCopyScreenshot);
    const QImage img = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(img.size(), QSize(208, 320));
    const auto screen = f.view()->Core().Screen();
    for (int y : {0, 1, 200, 319})
        for (int x : {0, 100, 207})
            EXPECT_EQ(img.pixel(x, y),
                      Expected(screen[std::size_t(319 - y) * 208 + std::size_t(x)]));
}

TEST(PhoneData, ClipboardTextTravelsAsWindows1252BothWays) {
    Frame f;
    f.Sync();
    f.Feed(Message(10, {0, 7, 'c', 'a', 'f', 0xE9, 0x93, 0x80, 0x94}));
    QCoreApplication::processEvents();  // the text is set once the turn is over
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString::fromUtf8("caf\xC3\xA9\xE2\x80\x9C\xE2\x82\xAC\xE2\x80\x9D"));  // café“€”
    // é€! and a character outside the code page (U+0101).
    QApplication::clipboard()->setText(QString::fromUtf8("\xC3\xA9\xE2\x82\xAC!\xC4\x81"));
    f.frame->OnCommand(cmd::kEditPaste);
    EXPECT_EQ(f.transport.TakeSent(), (ByteVec{0x08, 0, 4, 0xE9, 0x80, '!', '?'}));
}

// Counts the reads of the event settings, which every refresh of the command
// states makes.
class CountingBackend final : public ISettingsBackend {
public:
    std::optional<std::uint32_t> ReadInt(std::string_view section, std::string_view key) override {
        if (section == "Events") ++eventReads;
        return inner.ReadInt(section, key);
    }
    std::optional<std::string> ReadString(std::string_view section, std::string_view key) override {
        return inner.ReadString(section, key);
    }
    void WriteInt(std::string_view section, std::string_view key, std::uint32_t value) override {
        inner.WriteInt(section, key, value);
    }
    void WriteString(std::string_view section, std::string_view key,
                     std::string_view value) override {
        inner.WriteString(section, key, value);
    }
    MemorySettingsBackend inner;
    int eventReads = 0;
};

// A phone that sends its clipboard text over and over: the command states are
// refreshed on the frame's refresh timer, not once per message.
TEST(PhoneData, ClipboardTextFloodRefreshesTheCommandStatesBoundedly) {
    const auto backend = std::make_shared<CountingBackend>();
    CMainFrame frame{SettingsStore(backend)};
    frame.show();
    RecordingTransport transport;
    frame.View()->Core().SetRouterPort(4242);
    frame.View()->Core().Link().AttachTransport(transport);
    frame.View()->Core().Link().OnReceive(SyncBytes());
    QTest::qWait(400);  // the refresh after the sync is done
    backend->eventReads = 0;
    frame.RefreshCommandStates();
    const int perRefresh = backend->eventReads;
    ASSERT_GT(perRefresh, 0);

    backend->eventReads = 0;
    for (int i = 0; i < 300; ++i) {
        const auto digit = static_cast<std::uint8_t>('0' + i % 10);
        frame.View()->Core().Link().OnReceive(Message(10, {0, 2, 'a', digit}));
    }
    QTest::qWait(400);
    EXPECT_EQ(QApplication::clipboard()->text(), "a9");
    EXPECT_LE(backend->eventReads, 2 * perRefresh);
    EXPECT_GE(backend->eventReads, perRefresh);  // but the states are refreshed
    frame.View()->Core().Shutdown();
}

TEST(WindowModes, ClosingWithStayInTrayHidesAndSendsBackgroundOptions) {
    Frame f;
    f.Sync();
    SettingsStore(f.backend).WriteInt("View", "SystemTray", 1);
    f.frame->close();
    EXPECT_TRUE(f.frame->TrayIcon()->IsShown());
    EXPECT_EQ(f.transport.TakeSent(), (ByteVec{0x04, 1, 1, 0, 0, 50, 1, 40}));
    f.frame->OnCommand(cmd::kOpenFromTray);
    EXPECT_TRUE(f.frame->isVisible());
    EXPECT_FALSE(f.frame->TrayIcon()->IsShown());
    EXPECT_EQ(f.transport.TakeSent(), (ByteVec{0x04, 1, 1, 1, 0, 50, 2, 2}));
}

TEST(WindowModes, FramelessMasksToTheScreenAndTheToggleIsStored) {
    Frame f;
    f.frame->OnCommand(cmd::kHideFrame);
    EXPECT_EQ(*f.backend->ReadInt("View", "Frameless"), 1u);
    EXPECT_TRUE(f.frame->FramelessApplied());
    EXPECT_FALSE(f.frame->mask().isEmpty());
    f.frame->ApplyWindowRegion(true);
    EXPECT_FALSE(f.frame->FramelessApplied());
    EXPECT_TRUE(f.frame->mask().isEmpty());
    f.frame->OnCommand(cmd::kHideFrame);
    EXPECT_EQ(*f.backend->ReadInt("View", "Frameless"), 0u);
}

TEST(WindowModes, AlwaysOnTopToggles) {
    Frame f;
    f.frame->OnCommand(cmd::kAlwaysOnTop);
    EXPECT_TRUE(f.frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(f.frame->Action(cmd::kAlwaysOnTop)->isChecked());
    f.frame->OnCommand(cmd::kAlwaysOnTop);
    EXPECT_FALSE(f.frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

}  // namespace
}  // namespace velarix::test
