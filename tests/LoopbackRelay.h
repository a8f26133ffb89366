// A relay played by a test over loopback TCP, and the bounded waits the
// end-to-end tests share: the relay accepts on 127.0.0.1, records what
// arrives on every connection with the time it arrived, and sends what the
// test says; its port goes into the runtime directory the way the real
// relay publishes it. Waits are bounded loops over the event loop.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "StreamBuilder.h"
#include "link/Protocol.h"

namespace velarix::test {

inline constexpr int kTimeoutMs = 10000;

// Runs the event loop until `done` holds, for at most `timeoutMs`.
template <class Pred>
inline bool WaitUntil(Pred&& done, int timeoutMs = kTimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.hasExpired(timeoutMs)) return done();
        QTest::qWait(2);
    }
    return true;
}

// Runs the event loop until `done` has held without a break for `holdMs`: for
// a page that may show the same state before and after a transition, or
// rebuild itself once more from its retry timer.
template <class Pred>
inline bool WaitUntilSteady(Pred&& done, int holdMs = 700, int timeoutMs = kTimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer held;
    bool holding = false;
    while (!timer.hasExpired(timeoutMs)) {
        if (done()) {
            if (!holding) {
                holding = true;
                held.start();
            } else if (held.hasExpired(holdMs)) {
                return true;
            }
        } else {
            holding = false;
        }
        QTest::qWait(5);
    }
    return false;
}

// Keeps the event loop running for a while, for checks that something does
// not happen.
inline void Idle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(ms)) QTest::qWait(5);
}

inline QByteArray ToQt(const ByteVec& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

inline ByteVec FromQt(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    return ByteVec(p, p + bytes.size());
}

inline ByteVec Repeat(std::uint8_t byte, std::size_t n) {
    return ByteVec(n, byte);
}

inline ByteVec Hello() {
    return Repeat(0x55, 16);
}

// The Options message for the default settings: zlib level 1, interlace
// auto, 4096 colours, quality 50, priority 2, 20 Hz.
inline ByteVec DefaultOptions() {
    return {0x04, 1, 1, 1, 0, 50, 2, 2};
}

// ---------------------------------------------------------------------------
// The relay's port file

inline QString PortFilePath(const QString& runtimeDir) {
    return runtimeDir + "/mrouter/relay.port";
}

inline void WritePortFile(const QString& runtimeDir, const QByteArray& content) {
    ASSERT_TRUE(QDir().mkpath(runtimeDir + "/mrouter"));
    QFile file(PortFilePath(runtimeDir));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
}

// A port on 127.0.0.1 on which nothing listens: bound once, then released.
inline quint16 ClosedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// ---------------------------------------------------------------------------
// A relay played by the test: accepts on 127.0.0.1, records what arrives on
// every connection with the time it arrived, and sends what the test says.

class ScriptedRelay {
public:
    enum class OnAccept {
        Keep,        // hold the connection and wait for the script
        CloseAtOnce  // close each connection as soon as it is accepted
    };

    struct Connection {
        QTcpSocket* socket = nullptr;
        QByteArray data;
        qsizetype read = 0;  // how much of `data` the test has taken
        // (total bytes received, ms since the relay started) per arrival
        std::vector<std::pair<qsizetype, qint64>> arrivals;
        bool eof = false;
        qint64 eofAt = -1;
    };

    explicit ScriptedRelay(OnAccept onAccept = OnAccept::Keep, ByteVec greeting = {})
        : onAccept_(onAccept), greeting_(std::move(greeting)) {
        clock_.start();
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { Accept(); });
        listening_ = server_.listen(QHostAddress::LocalHost, 0);
    }

    ~ScriptedRelay() {
        for (auto& c : connections_) {
            c->socket->disconnect();
            c->socket->abort();
        }
        server_.disconnect();
        server_.close();
    }

    ScriptedRelay(const ScriptedRelay&) = delete;
    ScriptedRelay& operator=(const ScriptedRelay&) = delete;

    bool Listening() const { return listening_; }
    quint16 Port() const { return server_.serverPort(); }
    qint64 Now() const { return clock_.elapsed(); }
    std::size_t Count() const { return connections_.size(); }

    bool WaitForConnections(std::size_t n) {
        return WaitUntil([&] { return connections_.size() >= n; });
    }

    Connection& Conn(std::size_t i) { return *connections_.at(i); }
    // The latest connection.
    Connection& Last() { return *connections_.back(); }

    // The next `n` bytes of the latest connection, once they have arrived;
    // what there is after the timeout otherwise, so the comparison shows it.
    ByteVec Next(std::size_t n) {
        if (connections_.empty() && !WaitForConnections(1)) return {};
        Connection& c = Last();
        WaitUntil([&] { return c.data.size() - c.read >= qsizetype(n); });
        const qsizetype take = std::min(c.data.size() - c.read, qsizetype(n));
        const QByteArray out = c.data.mid(c.read, take);
        c.read += take;
        return FromQt(out);
    }

    // Bytes of the latest connection not taken yet.
    ByteVec Unread() {
        if (connections_.empty()) return {};
        Connection& c = Last();
        const QByteArray out = c.data.mid(c.read);
        c.read = c.data.size();
        return FromQt(out);
    }

    void Send(const ByteVec& bytes) {
        if (connections_.empty()) return;
        QTcpSocket* s = Last().socket;
        s->write(ToQt(bytes));
        s->flush();
    }

    // Sends a Ping and takes the PingReply: everything sent before it has
    // been handled by then.
    ByteVec Barrier() {
        Send(Message(7));
        return Next(1);
    }

    // The relay closes the latest connection in an orderly way.
    void CloseLast() {
        if (connections_.empty()) return;
        Connection& c = Last();
        c.socket->flush();
        c.socket->disconnectFromHost();
    }

    bool WaitForEof(std::size_t i) {
        return WaitUntil([&] { return i < connections_.size() && connections_[i]->eof; });
    }

    // When the byte at `index` of connection `i` arrived; -1 when it has not.
    qint64 ArrivalOf(std::size_t i, qsizetype index) const {
        for (const auto& [total, at] : connections_.at(i)->arrivals)
            if (total > index) return at;
        return -1;
    }

private:
    void Accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            auto c = std::make_unique<Connection>();
            c->socket = s;
            Connection* raw = c.get();
            QObject::connect(s, &QTcpSocket::readyRead, [this, raw] { Read(*raw); });
            QObject::connect(s, &QTcpSocket::disconnected, [this, raw] {
                Read(*raw);
                if (!raw->eof) {
                    raw->eof = true;
                    raw->eofAt = clock_.elapsed();
                }
            });
            connections_.push_back(std::move(c));
            if (!greeting_.empty()) {
                s->write(ToQt(greeting_));
                s->flush();
            }
            if (onAccept_ == OnAccept::CloseAtOnce) s->close();
        }
    }

    void Read(Connection& c) {
        if (!c.socket->isOpen()) return;
        const QByteArray bytes = c.socket->readAll();
        if (bytes.isEmpty()) return;
        c.data += bytes;
        c.arrivals.emplace_back(c.data.size(), clock_.elapsed());
    }

    OnAccept onAccept_;
    ByteVec greeting_;
    QTcpServer server_;
    bool listening_ = false;
    QElapsedTimer clock_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace velarix::test
