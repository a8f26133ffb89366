// The frame as a desktop window, on the offscreen platform: options as the
// window leaves and comes back, frameless handling, the record bar on the
// screen, the relay's port file, menus and the toolbar, focus and keys, the
// remembered position and where saved files are announced.
#include <gtest/gtest.h>

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <functional>

#include "FrameRig.h"
#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "app/CIconMenu.h"
#include "app/CMainFrame.h"
#include "app/StatusBar.h"
#include "settings/MemorySettingsBackend.h"
#include "settings/SettingsKeys.h"
#include "view/CChildView.h"

namespace velarix::test {
namespace {

struct Desk : FrameRig {
    using FrameRig::FrameRig;
    void Set(const IntSetting& s, int v) const { Write(SettingsStore(backend), s, v); }
};

const ByteVec kForeground{0x04, 1, 1, 1, 0, 50, 2, 2};
const ByteVec kBackground{0x04, 1, 1, 0, 0, 50, 1, 40};

// ---- Leaving and coming back ----

TEST(WindowComesBack, EveryWayBackSendsTheForegroundOptionsOnce) {
    const struct {
        const char* name;
        bool tray;  // hidden in the tray; otherwise closing minimised it
        std::function<void(Desk&)> back;
    } cases[] = {
        {"tray open", true, [](Desk& d) { d.frame->OnCommand(cmd::kOpenFromTray); }},
        {"call", true, [](Desk& d) { d.Feed(Message(130, {0})); }},
        {"sms", true, [](Desk& d) { d.Feed(Message(130, {1})); }},
        {"restore", false, [](Desk& d) { d.frame->showNormal(); }},
    };
    for (const auto& c : cases) {
        Desk d;
        d.Sync();
        d.Set(setting::kSystemTray, 1);
        d.frame->close();  // offscreen there is no tray: it minimises
        if (c.tray) d.frame->hide();
        EXPECT_EQ(d.transport.TakeSent(), kBackground) << c.name;
        c.back(d);
        EXPECT_TRUE(d.frame->isVisible() && !d.frame->isMinimized()) << c.name;
        EXPECT_EQ(d.transport.TakeSent(), kForeground) << c.name;
        d.frame->showNormal();
        EXPECT_TRUE(d.transport.TakeSent().empty()) << c.name;
    }
    // Connecting while hidden starts in the background.
    Desk d;
    d.Set(setting::kSystemTray, 1);
    d.frame->close();
    d.frame->hide();
    d.Feed(SyncBytes());
    EXPECT_EQ(d.transport.TakeSent(), Concat({ByteVec(16, 0x55), kBackground, {0x01}}));
    EXPECT_EQ(Read(SettingsStore(d.backend), setting::kPriority), 2u);
    d.frame->OnCommand(cmd::kOpenFromTray);
    EXPECT_EQ(d.transport.TakeSent(), kForeground);
    // Minimised without a tray, a new sync restores the window: one Options,
    // the foreground ones.
    Desk m;
    m.Set(setting::kSystemTray, 1);
    m.frame->close();
    ASSERT_TRUE(m.frame->isMinimized());
    m.Feed(SyncBytes());
    EXPECT_FALSE(m.frame->isMinimized());
    EXPECT_EQ(m.transport.TakeSent(), Concat({ByteVec(16, 0x55), kForeground, {0x01}}));
}

// ---- Frameless ----

TEST(Frameless, OutlineLiesOnTheVisibleEdge) {
    Desk d;
    d.Sync();
    d.frame->OnCommand(cmd::kHideFrame);
    ASSERT_TRUE(d.frame->FramelessApplied());
    const QImage img = d.view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect visible = d.frame->mask().boundingRect().translated(-d.view()->pos());
    const QRgb black = qRgb(0, 0, 0);
    // Both outlines: the outermost visible pixels and one further in.
    for (int in : {0, 1}) {
        EXPECT_EQ(img.pixel(visible.left() + in, 100), black) << in;
        EXPECT_EQ(img.pixel(visible.right() - in, 100), black) << in;
        EXPECT_EQ(img.pixel(100, visible.top() + in), black) << in;
        EXPECT_EQ(img.pixel(100, visible.bottom() - in), black) << in;
    }
}

TEST(Frameless, OwnedWindowsAndPopupsKeepTheFrameShown) {
    for (bool popup : {false, true}) {
        const char* name = popup ? "popup" : "dialog";
        Desk d;
        d.frame->OnCommand(cmd::kHideFrame);
        d.frame->activateWindow();
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(d.view(), &enter);
        ASSERT_TRUE(d.frame->HoverShown()) << name;
        QWidget* w =
            popup ? static_cast<QWidget*>(new QMenu(d.frame.get())) : new QDialog(d.frame.get());
        if (popup) static_cast<QMenu*>(w)->addAction("x");
        w->show();
        w->activateWindow();
        w->setFocus();
        QApplication::processEvents();
        EXPECT_FALSE(d.frame->FramelessApplied()) << name;
        EXPECT_TRUE(d.frame->FrameInUse()) << name;
        // The pointer is elsewhere; the check still keeps the frame.
        QCursor::setPos(5000, 5000);
        d.frame->OnFrameTimer(kFrameTimerHover);
        EXPECT_FALSE(d.frame->FramelessApplied()) << name;
        w->close();
        delete w;
        QApplication::processEvents();
        d.frame->OnFrameTimer(kFrameTimerHover);
        EXPECT_TRUE(d.frame->FramelessApplied()) << name;
    }
}

TEST(Frameless, EmptyBarSpotsMoveTheWindow) {
    Desk d;
    auto press = [&](QWidget* w, QPoint at) {
        const int before = d.frame->FrameMoveRequests();
        QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, at);
        return d.frame->FrameMoveRequests() - before;
    };
    QMenuBar* bar = d.frame->menuBar();
    QPoint emptyMenu(-1, -1);  // the menus may wrap: find a spot without one
    for (int y = bar->height() - 3; y > 0 && emptyMenu.x() < 0; y -= 4)
        for (int x = bar->width() - 3; x > 0 && emptyMenu.x() < 0; x -= 4)
            if (!bar->actionAt(QPoint(x, y)) && !bar->childAt(QPoint(x, y))) emptyMenu = {x, y};
    ASSERT_GE(emptyMenu.x(), 0);
    const QPoint onFile = bar->actionGeometry(bar->actions().front()).center();
    EXPECT_EQ(press(bar, emptyMenu), 0);  // framed: the caption moves it
    d.frame->OnCommand(cmd::kHideFrame);
    d.frame->ApplyWindowRegion(true);
    QToolBar* tools = d.frame->MainToolBar();
    EXPECT_EQ(press(bar, emptyMenu), 1);
    EXPECT_EQ(press(tools, QPoint(tools->width() - 3, 5)), 1);
    EXPECT_EQ(press(d.frame->statusBar(), QPoint(2, 5)), 1);
    EXPECT_EQ(press(d.frame->StatusValuePane(), QPoint(2, 2)), 1);
    EXPECT_EQ(press(tools->widgetForAction(d.frame->Action(cmd::kRecordBar)), QPoint(5, 5)), 0);
    EXPECT_EQ(press(bar, onFile), 0);
    if (QWidget* p = QApplication::activePopupWidget()) p->close();
}

TEST(Frameless, TheMenuBarsWholeEmptyStripMovesTheWindow) {
    Desk d;
    d.frame->OnCommand(cmd::kHideFrame);
    d.frame->ApplyWindowRegion(true);
    // Too wide for all the menus: the last ones go into the overflow list.
    QMenuBar* bar = d.frame->menuBar();
    QFont font = bar->font();
    font.setPixelSize(2 * QFontInfo(font).pixelSize());
    bar->setFont(font);
    bar->actionGeometry(bar->actions().front());  // lays the bar out
    const auto* overflow = bar->findChild<QToolButton*>("qt_menubar_ext_button");
    ASSERT_TRUE(overflow && overflow->isVisible());
    int x = 0;
    for (QAction* a : bar->actions())
        if (const QRect r = bar->actionGeometry(a); r.right() < overflow->x())
            x = std::max(x, r.right() + 1);
    const int from = x;
    for (; x < overflow->x(); ++x)
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(x, bar->height() / 2));
    EXPECT_EQ(d.frame->FrameMoveRequests(), x - from);
    if (QWidget* p = QApplication::activePopupWidget()) p->close();
}

// ---- The recording bar ----

TEST(RecordBarPlacement, StaysWhollyOnTheFramesScreen) {
    const QRect screen(0, 0, 800, 600);
    const QSize bar(32, 80);
    const struct {
        QRect frame;
        QPoint at;
    } cases[] = {
        {QRect(400, 200, 222, 374), QPoint(368, 242)},  // left of the frame
        {QRect(0, 100, 222, 374), QPoint(222, 142)},    // no room left: on the right
        {QRect(-10, 100, 222, 374), QPoint(212, 142)},
        {QRect(10, 560, 800, 100), QPoint(768, 520)},  // no room either side: clamped
        {QRect(1800, 100, 222, 374), QPoint(768, 142)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecordBarPosition(c.frame, bar, screen), c.at) << c.frame.x();
}

// ---- The relay's port file ----

// A relay publishes its port in a file on POSIX systems only; mRouter on
// Windows is asked through COM.
#ifndef _WIN32
TEST(RelayWatch, ThePageFollowsThePortFile) {
    QTemporaryDir runtime;
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    {
        CMainFrame frame{SettingsStore(std::make_shared<MemorySettingsBackend>())};
        CChildView* view = frame.View();
        EXPECT_EQ(view->Core().RouterPort(), 0);
        const QString dir = runtime.path() + "/mrouter";
        auto write = [&](const QByteArray& text) {
            QFile f(dir + "/relay.port");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(text);
        };
        ASSERT_TRUE(QDir().mkdir(dir));
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QTest::qWait(50);
        write("6123\n");
        auto port = [&](int expected) {
            return QTest::qWaitFor([&] { return view->Core().RouterPort() == expected; }, 5000);
        };
        EXPECT_TRUE(port(6123));
        QAction* connect = frame.MainToolBar()->actions().at(0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return connect->text().startsWith("Connect"); }, 5000));
        write("6124\n");  // the relay restarted on another port
        EXPECT_TRUE(port(6124));
        QFile::remove(dir + "/relay.port");
        EXPECT_TRUE(port(0));
        view->Core().Shutdown();
    }
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
}

// ---- Settings defaults, menus and the toolbar ----

#endif  // _WIN32

TEST(FreshProfile, EveryToggleFlipsWithTheFirstClick) {
    const struct {
        int id;
        IntSetting setting;
    } cases[] = {
        {cmd::kEventIgnoreAll, setting::kIgnoreAllEvents},
        {cmd::kEventIncomingCall, setting::kIncomingCall},
        {cmd::kEventIncomingSms, setting::kIncomingSms},
        {cmd::kEventIncomingMms, setting::kIncomingMms},
        {cmd::kStayInTray, setting::kSystemTray},
        {cmd::kAlwaysOnTop, setting::kAlwaysOnTop},
        {cmd::kHideFrame, setting::kFrameless},
    };
    for (const auto& c : cases) {
        Desk d;
        d.frame->RefreshCommandStates();
        QAction* item = d.frame->Action(c.id);
        EXPECT_EQ(item->isChecked(), c.setting.def != 0) << c.setting.key;
        item->trigger();
        EXPECT_EQ(item->isChecked(), c.setting.def == 0) << c.setting.key;
        EXPECT_EQ(d.backend->ReadInt(c.setting.section, c.setting.key),
                  std::uint32_t(c.setting.def == 0))
            << c.setting.key;
    }
}

TEST(Menus, OneOfNChoicesCarryRadioMarks) {
    Desk d;
    d.Sync();
    const std::vector<std::vector<int>> groups = {
        {cmd::kCompression1, cmd::kCompression1 + 4},
        {cmd::kInterlaceOff, cmd::kInterlaceAuto},
        {cmd::kColor4096, cmd::kColor256, cmd::kJpeg30},
        {cmd::kPriorityLow, cmd::kPriorityLow + 3},
        {cmd::kRate40Hz, cmd::kRate1Hz},
    };
    for (const auto& ids : groups) {
        QActionGroup* group = d.frame->Action(ids.front())->actionGroup();
        ASSERT_NE(group, nullptr) << ids.front();
        EXPECT_TRUE(group->isExclusive());
        for (int id : ids) {
            EXPECT_EQ(d.frame->Action(id)->actionGroup(), group) << id;
            d.frame->Action(id)->trigger();
            EXPECT_EQ(group->checkedAction(), d.frame->Action(id)) << id;
            int checked = 0;
            for (QAction* a : group->actions()) checked += a->isChecked();
            EXPECT_EQ(checked, 1) << id;
        }
    }
    // What is sent stays the same: the last choices of each group.
    d.transport.TakeSent();
    d.frame->Action(cmd::kColor256)->trigger();
    EXPECT_EQ(d.transport.TakeSent(), (ByteVec{0x04, 9, 1, 1, 1, 30, 3, 40}));
}

TEST(Toolbar, TheDropDownChoiceSwitchesAndTheNextClickRunsIt) {
    auto backend = std::make_shared<MemorySettingsBackend>();
    Write(SettingsStore(backend), setting::kClipboardAction, 1);
    Desk s(backend);
    s.Sync();
    s.frame->RefreshCommandStates();
    QString entries;  // B button, | separator: the fifth ends the visible ones
    for (QAction* a : s.frame->MainToolBar()->actions()) entries += a->isSeparator() ? u'|' : u'B';
    EXPECT_EQ(entries, "B|BB|");
    auto* button = s.frame->findChild<QToolButton*>("screenshotButton");
    ASSERT_NE(button, nullptr);
    ASSERT_EQ(button->defaultAction()->text(), "Save screenshot");
    const QPoint arrow(button->width() - 4, button->height() / 2);
    // Hover both pictures, each prompt naming its own choice, and choose the
    // copy picture.
    bool chosen = false;
    bool stray = false;
    QStringList prompts;
    QObject guard;  // the timers end with the test
    QTimer::singleShot(50, &guard, [&] {
        auto* menu = qobject_cast<CIconMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (int item : {1, 0}) {
            const QPoint at = menu->actionGeometry(menu->ItemAction(item)).center();
            QMouseEvent move(QEvent::MouseMove, at, menu->mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(menu, &move);
            prompts << s.frame->statusBar()->currentMessage();
        }
        const QPoint at = menu->actionGeometry(menu->ItemAction(0)).center();
        for (auto [type, buttons] : {std::pair{QEvent::MouseMove, Qt::NoButton},
                                     std::pair{QEvent::MouseButtonPress, Qt::LeftButton},
                                     std::pair{QEvent::MouseButtonRelease, Qt::NoButton}}) {
            QMouseEvent e(type, at, menu->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
            QApplication::sendEvent(menu, &e);
        }
        chosen = true;
    });
    // Whatever is still open later is a stray popup that eats the next click.
    QTimer::singleShot(1000, &guard, [&] {
        if (QWidget* p = QApplication::activePopupWidget()) stray = p->close();
    });
    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, arrow);
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, arrow);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(prompts, (QStringList{"Save screenshot", "Copy screenshot to clipboard"}));
    QTest::qWait(1100);
    EXPECT_FALSE(stray);
    EXPECT_EQ(button->defaultAction()->text(), "Copy screenshot to clipboard");
    EXPECT_EQ(button->defaultAction()->statusTip(), "Copy screenshot to clipboard");

    QApplication::clipboard()->clear();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(5, button->height() / 2));
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(208, 320));
}

// ---- Focus and keys ----

TEST(Keyboard, TabsGoToThePhoneAndTheViewKeepsTheFocus) {
    Desk d;
    d.Sync();
    d.frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(d.frame.get()));
    d.view()->setFocus();
    for (QToolButton* b : d.frame->MainToolBar()->findChildren<QToolButton*>())
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();
    const ByteVec tab =
        Concat({{0x03, 0, 0, 0, 0, 4, 0, 3, 0, 9, 0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0}});
    for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        QTest::keyClick(d.view(), key);
        EXPECT_EQ(d.transport.TakeSent(), tab) << key;
        EXPECT_EQ(QApplication::focusWidget(), d.view()) << key;
    }
    // The focus put elsewhere in the frame comes back to the view.
    d.frame->MainToolBar()->setFocusPolicy(Qt::StrongFocus);
    d.frame->MainToolBar()->setFocus();
    EXPECT_EQ(QApplication::focusWidget(), d.view());
}

// ---- The status pane ----

TEST(StatusPane, KeptThroughAReSyncAndClearedWithTheConnection) {
    // The second connection's transport outlives the frame, whose shutdown
    // still says Bye through it.
    RecordingTransport next;
    Desk d;
    d.Sync();
    QLabel* pane = d.frame->StatusValuePane();
    d.Feed(Message(128, Be32(7 * 1024)));
    EXPECT_EQ(pane->text(), "7");
    d.Feed(Message(255, {0}));  // the phone drops the sync
    EXPECT_EQ(pane->text(), "");
    d.Sync();  // the same connection again
    EXPECT_EQ(pane->text(), "7");
    d.view()->Core().Link().Close();
    d.view()->Core().Link().AttachTransport(next);
    d.Feed(SyncBytes());
    EXPECT_EQ(pane->text(), "0");
}

// ---- Where the window and the files go ----

TEST(WindowPosition, RememberedPerScreenAndNeverOffIt) {
    auto backend = std::make_shared<MemorySettingsBackend>();
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    const std::string key = "Position " + QGuiApplication::primaryScreen()->name().toStdString();
    QPoint saved;
    {
        // Not moved: a fresh profile stays untouched.
        Desk d(backend);
        ASSERT_TRUE(QTest::qWaitForWindowActive(d.frame.get()));
        d.frame->close();
    }
    EXPECT_FALSE(backend->ReadString("View", "Screen").has_value());
    EXPECT_FALSE(backend->ReadString("View", key).has_value());
    {
        Desk d(backend);
        ASSERT_TRUE(QTest::qWaitForWindowActive(d.frame.get()));
        d.frame->move(avail.left() + 120, avail.top() + 80);
        saved = d.frame->pos();
        d.frame->close();
    }
    EXPECT_EQ(*backend->ReadString("View", key),
              std::to_string(saved.x()) + "," + std::to_string(saved.y()));
    {
        Desk d(backend);
        EXPECT_EQ(d.frame->pos(), saved);
    }
    // Off the screen it is moved the least onto it: to the corner, the
    // right edge, the bottom edge.
    for (const char* stored : {"-4000,-3000", "90000,50", "60,90000"}) {
        backend->WriteString("View", key, stored);
        Desk d(backend);
        const QRect f = d.frame->frameGeometry();
        EXPECT_TRUE(avail.contains(f)) << stored;
        EXPECT_TRUE(f.topLeft() == avail.topLeft() || f.right() == avail.right() ||
                    f.bottom() == avail.bottom())
            << stored;
    }
}

TEST(SaveFolders, TheStatusBarSaysWhereTheScreenshotWentEvenInADeepFolder) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/a folder with a rather long name for the shots";
    ASSERT_TRUE(QDir().mkpath(folder));
    auto backend = std::make_shared<MemorySettingsBackend>();
    SettingsStore store(backend);
    Write(store, setting::kShotPrompt, 0);
    store.WriteString("Screenshot", "Path", folder.toStdString());
    Desk d(backend);
    d.Sync();
    d.frame->OnCommand(cmd::kSaveScreenshot);
    const QString whole = "Screenshot saved to " + QDir::toNativeSeparators(folder + "/1.bmp");
    auto* bar = qobject_cast<StatusBar*>(d.frame->statusBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->currentMessage(), whole);
    // Elided in the middle so the name still shows; the tooltip holds it all.
    const QString shown = bar->ShownMessage();
    EXPECT_TRUE(shown.contains(QChar(0x2026)) && shown.endsWith("1.bmp")) << shown.toStdString();
    EXPECT_LE(bar->fontMetrics().horizontalAdvance(shown), bar->MessageRect().width());
    EXPECT_EQ(bar->toolTip(), whole);
}

}  // namespace
}  // namespace velarix::test
