// End to end over loopback TCP: the main frame and its view against a scripted
// relay (a QTcpServer in the test that publishes its port the way the relay
// does, so every byte can be asserted) and against the phone simulator (a real
// phone stream). Covers the status page in every connection state, the sync,
// painted frames in every pixel format, input as exact bytes, clipboard,
// events and pings, every way a connection ends, bad input from the relay and
// closing the window in the middle of an attempt.
//
// Every test gets its own XDG_RUNTIME_DIR, so the port file it publishes (or
// leaves out) is the one the view reads. Waits are bounded loops over the
// event loop; nothing here asserts how fast anything is.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "LoopbackRelay.h"
#include "StreamBuilder.h"
#include "app/CMainFrame.h"
#include "settings/MemorySettingsBackend.h"
#include "status/CHtmlCtrl.h"
#include "view/CChildView.h"

#ifndef VELARIX_PHONE_SIM
#error "VELARIX_PHONE_SIM must name the phone simulator executable"
#endif

namespace velarix::test {
namespace {

// ---------------------------------------------------------------------------
// The phone simulator as a child process, publishing its port in the test's
// runtime directory; ended with SIGTERM.

class PhoneSim {
public:
    PhoneSim(const QString& runtimeDir, const QStringList& args)
        : portFile_(PortFilePath(runtimeDir)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        proc_.setProcessEnvironment(env);
        QObject::connect(&proc_, &QProcess::readyReadStandardError,
                         [this] { log_ += proc_.readAllStandardError(); });
        QObject::connect(&proc_, &QProcess::readyReadStandardOutput,
                         [this] { out_ += proc_.readAllStandardOutput(); });
        proc_.start(QStringLiteral(VELARIX_PHONE_SIM), args);
    }

    ~PhoneSim() {
        Stop();
        proc_.disconnect();
    }

    PhoneSim(const PhoneSim&) = delete;
    PhoneSim& operator=(const PhoneSim&) = delete;

    // Started, listening and published.
    bool WaitReady() {
        if (!proc_.waitForStarted(kTimeoutMs)) return false;
        return WaitUntil([&] {
            QFile file(portFile_);
            return file.open(QIODevice::ReadOnly) && file.readAll().toInt() > 0;
        });
    }

    void Command(const QByteArray& line) {
        proc_.write(line + "\n");
        proc_.waitForBytesWritten(kTimeoutMs);
    }

    // Waits for `needle` in the log after position `from`.
    bool WaitForLog(const QByteArray& needle, qsizetype from = 0) {
        return WaitUntil([&] { return log_.indexOf(needle, from) >= 0; });
    }
    qsizetype LogSize() const { return log_.size(); }
    const QByteArray& Log() const { return log_; }

    bool Running() const { return proc_.state() != QProcess::NotRunning; }

    void Stop() {
        if (proc_.state() == QProcess::NotRunning) return;
        ::kill(pid_t(proc_.processId()), SIGTERM);
        if (!proc_.waitForFinished(kTimeoutMs)) {
            proc_.kill();
            proc_.waitForFinished(kTimeoutMs);
        }
        log_ += proc_.readAllStandardError();
    }

private:
    QString portFile_;
    QProcess proc_;
    QByteArray log_;
    QByteArray out_;
};

// ---------------------------------------------------------------------------
// The fixture: a fresh runtime directory, the main frame on demand, and the
// status page read back as text, source and pictures.

class E2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtime_.isValid());
        hadRuntime_ = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
    }

    void TearDown() override {
        CloseWindow();
        relay_.reset();
        sim_.reset();
        if (hadRuntime_)
            qputenv("XDG_RUNTIME_DIR", savedRuntime_);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

    QString Runtime() const { return runtime_.path(); }

    void OpenWindow() {
        frame_ = std::make_unique<CMainFrame>(SettingsStore(backend_));
        frame_->show();
        ASSERT_TRUE(WaitUntil([&] { return Page().HasDocument() && !Page().IsLoading(); }));
    }

    // Destroys the main frame as closing the window does, then lets the
    // sockets dropped on the way be deleted.
    void CloseWindow() {
        frame_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ScriptedRelay& StartRelay(ScriptedRelay::OnAccept onAccept = ScriptedRelay::OnAccept::Keep,
                              ByteVec greeting = {}) {
        relay_ = std::make_unique<ScriptedRelay>(onAccept, std::move(greeting));
        EXPECT_TRUE(relay_->Listening());
        WritePortFile(Runtime(), QByteArray::number(relay_->Port()));
        return *relay_;
    }

    PhoneSim& StartSim(QStringList args) {
        args << "--quiet";
        sim_ = std::make_unique<PhoneSim>(Runtime(), args);
        EXPECT_TRUE(sim_->WaitReady()) << sim_->Log().toStdString();
        return *sim_;
    }

    CChildView* View() const { return frame_->View(); }
    ViewCore& Core() const { return View()->Core(); }
    CRelayLink& Link() const { return Core().Link(); }
    CHtmlCtrl& Page() const { return *View()->StatusPage(); }

    // The toolbar's Connect command, as the user clicks it.
    void Connect() { frame_->OnCommand(cmd::kConnect); }

    // A click on the check icon of the status page, at the place it is drawn.
    void ClickCheckIcon() {
        CHtmlCtrl& page = Page();
        const QString href = QStringLiteral("switch://MROUTER/0");
        std::optional<QPoint> at;
        for (QTextBlock block = page.document()->begin(); block.isValid() && !at;
             block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (fragment.charFormat().anchorHref() != href) continue;
                QTextCursor cursor(page.document());
                cursor.setPosition(fragment.position());
                const QRect r = page.cursorRect(cursor);
                at = QPoint(r.left() + 5, r.center().y());
                break;
            }
        }
        ASSERT_TRUE(at.has_value()) << "no check icon on the page";
        QWidget* target = page.viewport();
        const QPoint global = target->mapToGlobal(*at);
        QMouseEvent press(QEvent::MouseButtonPress, *at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, *at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(target, &release);
    }

    // Connects to the scripted relay and syncs: Hello, then Options and
    // SyncAck after the pattern.
    void ConnectAndSync(ScriptedRelay& relay) {
        const std::size_t before = relay.Count();
        Connect();
        ASSERT_TRUE(relay.WaitForConnections(before + 1));
        ASSERT_EQ(relay.Next(16), Hello());
        relay.Send(SyncBytes());
        ASSERT_EQ(relay.Next(8), DefaultOptions());
        ASSERT_EQ(relay.Next(1), ByteVec{0x01});
        ASSERT_TRUE(WaitUntil([&] { return Core().ActiveLink() != nullptr; }));
    }

    // --- the status page as rendered

    QString PageText() const { return Page().toPlainText(); }
    std::string PageSource() const { return Page().PageSource(); }
    bool SourceHas(const std::string& s) const { return PageSource().find(s) != std::string::npos; }

    // The pictures of the page, by the names the page gives them.
    std::set<std::string> PageImages() const {
        std::set<std::string> names;
        for (QTextBlock block = Page().document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (format.isImageFormat())
                    names.insert(format.toImageFormat().name().toStdString());
            }
        }
        return names;
    }

    int CountInSource(const std::string& what) const {
        const std::string source = PageSource();
        int n = 0;
        for (auto at = source.find(what); at != std::string::npos; at = source.find(what, at + 1))
            ++n;
        return n;
    }

    // What every built page shows, whatever the state.
    bool CommonPage() const {
        const QString text = PageText();
        return Page().isVisible() && !Page().IsLoading() && text.contains("Velarix") &&
               text.contains("Not connected") && text.contains("Direct") &&
               PageImages().count("res:unchecked.gif") == 1 &&
               PageImages().count("res:checked.gif") == 0;
    }

    // mRouter unavailable: "Unavailable", footnote 1 and the install hint.
    bool UnavailablePage() const {
        const QString text = PageText();
        return CommonPage() && SourceHas("<td colspan=4>Unavailable</td>") &&
               SourceHas("<sup>1<font color=\"white\">1</font></sup>") &&
               SourceHas(
                   "<font color=\"#990000\"><sup>1 </sup></font>PC Suite/mRouter not "
                   "installed?</td></tr>") &&
               CountInSource("<tr><td colspan=20><font color=\"#990000\"><sup>") == 1 &&
               text.contains("PC Suite/mRouter not installed?") &&
               text.contains("Please install and start the") && !text.contains("Corvane SRV") &&
               !text.contains("Connect phone");
    }

    // Relay known, connect state 0: the mRouter link, no footnote, the hint.
    bool ReadyPage() const {
        const QString text = PageText();
        return CommonPage() && SourceHas("href=\"switch://MROUTERBOX/\"") &&
               SourceHas("<sup><font color=\"white\">1</font></sup>") &&
               CountInSource("<tr><td colspan=20><font color=\"#990000\"><sup>") == 0 &&
               text.contains("PC Suite/mRouter") && !text.contains("Unavailable") &&
               text.contains("Corvane SRV") && !text.contains("not installed?") &&
               !text.contains("Connect phone");
    }

    // Relay known, connect state 1: footnote 2 with the state-1 text.
    bool WaitingPage() const {
        const QString text = PageText();
        return CommonPage() && SourceHas("href=\"switch://MROUTERBOX/\"") &&
               SourceHas("<sup>2<font color=\"white\">1</font></sup>") &&
               SourceHas(
                   "<font color=\"#990000\"><sup>2 </sup></font>Connect phone &amp; start "
                   "<b>Velarix SRV</b> on your phone!</td></tr>") &&
               CountInSource("<tr><td colspan=20><font color=\"#990000\"><sup>") == 1 &&
               text.contains("Connect phone & start Velarix SRV on your phone!") &&
               text.contains("Corvane SRV") && !text.contains("Unavailable");
    }

    std::string Describe() const {
        return "page visible " + std::to_string(Page().isVisible()) + ", connect state " +
               std::to_string(Link().ConnectState()) + ", open " + std::to_string(Link().IsOpen()) +
               ", synced " + std::to_string(Link().Synced()) + "\n--- page text:\n" +
               PageText().toStdString();
    }

    // The phone screen as painted in the view, without the frame around it.
    QImage PaintedScreen() const {
        const QImage all = View()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return all.copy(3, 2, kScreenWidth, kScreenHeight);
    }

    bool ScreenHasNonWhite(int firstLine, int lastLine) const {
        const QImage img = View()->ScreenImage();
        for (int y = firstLine; y <= lastLine; ++y)
            for (int x = 0; x < kScreenWidth; ++x)
                if ((img.pixel(x, y) & 0xFFFFFFu) != 0xFFFFFFu) return true;
        return false;
    }

    QTemporaryDir runtime_;
    QByteArray savedRuntime_;
    bool hadRuntime_ = false;
    std::shared_ptr<MemorySettingsBackend> backend_ = std::make_shared<MemorySettingsBackend>();
    std::unique_ptr<ScriptedRelay> relay_;
    std::unique_ptr<PhoneSim> sim_;
    std::unique_ptr<CMainFrame> frame_;
};

// ===========================================================================
// The status page in each connection state

TEST_F(E2E, NoRelayShowsUnavailableWithFootnoteOne) {
    OpenWindow();
    EXPECT_EQ(Core().RouterPort(), 0);
    ASSERT_TRUE(WaitUntilSteady([&] { return UnavailablePage(); })) << Describe();
    frame_->RefreshCommandStates();
    QAction* first = frame_->MainToolBar()->actions().at(0);
    EXPECT_EQ(first->text(), "Disconnect from your phone");
    EXPECT_FALSE(first->isEnabled());

    // Asking again changes nothing while there is still no relay.
    Connect();
    ASSERT_TRUE(WaitUntilSteady([&] { return UnavailablePage() && !Link().IsOpen(); }))
        << Describe();
    EXPECT_EQ(Link().ConnectState(), 0);
}

TEST_F(E2E, ARelayStartedLaterIsNoticedAndConnectedByTheNextClick) {
    OpenWindow();
    ASSERT_TRUE(WaitUntilSteady([&] { return UnavailablePage(); })) << Describe();
    ScriptedRelay& relay = StartRelay();
    // The page notices the relay's port file, but nothing connects by itself.
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage(); })) << Describe();
    EXPECT_EQ(relay.Count(), 0u);

    ClickCheckIcon();
    // The attempt follows the click later, not at once.
    EXPECT_EQ(relay.Count(), 0u);
    ASSERT_TRUE(relay.WaitForConnections(1));
    EXPECT_EQ(relay.Next(16), Hello());
    EXPECT_EQ(Core().RouterPort(), relay.Port());
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); })) << Describe();
    EXPECT_EQ(relay.Count(), 1u);
}

TEST_F(E2E, RefusingRelayEndsOnTheReadyPage) {
    const quint16 port = ClosedPort();
    ASSERT_NE(port, 0);
    WritePortFile(Runtime(), QByteArray::number(port));
    OpenWindow();
    EXPECT_EQ(Core().RouterPort(), port);
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage(); })) << Describe();
    frame_->RefreshCommandStates();
    QAction* first = frame_->MainToolBar()->actions().at(0);
    EXPECT_EQ(first->text(), "Connect via PC Suite/mRouter");
    EXPECT_TRUE(first->isEnabled());

    Connect();
    ASSERT_TRUE(WaitUntilSteady([&] {
        return !Link().IsOpen() && Link().ConnectState() == 0 && ReadyPage();
    })) << Describe();
    EXPECT_EQ(Core().ActiveLink(), nullptr);
    EXPECT_FALSE(Link().Synced());
}

TEST_F(E2E, SilentRelayShowsFootnoteTwoUntilThePhoneSyncs) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage(); })) << Describe();
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(1));
    EXPECT_EQ(relay.Next(16), Hello());
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); })) << Describe();
    EXPECT_EQ(Link().ConnectState(), 1);
    EXPECT_TRUE(Link().IsOpen());
    EXPECT_TRUE(Link().HelloSent());
    EXPECT_FALSE(Link().Synced());
    EXPECT_TRUE(relay.Unread().empty());

    // The pattern arrives: the page goes, Options and SyncAck follow.
    relay.Send(SyncBytes());
    EXPECT_EQ(relay.Next(8), DefaultOptions());
    EXPECT_EQ(relay.Next(1), ByteVec{0x01});
    ASSERT_TRUE(WaitUntil([&] { return !Page().isVisible(); })) << Describe();
    EXPECT_EQ(Core().ActiveLink(), &Link());
    frame_->RefreshCommandStates();
    EXPECT_EQ(frame_->MainToolBar()->actions().at(0)->text(), "Disconnect from your phone");

    // And the first frame is painted.
    relay.Send(Message(1, Deflate(FrameRecord(1, {{0, Repeat(0xC0, 208)}}, 0, 1))));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    const QImage painted = PaintedScreen();
    EXPECT_EQ(painted.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(painted.pixel(207, 0), qRgb(255, 0, 0));
    EXPECT_EQ(painted.pixel(0, 1), qRgb(255, 255, 255));
}

// ===========================================================================
// Frames: exact pictures from the scripted relay

// Colours whose channels are all 0 or 255, which every colour format
// carries exactly.
constexpr std::array<std::uint32_t, 8> kPrimaries = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF,
                                                     0xFFFF00, 0x00FFFF, 0xFF00FF, 0xFFFFFF};

std::uint32_t Grey(std::uint32_t v) {
    return (v << 16) | (v << 8) | v;
}

// The test picture for pixel format `code`, different for every `seed`.
std::uint32_t PatternPixel(int code, int seed, int x, int y) {
    switch (code) {
        case 2:  // 16 greys
            return Grey(std::uint32_t((x / 4 + y + seed) % 16) * 0x11u);
        case 4:  // 4 greys
            return Grey(std::uint32_t((x / 2 + y + seed) % 4) * 0x55u);
        default:
            return kPrimaries[std::size_t((x / 8 + y + seed) % 8)];
    }
}

// One line of the test picture in the wire layout of pixel format `code`.
ByteVec EncodePatternLine(int code, int seed, int y) {
    const auto px = [&](int x) { return PatternPixel(code, seed, x, y); };
    const auto on = [](std::uint32_t pixel, int shift) { return ((pixel >> shift) & 0xFFu) != 0; };
    ByteVec out;
    switch (code) {
        case 0:  // 4096 colours: two pixels in three bytes
            for (int x = 0; x < kScreenWidth; x += 2) {
                const std::uint32_t a = px(x);
                const std::uint32_t b = px(x + 1);
                const auto nib = [&](std::uint32_t p, int shift) {
                    return std::uint8_t(on(p, shift) ? 0xF : 0x0);
                };
                out.push_back(std::uint8_t(nib(a, 8) << 4 | nib(a, 0)));
                out.push_back(std::uint8_t(nib(b, 8) << 4 | nib(b, 0)));
                out.push_back(std::uint8_t(nib(a, 16) << 4 | nib(b, 16)));
            }
            break;
        case 1:  // 256 colours: RRGGGBBB
            for (int x = 0; x < kScreenWidth; ++x) {
                const std::uint32_t p = px(x);
                out.push_back(std::uint8_t((on(p, 16) ? 0xC0 : 0) | (on(p, 8) ? 0x38 : 0) |
                                           (on(p, 0) ? 0x07 : 0)));
            }
            break;
        case 2:  // 16 greys: two pixels a byte, the first in the low nibble
            for (int x = 0; x < kScreenWidth; x += 2)
                out.push_back(
                    std::uint8_t(((px(x) & 0xFF) / 0x11) | (((px(x + 1) & 0xFF) / 0x11) << 4)));
            break;
        case 3:  // 65536 colours: RGB565, little-endian
            for (int x = 0; x < kScreenWidth; ++x) {
                const std::uint32_t p = px(x);
                const unsigned v = (on(p, 16) ? 0xF800u : 0u) | (on(p, 8) ? 0x07E0u : 0u) |
                                   (on(p, 0) ? 0x001Fu : 0u);
                out.push_back(std::uint8_t(v & 0xFF));
                out.push_back(std::uint8_t(v >> 8));
            }
            break;
        case 4:  // 4 greys: four pixels a byte, the first in the low bits
            for (int x = 0; x < kScreenWidth; x += 4) {
                unsigned b = 0;
                for (int k = 0; k < 4; ++k) b |= ((px(x + k) & 0xFFu) / 0x55u) << (2 * k);
                out.push_back(std::uint8_t(b));
            }
            break;
        default:
            break;
    }
    return out;
}

// The whole test picture as one frame record, with the open flip and
// `frameValue` after the last line.
ByteVec PatternRecord(int code, int seed, std::uint32_t frameValue) {
    std::vector<LineRecord> lines;
    for (int y = 0; y < kScreenHeight; ++y) lines.push_back({y, EncodePatternLine(code, seed, y)});
    ByteVec record = FrameRecord(std::uint8_t(code), lines, 0, frameValue);
    // A line record is read only while 104 bytes are left; 4-grey lines are
    // shorter, so padding after the tail keeps the last one in.
    if (code == 4) record.insert(record.end(), 45, 0);
    return record;
}

TEST_F(E2E, FramesInEveryPixelFormatArePaintedExactly) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));

    std::uint32_t frameValue = 100;
    int seed = 0;
    for (const int code : {0, 1, 2, 3, 4}) {
        for (const bool zlib : {false, true}) {
            SCOPED_TRACE("pixel format " + std::to_string(code) + (zlib ? " zlib" : " raw"));
            ++seed;
            ++frameValue;
            const ByteVec record = PatternRecord(code, seed, frameValue);
            relay.Send(zlib ? Message(1, Deflate(record)) : Message(0, record));
            ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
            ASSERT_TRUE(Link().Synced()) << Describe();
            EXPECT_EQ(Link().LastFrameValue(), frameValue);

            const QImage painted = PaintedScreen();
            const QImage buffer = View()->ScreenImage();
            int wrong = 0;
            for (int y = 0; y < kScreenHeight; ++y) {
                for (int x = 0; x < kScreenWidth; ++x) {
                    const QRgb want = 0xFF000000u | PatternPixel(code, seed, x, y);
                    if (buffer.pixel(x, y) != want || painted.pixel(x, y) != want) {
                        if (++wrong <= 5)
                            ADD_FAILURE() << "at " << x << "," << y << ": want " << std::hex << want
                                          << ", buffer " << buffer.pixel(x, y) << ", painted "
                                          << painted.pixel(x, y);
                    }
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

TEST_F(E2E, JpegStripIsPaintedUprightOnItsLines) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));

    // 16 × 16 blocks of flat colour: their middles survive JPEG nearly exactly.
    constexpr int kTop = 100;
    constexpr int kHeight = 48;
    const std::array<std::uint32_t, 6> colours = {0xE01010, 0x10E010, 0x1010E0,
                                                  0x202020, 0xF0F0F0, 0xE0E010};
    const auto colourAt = [&](int x, int y) {
        return colours[std::size_t((x / 16 + 3 * (y / 16)) % int(colours.size()))];
    };
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x) pixels.push_back(colourAt(x, y));
    relay.Send(Message(2, JpegPayload(kTop, 4711, EncodeJpeg(pixels, kScreenWidth, kHeight, 95))));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_EQ(Link().LastFrameValue(), 4711u);

    const QImage painted = PaintedScreen();
    const QImage buffer = View()->ScreenImage();
    EXPECT_EQ(painted, buffer);
    const auto close = [](QRgb got, std::uint32_t want) {
        return std::abs(qRed(got) - int((want >> 16) & 0xFF)) <= 24 &&
               std::abs(qGreen(got) - int((want >> 8) & 0xFF)) <= 24 &&
               std::abs(qBlue(got) - int(want & 0xFF)) <= 24;
    };
    for (int by = 0; by < kHeight; by += 16) {
        for (int bx = 0; bx < kScreenWidth; bx += 16) {
            for (int y = by + 5; y < by + 11; ++y) {
                for (int x = bx + 5; x < bx + 11; ++x) {
                    ASSERT_TRUE(close(painted.pixel(x, kTop + y), colourAt(x, y)))
                        << "at " << x << "," << kTop + y << std::hex << ": "
                        << painted.pixel(x, kTop + y) << " for " << colourAt(x, y);
                }
            }
        }
    }
    // Nothing outside the strip changed.
    EXPECT_EQ(painted.pixel(50, kTop - 1), qRgb(255, 255, 255));
    EXPECT_EQ(painted.pixel(50, kTop + kHeight), qRgb(255, 255, 255));
}

// ===========================================================================
// Input and phone data as exact bytes

TEST_F(E2E, InputArrivesAsExactBytes) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    CChildView* view = View();
    view->setFocus();

    // Keys with a phone key: press and release.
    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_EQ(relay.Next(12), Concat({{0x02, 1, 0, 0, 0, 14}, {0x02, 0, 0, 0, 0, 14}}));
    QTest::keyClick(view, Qt::Key_PageDown);
    EXPECT_EQ(relay.Next(12), Concat({{0x02, 1, 0, 0, 0, 166}, {0x02, 0, 0, 0, 0, 166}}));
    // A character: CharEvent, then the release of "no key".
    QTest::keyClick(view, Qt::Key_A);
    EXPECT_EQ(relay.Next(20),
              Concat({{0x03, 0, 0, 0, 0, 4, 0, 3, 0, 97, 0, 0, 0, 0}, {0x02, 0, 0, 0, 0, 0}}));
    // A digit is the phone's digit key.
    QTest::keyClick(view, Qt::Key_7);
    EXPECT_EQ(relay.Next(12), Concat({{0x02, 2, 0, 0, 0, 55}, {0x02, 0, 0, 0, 0, 0}}));

    // The stylus: down, drag, up, in phone pixels (the screen starts at 3,2).
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(103, 202));
    EXPECT_EQ(relay.Next(6), (ByteVec{0x06, 1, 0, 100, 0, 200}));
    {
        const QPoint at(113, 212);
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view, &move);
    }
    EXPECT_EQ(relay.Next(6), (ByteVec{0x06, 0, 0, 110, 0, 210}));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(113, 212));
    EXPECT_EQ(relay.Next(6), (ByteVec{0x06, 2, 0, 110, 0, 210}));

    // The wheel: one click of Page Up per notch forward, Page Down back.
    const auto wheel = [&](int delta) {
        const QPointF at(50, 50);
        QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &event);
    };
    wheel(120);
    EXPECT_EQ(relay.Next(6), (ByteVec{0x02, 2, 0, 0, 0, 165}));
    wheel(-240);
    EXPECT_EQ(relay.Next(12), Concat({{0x02, 2, 0, 0, 0, 166}, {0x02, 2, 0, 0, 0, 166}}));

    // Menu commands: a simulated key, and new options at once.
    frame_->OnCommand(cmd::kKeyStar);
    EXPECT_EQ(relay.Next(6), (ByteVec{0x02, 2, 0, 0, 0, 42}));
    frame_->OnCommand(cmd::kColor256);
    EXPECT_EQ(relay.Next(8), (ByteVec{0x04, 1, 1, 1, 1, 50, 2, 2}));
    frame_->OnCommand(cmd::kRate40Hz);
    EXPECT_EQ(relay.Next(8), (ByteVec{0x04, 1, 1, 1, 1, 50, 2, 1}));

    // Nothing else went out.
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_TRUE(relay.Unread().empty());
}

TEST_F(E2E, ClipboardTravelsBothWays) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));

    // Phone to PC, as Latin-1.
    relay.Send(Message(10, {0, 4, 'c', 'a', 'f', 0xE9}));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("caf\xC3\xA9"));

    // PC to phone: into the phone's clipboard, typed as text, and a request.
    QApplication::clipboard()->setText(QStringLiteral("Hi!"));
    frame_->OnCommand(cmd::kPasteToPhoneClipboard);
    EXPECT_EQ(relay.Next(6), (ByteVec{0x09, 0, 3, 'H', 'i', '!'}));
    frame_->OnCommand(cmd::kEditPaste);
    EXPECT_EQ(relay.Next(6), (ByteVec{0x08, 0, 3, 'H', 'i', '!'}));
    frame_->OnCommand(cmd::kEditCopy);
    EXPECT_EQ(relay.Next(1), ByteVec{0x0A});
    relay.Send(Message(10, {0, 5, 'r', 'e', 'p', 'l', 'y'}));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("reply"));
    EXPECT_TRUE(relay.Unread().empty());
}

TEST_F(E2E, ClipboardTextsOfOneReadSetTheClipboardOnceWithTheLast) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    QSignalSpy changed(QApplication::clipboard(), &QClipboard::dataChanged);
    relay.Send(Concat({Message(10, {0, 3, 'o', 'n', 'e'}), Message(10, {0, 3, 't', 'w', 'o'}),
                       Message(10, {0, 4, 'l', 'a', 's', 't'})}));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    ASSERT_TRUE(WaitUntil([&] { return changed.count() > 0; }));
    QTest::qWait(50);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("last"));
}

TEST_F(E2E, PhoneEventsRaiseTheWindowAndPingsAreAnswered) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    QSignalSpy raised(View(), &CChildView::bringToFrontRequested);

    // Every Ping gets exactly one PingReply.
    relay.Send(Concat({Message(7), Message(7), Message(7)}));
    EXPECT_EQ(relay.Next(3), (ByteVec{0x07, 0x07, 0x07}));

    relay.Send(Message(130, {0}));  // incoming call
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_EQ(raised.count(), 1);
    relay.Send(Message(130, {1}));  // incoming SMS
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_EQ(raised.count(), 2);
    relay.Send(Message(130, {9}));  // no event the program knows
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_EQ(raised.count(), 2);
    EXPECT_TRUE(frame_->isVisible());

    // The status word guards 65536 colours.
    frame_->OnCommand(cmd::kColor64K);
    EXPECT_EQ(relay.Next(8), (ByteVec{0x04, 1, 1, 1, 3, 50, 2, 2}));
    relay.Send(Message(129, Be32(0x20)));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    relay.Send(Message(129, Be32(0)));
    EXPECT_EQ(relay.Next(8), (ByteVec{0x04, 1, 1, 1, 0, 50, 2, 2}));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_TRUE(relay.Unread().empty());
    EXPECT_TRUE(Link().Synced());
}

// ===========================================================================
// How a connection ends: the status page again each time

TEST_F(E2E, PhoneByeClosesAndShowsTheReadyPage) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    relay.Send(Message(255));
    ASSERT_TRUE(relay.WaitForEof(0));
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage(); })) << Describe();
    EXPECT_EQ(Core().ActiveLink(), nullptr);
    EXPECT_FALSE(Link().IsOpen());
    EXPECT_EQ(Link().ConnectState(), 0);
    EXPECT_TRUE(relay.Unread().empty());
    // No reconnection by itself.
    EXPECT_EQ(relay.Count(), 1u);
}

TEST_F(E2E, ByeWithPayloadOnlyDropsTheSync) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    relay.Send(Message(255, {0}));
    // The link searches again and says Hello; the connection stays.
    EXPECT_EQ(relay.Next(16), Hello());
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); })) << Describe();
    EXPECT_TRUE(Link().IsOpen());
    EXPECT_FALSE(relay.Last().eof);
    relay.Send(SyncBytes());
    EXPECT_EQ(relay.Next(8), DefaultOptions());
    EXPECT_EQ(relay.Next(1), ByteVec{0x01});
    ASSERT_TRUE(WaitUntil([&] { return !Page().isVisible(); })) << Describe();
}

TEST_F(E2E, PeerCloseShowsTheReadyPage) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    relay.CloseLast();
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage() && !Link().IsOpen(); })) << Describe();
    EXPECT_EQ(Core().ActiveLink(), nullptr);
    EXPECT_EQ(Link().ConnectState(), 0);
    EXPECT_EQ(relay.Count(), 1u);
}

TEST_F(E2E, EveryFrameSentBeforeThePeerClosesIsApplied) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    // Far more decoding than one turn of the event loop may do, then a frame
    // whose value shows it was the last one applied.
    ByteVec bytes;
    for (int i = 0; i < 300; ++i) bytes = Concat({bytes, Message(1, ZlibBombPayload(i % 5))});
    bytes = Concat({bytes, Message(0, FrameRecord(1, {{5, ByteVec(208, 0x12)}}, 0, 0xBEEF))});
    relay.Send(bytes);
    relay.CloseLast();
    ASSERT_TRUE(WaitUntil([&] { return !Link().IsOpen(); }, 30000));
    EXPECT_EQ(Link().LastFrameValue(), 0xBEEFu);
    EXPECT_EQ(Link().ConnectState(), 0);
}

TEST_F(E2E, FramingErrorsShowTheStatusPageAndTheLinkResyncs) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));

    struct Case {
        const char* what;
        ByteVec bytes;
    };
    const std::vector<Case> cases = {
        {"length 0x7FFFFFFF", Concat({{0x7F, 0xFF, 0xFF, 0xFF, 0x00}, Repeat(0, 64)})},
        {"length 3", Concat({{0x00, 0x00, 0x00, 0x03, 0x07}, Repeat(0, 64)})},
        {"zlib frame that does not inflate", Message(1, Repeat(0xAB, 300))},
        {"frame record for another screen size",
         Message(0, FrameRecord(1, {{0, Repeat(0, 176)}}, 0, 0, 176, 208))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        relay.Send(c.bytes);
        // Searching again, the link says Hello and shows the page.
        EXPECT_EQ(relay.Next(16), Hello());
        ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); })) << Describe();
        EXPECT_EQ(Core().ActiveLink(), nullptr);
        EXPECT_TRUE(Link().IsOpen());
        // The phone sends the pattern again: connected again.
        relay.Send(SyncBytes());
        EXPECT_EQ(relay.Next(8), DefaultOptions());
        EXPECT_EQ(relay.Next(1), ByteVec{0x01});
        ASSERT_TRUE(WaitUntil([&] { return !Page().isVisible(); })) << Describe();
        ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    }
    EXPECT_EQ(relay.Count(), 1u);
}

TEST_F(E2E, DisconnectSendsByeAndClosesAfterwards) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
    const qsizetype byeIndex = relay.Last().data.size();
    frame_->OnCommand(cmd::kDisconnect);
    EXPECT_EQ(relay.Next(1), ByteVec{0xFF});
    ASSERT_TRUE(relay.WaitForEof(0));
    EXPECT_TRUE(relay.Unread().empty());
    const qint64 byeAt = relay.ArrivalOf(0, byeIndex);
    ASSERT_GE(byeAt, 0);
    // Bye at once, the close about 200 ms later (a sanity bound only).
    EXPECT_GE(relay.Last().eofAt - byeAt, 150);
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage(); })) << Describe();
    EXPECT_EQ(Core().ActiveLink(), nullptr);
    EXPECT_EQ(Link().ConnectState(), 0);
    // The next connection is the user's to start.
    Idle(300);
    EXPECT_EQ(relay.Count(), 1u);
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(2));
    EXPECT_EQ(relay.Next(16), Hello());
}

// ===========================================================================
// Bad input: every case ends in its page, nothing hangs, nothing crashes

// Bytes that can never hold the sync pattern, which needs 0x55.
ByteVec Garbage(std::size_t n, std::uint32_t seed) {
    ByteVec bytes = RandomBytes(n, seed);
    for (auto& b : bytes)
        if (b == 0x55) b = 0x54;
    return bytes;
}

TEST_F(E2E, RelaySendingGarbageNeverSyncsAndTheBufferStaysSmall) {
    ScriptedRelay& relay = StartRelay(ScriptedRelay::OnAccept::Keep, Garbage(4096, 1));
    OpenWindow();
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(1));
    EXPECT_EQ(relay.Next(16), Hello());
    for (std::uint32_t i = 0; i < 32; ++i) relay.Send(Garbage(32 * 1024, i + 2));
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); })) << Describe();
    EXPECT_FALSE(Link().Synced());
    EXPECT_TRUE(Link().IsOpen());
    EXPECT_LT(Link().RxCount(), 128u * 1024u);
    // Hello once per attempt, not once per read.
    EXPECT_TRUE(relay.Unread().empty());

    // A pattern after all that is still found.
    relay.Send(Concat({Garbage(100, 99), SyncBytes()}));
    EXPECT_EQ(relay.Next(8), DefaultOptions());
    EXPECT_EQ(relay.Next(1), ByteVec{0x01});
    ASSERT_TRUE(WaitUntil([&] { return !Page().isVisible(); })) << Describe();
}

TEST_F(E2E, RelaySendingGarbageAndClosingLeavesFootnoteTwo) {
    ScriptedRelay& relay = StartRelay(ScriptedRelay::OnAccept::Keep, Garbage(20000, 7));
    OpenWindow();
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(1));
    EXPECT_EQ(relay.Next(16), Hello());
    relay.CloseLast();
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage() && !Link().IsOpen(); })) << Describe();
    EXPECT_EQ(Link().ConnectState(), 1);
    EXPECT_EQ(Core().ActiveLink(), nullptr);
}

TEST_F(E2E, RelayClosingAtOnceLeavesFootnoteTwo) {
    ScriptedRelay& relay = StartRelay(ScriptedRelay::OnAccept::CloseAtOnce);
    OpenWindow();
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(1));
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage() && !Link().IsOpen(); })) << Describe();
    EXPECT_EQ(Link().ConnectState(), 1);
    EXPECT_FALSE(Link().Synced());
    // Trying again works the same way.
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(2));
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage() && !Link().IsOpen(); })) << Describe();
}

TEST_F(E2E, OversizedLengthDropsTheSync) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));

    // The longest message allowed is taken (an unknown type is skipped).
    relay.Send(Message(131, Repeat(0, 256000 - 5)));
    ASSERT_EQ(relay.Barrier(), ByteVec{0x07});
    EXPECT_TRUE(Link().Synced());

    // One byte more is out of step.
    relay.Send(Concat({Be32(256001), {131}, Repeat(0, 32)}));
    EXPECT_EQ(relay.Next(16), Hello());
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); })) << Describe();
    EXPECT_FALSE(Link().Synced());
    EXPECT_TRUE(Link().IsOpen());
    // Until the pattern comes again, nothing is answered or painted.
    relay.Send(Concat({Message(7), Message(0, PatternRecord(1, 0, 5))}));
    Idle(200);
    EXPECT_TRUE(relay.Unread().empty());
    EXPECT_TRUE(Page().isVisible());
    EXPECT_LT(Link().RxCount(), 128u * 1024u);
}

TEST_F(E2E, GarbagePortFileShowsUnavailable) {
    const std::vector<QByteArray> contents = {
        "garbage", "", "0", "70000", "-5", "12a", "99999999999999999999", "  \n"};
    for (const QByteArray& content : contents) {
        SCOPED_TRACE("port file \"" + content.toStdString() + "\"");
        WritePortFile(Runtime(), content);
        OpenWindow();
        EXPECT_EQ(Core().RouterPort(), 0);
        ASSERT_TRUE(WaitUntil([&] { return UnavailablePage(); })) << Describe();
        Connect();
        ASSERT_TRUE(WaitUntilSteady([&] { return UnavailablePage() && !Link().IsOpen(); }))
            << Describe();
        CloseWindow();
    }
    // A file that is not a regular file at all.
    QFile::remove(PortFilePath(Runtime()));
    ASSERT_TRUE(QDir().mkpath(PortFilePath(Runtime())));
    OpenWindow();
    ASSERT_TRUE(WaitUntilSteady([&] { return UnavailablePage(); })) << Describe();
}

TEST_F(E2E, RelayThatNeverAnswersKeepsWaitingAndANewAttemptReplacesIt) {
    ScriptedRelay& relay = StartRelay();
    OpenWindow();
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(1));
    EXPECT_EQ(relay.Next(16), Hello());
    // Nothing comes: the page keeps saying what to do, the program stays
    // responsive.
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); }, 1500)) << Describe();
    EXPECT_TRUE(Link().IsOpen());
    EXPECT_TRUE(relay.Unread().empty());
    frame_->RefreshCommandStates();
    QAction* first = frame_->MainToolBar()->actions().at(0);
    EXPECT_EQ(first->text(), "Connect via PC Suite/mRouter");
    EXPECT_TRUE(first->isEnabled());

    // Clicking Connect again drops the first socket and starts afresh.
    Connect();
    ASSERT_TRUE(relay.WaitForConnections(2));
    EXPECT_EQ(relay.Next(16), Hello());
    ASSERT_TRUE(relay.WaitForEof(0));
    EXPECT_FALSE(relay.Conn(1).eof);
    ASSERT_TRUE(WaitUntilSteady([&] { return WaitingPage(); })) << Describe();

    // Closing the window ends the second one without Bye (it never synced).
    CloseWindow();
    ASSERT_TRUE(relay.WaitForEof(1));
    EXPECT_TRUE(relay.Unread().empty());
}

TEST_F(E2E, ClosingTheWindowDuringAnAttemptDoesNotCrash) {
    ScriptedRelay& relay = StartRelay();

    {
        SCOPED_TRACE("while the click's delayed attempt is pending");
        OpenWindow();
        ClickCheckIcon();
        CloseWindow();
        Idle(400);
        EXPECT_EQ(relay.Count(), 0u);
    }
    {
        SCOPED_TRACE("while the socket connects");
        OpenWindow();
        Connect();
        CloseWindow();
        // Whatever reached the relay is closed again.
        Idle(100);
        ASSERT_TRUE(WaitUntil([&] {
            for (std::size_t i = 0; i < relay.Count(); ++i)
                if (!relay.Conn(i).eof) return false;
            return true;
        }));
    }
    {
        SCOPED_TRACE("accepted, before the phone answers");
        OpenWindow();
        const std::size_t before = relay.Count();
        Connect();
        ASSERT_TRUE(relay.WaitForConnections(before + 1));
        ASSERT_EQ(relay.Next(16), Hello());
        CloseWindow();
        ASSERT_TRUE(relay.WaitForEof(before));
        EXPECT_TRUE(relay.Unread().empty());
    }
    {
        SCOPED_TRACE("right after the pattern, while it is handled");
        OpenWindow();
        const std::size_t before = relay.Count();
        Connect();
        ASSERT_TRUE(relay.WaitForConnections(before + 1));
        ASSERT_EQ(relay.Next(16), Hello());
        relay.Send(Concat({SyncBytes(), Message(0, PatternRecord(0, 1, 1))}));
        CloseWindow();
        ASSERT_TRUE(relay.WaitForEof(before));
    }
    {
        SCOPED_TRACE("connected: Bye goes out before the close");
        OpenWindow();
        const std::size_t before = relay.Count();
        Connect();
        ASSERT_TRUE(relay.WaitForConnections(before + 1));
        ASSERT_EQ(relay.Next(16), Hello());
        relay.Send(SyncBytes());
        ASSERT_EQ(relay.Next(9), Concat({DefaultOptions(), {0x01}}));
        ASSERT_TRUE(WaitUntil([&] { return Core().ActiveLink() != nullptr; }));
        CloseWindow();
        EXPECT_EQ(relay.Next(1), ByteVec{0xFF});
        ASSERT_TRUE(relay.WaitForEof(before));
    }
    {
        SCOPED_TRACE("during Disconnect's 200 ms");
        OpenWindow();
        const std::size_t before = relay.Count();
        ASSERT_NO_FATAL_FAILURE(ConnectAndSync(relay));
        frame_->OnCommand(cmd::kDisconnect);
        EXPECT_EQ(relay.Next(1), ByteVec{0xFF});
        CloseWindow();
        ASSERT_TRUE(relay.WaitForEof(before));
    }
}

// ===========================================================================
// With the phone simulator: a real phone stream

struct ColourModeCase {
    const char* name;
    int command;
    // Whether every pixel can be a pixel of this mode.
    bool (*fits)(QRgb pixel);
    // How far the list area may be, on average per channel, from the same
    // area in 4096 colours.
    double tolerance;
};

void PrintTo(const ColourModeCase& mode, std::ostream* os) {
    *os << mode.name;
}

bool In(int value, std::initializer_list<int> steps) {
    return std::find(steps.begin(), steps.end(), value) != steps.end();
}
bool Step16(int v) {
    return In(v, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                  0xDD, 0xF8, 0xFF});
}
bool Step8(int v) {
    return In(v, {0, 36, 73, 109, 146, 182, 220, 255});
}
bool Fits4096(QRgb p) {
    return Step16(qRed(p)) && Step16(qGreen(p)) && Step16(qBlue(p));
}
bool Fits256(QRgb p) {
    return In(qRed(p), {0, 85, 170, 255}) && Step8(qGreen(p)) && Step8(qBlue(p));
}
bool FitsGrey16(QRgb p) {
    return qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qRed(p) % 0x11 == 0;
}
bool Fits64K(QRgb p) {
    const auto five = [](int v) { return v == 255 || v % 8 == 0; };
    return five(qRed(p)) && (qGreen(p) == 255 || qGreen(p) % 4 == 0) && five(qBlue(p));
}
bool FitsGrey4(QRgb p) {
    return qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qRed(p) % 0x55 == 0;
}
bool FitsAny(QRgb) {
    return true;
}

class SimColourModes : public E2E, public ::testing::WithParamInterface<ColourModeCase> {};

// Mean absolute difference per channel between two images over lines
// first..last; greys are compared with the luma of the other image.
double MeanDifference(const QImage& a, const QImage& b, int first, int last, bool grey) {
    double sum = 0;
    int n = 0;
    for (int y = first; y <= last; ++y) {
        for (int x = 0; x < kScreenWidth; ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (grey) {
                sum += std::abs(qRed(p) - qGray(q));
                n += 1;
            } else {
                sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                       std::abs(qBlue(p) - qBlue(q));
                n += 3;
            }
        }
    }
    return sum / n;
}

TEST_P(SimColourModes, PhoneScreenIsPaintedInTheModeAskedFor) {
    const ColourModeCase& mode = GetParam();
    StartSim({"--static", "--ping-interval", "0"});
    OpenWindow();

    // Whole screen there: the title bar at the top and the softkeys at the
    // bottom are drawn.
    const auto painted = [&] {
        return Core().ActiveLink() && ScreenHasNonWhite(0, 15) && ScreenHasNonWhite(304, 319);
    };

    // First in 4096 colours, for reference.
    Connect();
    ASSERT_TRUE(WaitUntil(painted)) << Describe() << sim_->Log().toStdString();
    const QImage reference = View()->ScreenImage();
    frame_->OnCommand(cmd::kDisconnect);
    ASSERT_TRUE(WaitUntil([&] { return Page().isVisible() && !Link().IsOpen(); })) << Describe();

    // Then in the mode under test, chosen while disconnected.
    frame_->OnCommand(mode.command);
    Connect();
    ASSERT_TRUE(WaitUntil(painted)) << Describe() << sim_->Log().toStdString();
    ASSERT_TRUE(sim_->WaitForLog("<- Options"));
    // Let the first screen finish arriving (it may come in more than one
    // message), then compare what is painted with the buffer.
    const std::uint32_t firstValue = Link().LastFrameValue();
    WaitUntil([&] { return Link().LastFrameValue() != firstValue; }, 300);
    const QImage buffer = View()->ScreenImage();
    const QImage shown = PaintedScreen();
    ASSERT_EQ(shown, buffer);

    // Plausible: pixels of the mode's palette, a real picture (not blank),
    // and the same list as in 4096 colours.
    std::set<QRgb> colours;
    int misfits = 0;
    for (int y = 0; y < kScreenHeight; ++y) {
        for (int x = 0; x < kScreenWidth; ++x) {
            const QRgb p = buffer.pixel(x, y);
            colours.insert(p);
            if (!mode.fits(p) && ++misfits <= 3)
                ADD_FAILURE() << "pixel " << std::hex << p << " at " << std::dec << x << "," << y
                              << " is not a " << mode.name << " pixel";
        }
    }
    EXPECT_EQ(misfits, 0);
    EXPECT_GE(colours.size(), 3u);
    const bool grey = mode.fits == FitsGrey16 || mode.fits == FitsGrey4;
    const double diff = MeanDifference(buffer, reference, 16, 183, grey);
    EXPECT_LE(diff, mode.tolerance) << "list area differs from 4096 colours by " << diff;
    EXPECT_TRUE(ScreenHasNonWhite(16, 183));
    EXPECT_TRUE(sim_->Running());
}

INSTANTIATE_TEST_SUITE_P(
    E2E, SimColourModes,
    ::testing::Values(ColourModeCase{"Colour4096", cmd::kColor4096, Fits4096, 0.0},
                      ColourModeCase{"Colour256", cmd::kColor256, Fits256, 20.0},
                      ColourModeCase{"Grey16", cmd::kGrey16, FitsGrey16, 6.0},
                      ColourModeCase{"Colour64K", cmd::kColor64K, Fits64K, 8.0},
                      ColourModeCase{"Grey4", cmd::kGrey4, FitsGrey4, 20.0},
                      ColourModeCase{"Jpeg70", cmd::kJpeg70, FitsAny, 16.0}),
    [](const ::testing::TestParamInfo<ColourModeCase>& param) {
        return std::string(param.param.name);
    });

TEST_F(E2E, SimulatorDrawsWhatTheStylusAndKeysDo) {
    StartSim({"--static", "--ping-interval", "0"});
    OpenWindow();
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return Core().ActiveLink() && ScreenHasNonWhite(304, 319); }))
        << Describe();
    const QImage before = View()->ScreenImage();

    // A stroke in the scribble area is drawn on the phone and comes back.
    CChildView* view = View();
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(3 + 40, 2 + 250));
    for (int x = 41; x <= 160; x += 3) {
        const QPoint at(3 + x, 2 + 250 + (x % 9));
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(3 + 160, 2 + 250));
    ASSERT_TRUE(sim_->WaitForLog("<- PointerEvent down 40,250"));
    ASSERT_TRUE(sim_->WaitForLog("<- PointerEvent up 160,250"));
    const auto changed = [&](int first, int last) {
        const QImage now = View()->ScreenImage();
        for (int y = first; y <= last; ++y)
            for (int x = 0; x < kScreenWidth; ++x)
                if (now.pixel(x, y) != before.pixel(x, y)) return true;
        return false;
    };
    EXPECT_TRUE(WaitUntil([&] { return changed(240, 265); }));

    // Typed digits show on the text line.
    view->setFocus();
    QTest::keyClicks(view, "42");
    ASSERT_TRUE(sim_->WaitForLog("<- KeyEvent click 52"));
    EXPECT_TRUE(WaitUntil([&] { return changed(184, 195); }));
    EXPECT_EQ(PaintedScreen(), View()->ScreenImage());
}

TEST_F(E2E, SimulatorClipboardEventsPingsAndBye) {
    StartSim({"--static", "--ping-interval", "200"});
    OpenWindow();
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return Core().ActiveLink() && ScreenHasNonWhite(304, 319); }))
        << Describe();
    QSignalSpy raised(View(), &CChildView::bringToFrontRequested);

    // The phone's pings are answered.
    ASSERT_TRUE(sim_->WaitForLog("<- PingReply")) << sim_->Log().toStdString();

    // Phone to PC, in the phone's code page.
    sim_->Command("clip text from the phone: 5 €, café");
    ASSERT_TRUE(WaitUntil([&] {
        return QApplication::clipboard()->text() ==
               QStringLiteral("text from the phone: 5 €, café");
    })) << QApplication::clipboard()->text().toStdString();
    // PC to phone, and back again on request.
    QApplication::clipboard()->setText(QStringLiteral("from the PC"));
    frame_->OnCommand(cmd::kPasteToPhoneClipboard);
    ASSERT_TRUE(sim_->WaitForLog("<- SetPhoneClipboard \"from the PC\""));
    QApplication::clipboard()->setText(QStringLiteral("something else"));
    frame_->OnCommand(cmd::kEditCopy);
    ASSERT_TRUE(sim_->WaitForLog("<- GetPhoneClipboard"));
    ASSERT_TRUE(WaitUntil(
        [&] { return QApplication::clipboard()->text() == QStringLiteral("from the PC"); }));

    // Events.
    sim_->Command("call");
    ASSERT_TRUE(WaitUntil([&] { return raised.count() == 1; }));
    sim_->Command("sms");
    ASSERT_TRUE(WaitUntil([&] { return raised.count() == 2; }));

    // The phone's Bye ends it: the ready page, no new connection.
    sim_->Command("bye");
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage() && !Link().IsOpen(); })) << Describe();
    EXPECT_EQ(Core().ActiveLink(), nullptr);
}

TEST_F(E2E, SimulatorDisconnectReconnectAndRelayGone) {
    StartSim({"--static", "--ping-interval", "0"});
    OpenWindow();
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage(); })) << Describe();
    const auto connected = [&] {
        return Core().ActiveLink() && ScreenHasNonWhite(304, 319) && !Page().isVisible();
    };
    ClickCheckIcon();
    ASSERT_TRUE(WaitUntil(connected)) << Describe();

    const qsizetype mark = sim_->LogSize();
    frame_->OnCommand(cmd::kDisconnect);
    ASSERT_TRUE(sim_->WaitForLog("<- Bye", mark));
    ASSERT_TRUE(WaitUntilSteady([&] { return ReadyPage() && !Link().IsOpen(); })) << Describe();

    // A new connection to the same relay.
    Connect();
    ASSERT_TRUE(WaitUntil(connected)) << Describe();
    EXPECT_EQ(PaintedScreen(), View()->ScreenImage());

    // The relay ends: the peer closes and the port file is gone, which the
    // page notices at once; an attempt finds mRouter unavailable too.
    sim_->Stop();
    EXPECT_FALSE(QFile::exists(PortFilePath(Runtime())));
    ASSERT_TRUE(WaitUntilSteady([&] { return UnavailablePage() && !Link().IsOpen(); }))
        << Describe();
    Connect();
    ASSERT_TRUE(WaitUntilSteady([&] { return UnavailablePage(); })) << Describe();
}

}  // namespace
}  // namespace velarix::test
