#include "HostileRelay.h"

#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <optional>

#include "LoopbackRelay.h"
#include "app/CMainFrame.h"
#include "settings/FileSettingsBackend.h"
#include "status/CHtmlCtrl.h"
#include "view/CChildView.h"
#include "view/CommandIds.h"

namespace velarix::test {
namespace {

// Fires every millisecond on the GUI thread and keeps the longest gap.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Beat(); });
    }
    void Start() {
        longestNs_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    // The longest time the loop did not get round to the timer, in ms.
    qint64 Stop() {
        Beat();
        timer_.stop();
        return longestNs_ / 1000000;
    }

private:
    void Beat() {
        const qint64 now = clock_.nsecsElapsed();
        longestNs_ = std::max(longestNs_, now - last_);
        last_ = now;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longestNs_ = 0;
};

// What identifies the settings file's contents: its bytes, and the inode and
// modification time, which any rewrite (even of the same bytes) changes.
struct FileState {
    QByteArray bytes;
    ino_t inode = 0;
    timespec mtime{};
    bool operator==(const FileState& o) const {
        return bytes == o.bytes && inode == o.inode && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

std::optional<FileState> ReadState(const QString& path) {
    QFile file(path);
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return FileState{file.readAll(), st.st_ino, st.st_mtim};
}

// The offscreen platform warns on every raise(); a flood of phone events
// would bury the output in it.
QtMessageHandler quietFallback = nullptr;

void QuietRaise(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QLatin1String("does not support raise()"))) return;
    if (quietFallback) quietFallback(type, context, text);
}

ByteVec Ping() {
    return Message(static_cast<std::uint8_t>(PhoneMsg::Ping));
}

// The end of every all-at-once scenario: the pattern (ignored by a synced
// link, a fresh sync for one that lost it) and a Ping to answer.
ByteVec Ending() {
    return Concat({SyncBytes(), Ping()});
}

}  // namespace

const std::vector<HostileScenario>& HostileScenarios() {
    static const std::vector<HostileScenario> scenarios = {
        // A pattern and a message too short to be one: a full sync every 15 bytes.
        {"resync_storm",
         [] {
             return Concat(
                 {RepeatBytes(Concat({SyncBytes(), {0x00, 0x00, 0x00, 0x03, 0x07}}), 1000),
                  Ending()});
         }},
        // The longest message the link takes, a raw frame of garbage.
        {"max_length_garbage",
         [] {
             return Concat(
                 {Message(0, RandomBytes(kMaxMessageLength - kMinMessageLength, 7)), Ending()});
         }},
        // Incoming calls and SMS alternating, each allowed to raise the window.
        {"phone_event_flood",
         [] {
             return Concat({RepeatBytes(Concat({Message(130, {kEventIncomingCall}),
                                                Message(130, {kEventIncomingSms})}),
                                        5000),
                            Ending()});
         }},
        // 50 KB of short clipboard texts.
        {"clipboard_text_flood",
         [] {
             return Concat(
                 {RepeatBytes(Message(10, {0x00, 0x05, 'h', 'e', 'l', 'l', 'o'}), 50000 / 12),
                  Ending()});
         }},
        // One full-screen strip whose smallest scan repeats to fill the message.
        {"jpeg_scan_bomb",
         [] {
             return Concat(
                 {Message(2, JpegPayload(0, 1, JpegScanBomb(kMaxMessageLength - 16))), Ending()});
         }},
        // 4 MB of compressed frames, every one inflating to the link's whole
        // buffer of lines over the full screen, in all five pixel modes.
        {"zlib_bomb_flood",
         [] {
             std::vector<ByteVec> bombs;
             for (int mode = 0; mode < 5; ++mode)
                 bombs.push_back(Message(static_cast<std::uint8_t>(PhoneMsg::FrameZlib),
                                         ZlibBombPayload(mode)));
             ByteVec out;
             for (std::size_t i = 0; out.size() < 4 * 1024 * 1024; ++i)
                 out.insert(out.end(), bombs[i % 5].begin(), bombs[i % 5].end());
             return Concat({out, Ending()});
         }},
        // A Ping, one byte a second.
        {"slow_loris", [] { return Ping(); }, 1000},
    };
    return scenarios;
}

HostileRun PlayHostile(const HostileScenario& scenario, int timeoutMs) {
    HostileRun run;
    quietFallback = qInstallMessageHandler(QuietRaise);
    QTemporaryDir runtime;
    QTemporaryDir config;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString settingsPath = config.path() + "/Quillet.conf";
    {
        ScriptedRelay relay;
        WritePortFile(runtime.path(), QByteArray::number(relay.Port()));
        auto frame = std::make_unique<CMainFrame>(SettingsStore(
            std::make_shared<FileSettingsBackend>(QFile::encodeName(settingsPath).toStdString())));
        frame->show();
        auto synced = [&] { return frame->View()->Core().ActiveLink() != nullptr; };
        auto connectAndSync = [&](std::size_t connection) {
            frame->OnCommand(cmd::kConnect);
            if (!relay.WaitForConnections(connection + 1) || relay.Next(16) != Hello())
                return false;
            relay.Send(SyncBytes());
            return relay.Next(8) == DefaultOptions() && relay.Next(1) == ByteVec{0x01} &&
                   WaitUntil(synced);
        };
        if (!WaitUntil([&] { return !frame->View()->StatusPage()->IsLoading(); }) ||
            !connectAndSync(0)) {
            run.detail = "the first connection did not sync";
        } else {
            const auto before = ReadState(settingsPath);
            const ByteVec bytes = scenario.bytes();
            const qsizetype from = relay.Last().data.size();
            Heartbeat heartbeat;
            QElapsedTimer clock;
            heartbeat.Start();
            clock.start();
            if (scenario.trickleMs == 0) {
                relay.Send(bytes);
            } else {
                for (std::uint8_t b : bytes) {
                    relay.Send({b});
                    Idle(scenario.trickleMs);
                }
            }
            run.answered =
                WaitUntil([&] { return relay.Last().data.indexOf('\x07', from) >= 0; }, timeoutMs);
            run.handledMs = clock.elapsed();
            run.longestStallMs = heartbeat.Stop();
            run.settingsUntouched = before.has_value() && before == ReadState(settingsPath);
            if (!run.answered) run.detail += "no reply to the closing Ping; ";
            if (!run.settingsUntouched) run.detail += "the settings file was rewritten; ";

            // The relay goes away; the next connection syncs as the first did.
            relay.CloseLast();
            run.reconnected =
                WaitUntil([&] { return !synced() && !frame->View()->Core().Link().IsOpen(); }) &&
                connectAndSync(1) && relay.Barrier() == ByteVec{0x07};
            if (!run.reconnected) run.detail += "no reconnection; ";
        }
        frame.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qInstallMessageHandler(quietFallback);
    return run;
}

}  // namespace velarix::test
