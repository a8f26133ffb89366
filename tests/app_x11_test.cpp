// Window titles, window-manager hints and window modes as an X server and a
// window manager see them: the program's own application object on a private
// Xvfb display with openbox, each window's properties read back with xprop.
// Skipped where Xvfb, xprop or (for the modes) openbox is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "PrivateXvfb.h"
#include "app/CAboutBox.h"
#include "app/CMainFrame.h"
#include "app/CViewerApp.h"
#include "capture/AviWriter.h"
#include "settings/MemorySettingsBackend.h"
#include "view/CChildView.h"

namespace velarix::test {
namespace {

bool g_display = false;
bool g_windowManager = false;

QString Property(const QWidget& w, const char* name) {
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(w.winId()), name});
    if (!xprop.waitForFinished(5000)) return {};
    return QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
}

// The "functions" word of _MOTIF_WM_HINTS: what the window manager offers.
unsigned MotifFunctions(const QWidget& w) {
    const QString text = Property(w, "_MOTIF_WM_HINTS");
    const QStringList fields = text.section('=', 1).split(',');
    if (fields.size() < 2) return ~0u;
    return fields[1].trimmed().toUInt(nullptr, 0);
}

constexpr unsigned kFuncAll = 0x01;
constexpr unsigned kFuncMinimize = 0x08;
constexpr unsigned kFuncMaximize = 0x10;

void Shown(QWidget& w) {
    w.show();
    QTest::qWait(100);
}

TEST(X11Windows, EachTitleIsExactlyItsOwn) {
    if (!g_display) GTEST_SKIP() << "no Xvfb or xprop";
    CMainFrame frame{SettingsStore(std::make_shared<MemorySettingsBackend>())};
    CAboutBox about;
    QMessageBox error(
        QMessageBox::NoIcon,
        QString::fromLatin1(kAviErrorCaption.data(), qsizetype(kAviErrorCaption.size())), "x",
        QMessageBox::Ok);
    const struct {
        QWidget* window;
        const char* title;
    } cases[] = {{&frame, "Velarix"}, {&about, "About ..."}, {&error, "AVI Error"}};
    for (const auto& c : cases) {
        Shown(*c.window);
        EXPECT_EQ(Property(*c.window, "_NET_WM_NAME"),
                  QString("_NET_WM_NAME(UTF8_STRING) = \"%1\"").arg(c.title));
    }
    frame.View()->Core().Shutdown();
}

TEST(X11Windows, FixedSizeWindowsOfferNoMaximise) {
    if (!g_display) GTEST_SKIP() << "no Xvfb or xprop";
    CMainFrame frame{SettingsStore(std::make_shared<MemorySettingsBackend>())};
    CAboutBox about;
    const struct {
        QWidget* window;
        bool minimise;
    } cases[] = {{&frame, true}, {&about, false}};
    for (const auto& c : cases) {
        Shown(*c.window);
        const unsigned functions = MotifFunctions(*c.window);
        EXPECT_EQ(functions & kFuncAll, 0u) << c.window->windowTitle().toStdString();
        EXPECT_EQ(functions & kFuncMaximize, 0u) << c.window->windowTitle().toStdString();
        EXPECT_EQ((functions & kFuncMinimize) != 0, c.minimise)
            << c.window->windowTitle().toStdString();
    }
    frame.View()->Core().Shutdown();
}

TEST(X11WindowModes, HidingTheFrameKeepsTheScreenAndOnTop) {
    if (!g_windowManager) GTEST_SKIP() << "no Xvfb, xprop or openbox";
    // Framed at start, or frameless (the frame's size still unknown).
    for (int run = 0; run < 4; ++run) {
        const bool onTop = run & 1;
        auto backend = std::make_shared<MemorySettingsBackend>();
        SettingsStore(backend).WriteInt("View", "AlwaysOnTop", onTop ? 1 : 0);
        SettingsStore(backend).WriteInt("View", "Frameless", run >> 1);
        CMainFrame frame{SettingsStore(backend)};
        frame.move(300, 200);
        Shown(frame);
        QTest::qWait(200);
        const QPoint screen = frame.View()->mapToGlobal(QPoint(0, 0));
        for (int i = 0; i < 2; ++i) {
            frame.OnCommand(cmd::kHideFrame);  // toggled, then back again
            QTest::qWait(300);
            EXPECT_EQ(frame.View()->mapToGlobal(QPoint(0, 0)), screen) << run << i;
            EXPECT_EQ(Property(frame, "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"), onTop)
                << run << i;
        }
        frame.View()->Core().Shutdown();
    }
}

TEST(X11WindowModes, BackFromTheTrayWhereItWasThoughNeverMoved) {
    if (!g_windowManager) GTEST_SKIP() << "no Xvfb, xprop or openbox";
    CMainFrame frame{SettingsStore(std::make_shared<MemorySettingsBackend>())};
    Shown(frame);  // where the window manager puts it
    QTest::qWait(200);
    const QPoint screen = frame.View()->mapToGlobal(QPoint(0, 0));
    frame.hide();
    // Another window in its place: placed anew, it would go elsewhere.
    QWidget other;
    other.setGeometry(frame.frameGeometry());
    Shown(other);
    frame.OnCommand(cmd::kOpenFromTray);
    QTest::qWait(300);
    EXPECT_EQ(frame.View()->mapToGlobal(QPoint(0, 0)), screen);
    frame.View()->Core().Shutdown();
}

bool OnPath(const char* program) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

// Openbox on the display; its pid once it manages windows, or -1. A freshly
// started server sometimes turns the first one away, so it gets a few tries.
pid_t StartWindowManager() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const pid_t pid = Spawn({"openbox", "--sm-disable"});
        if (pid < 0) return -1;
        bool gone = false;
        for (int i = 0; i < 100 && !gone; ++i) {
            QProcess xprop;
            xprop.start("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
            if (xprop.waitForFinished(5000) && xprop.readAllStandardOutput().contains("window id"))
                return pid;
            int status = 0;
            gone = ::waitpid(pid, &status, WNOHANG) == pid;  // then try again
            if (!gone) ::usleep(100 * 1000);
        }
        if (!gone) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        ::usleep(200 * 1000);
    }
    return -1;
}

}  // namespace
}  // namespace velarix::test

int main(int argc, char** argv) {
    using namespace velarix::test;
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) listing = true;
    pid_t server = -1;
    pid_t manager = -1;
    if (!listing && OnPath("Xvfb") && OnPath("xprop")) {
        std::string display;
        server = StartXvfb(display);
        if (server > 0) {
            setenv("DISPLAY", display.c_str(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            g_display = true;
            // Window modes need a window manager to act on them.
            if (OnPath("openbox")) manager = StartWindowManager();
            g_windowManager = manager > 0;
        }
    }
    if (!g_display) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int result = 0;
    {
        velarix::CViewerApp app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    StopProcess(manager);
    StopProcess(server);
    return result;
}
