#include "Relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "PhoneMessages.h"

namespace phonesim {

namespace {

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string Hex32(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

}  // namespace

// The most a viewer may leave unread before it is dropped: many times what a working viewer
// ever has waiting, since frames already stop at the session's backlog limit.
constexpr std::size_t kMaxQueued = 4 * 1024 * 1024;

// The viewer's socket with its output queue. Sends never block: bytes the kernel does not take
// at once wait here and go out when poll() reports the socket writable.
class Relay::Connection : public Transport {
public:
    Connection(UniqueFd fd, const Log& log) : fd_(std::move(fd)), log_(log) {}

    int Fd() const { return fd_.Get(); }
    bool WantsWrite() const { return head_ < out_.size(); }
    bool CloseRequested() const { return closeRequested_; }
    const std::string& CloseReason() const { return closeReason_; }

    void Send(Bytes bytes, std::optional<FrameNote> note) override {
        if (closeRequested_) return;
        // Every message counts against the limit, answers included: a viewer that keeps
        // asking but never reads would otherwise grow the queue until memory runs out.
        if (Queued() + bytes.size() > kMaxQueued) {
            Close("the viewer reads nothing: " + std::to_string(Queued()) +
                  " bytes are waiting for it");
            return;
        }
        queuedTotal_ += bytes.size();
        if (note) notes_.push_back({queuedTotal_, std::move(*note)});
        if (head_ == out_.size()) {
            out_.clear();
            head_ = 0;
        }
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        Flush();
    }

    void Close(const std::string& reason) override {
        if (closeRequested_) return;
        closeRequested_ = true;
        closeReason_ = reason;
    }

    std::size_t Queued() const override { return out_.size() - head_; }

    void Flush() {
        while (!closeRequested_ && head_ < out_.size()) {
            const ssize_t n = ::send(fd_.Get(), out_.data() + head_, out_.size() - head_,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                head_ += static_cast<std::size_t>(n);
                writtenTotal_ += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            Close(n < 0 ? Errno("send failed") : "send failed");
        }
        if (!notes_.empty()) {
            const std::int64_t usec = MonotonicMicros();
            while (!notes_.empty() && notes_.front().end <= writtenTotal_) {
                log_.FrameSent(notes_.front().note.frameValue, notes_.front().note.summary, usec);
                notes_.pop_front();
            }
        }
        // Keep the queue from growing by its consumed front.
        if (head_ > (1u << 20) && head_ * 2 > out_.size()) {
            out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }

private:
    struct PendingNote {
        std::size_t end;  // queuedTotal_ after the frame's last byte
        FrameNote note;
    };

    UniqueFd fd_;
    const Log& log_;
    Bytes out_;
    std::size_t head_ = 0;
    std::size_t queuedTotal_ = 0;
    std::size_t writtenTotal_ = 0;
    std::deque<PendingNote> notes_;
    bool closeRequested_ = false;
    std::string closeReason_;
};

Relay::Relay(const RelayConfig& config, const Log& log)
    : config_(config), log_(log), phone_(config.animated, Clock::now()) {}

Relay::~Relay() {
    session_.reset();
    connection_.reset();
}

bool Relay::Setup() {
    // Signals arrive as readable data in the poll loop, so it can end cleanly and remove the
    // port file.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0) {
        log_.Info(Errno("cannot block signals"));
        return false;
    }
    signals_.Reset(::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_) {
        log_.Info(Errno("signalfd"));
        return false;
    }
    ::signal(SIGPIPE, SIG_IGN);

    // A closed standard input would let the next socket take descriptor 0 and be read as
    // commands.
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        if (null > STDIN_FILENO) ::close(null);
        stdinOpen_ = false;
    }

    listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener_) {
        log_.Info(Errno("socket"));
        return false;
    }
    const int one = 1;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(config_.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        log_.Info(Errno("cannot listen on 127.0.0.1:" + std::to_string(config_.port)));
        return false;
    }
    if (::listen(listener_.Get(), 8) != 0) {
        log_.Info(Errno("listen"));
        return false;
    }
    socklen_t length = sizeof address;
    if (::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        log_.Info(Errno("getsockname"));
        return false;
    }
    port_ = ntohs(address.sin_port);

    std::string error;
    const std::string path =
        config_.portFile.empty() ? DefaultPortFilePath(&error) : config_.portFile;
    if (path.empty() || !portFile_.Publish(path, port_, &error)) {
        log_.Info("cannot publish the port: " + error);
        return false;
    }
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(port_));
    std::fflush(stdout);
    log_.Info("port " + std::to_string(port_) + " published in " + path);
    return true;
}

int Relay::Run() {
    if (!Setup()) return 1;
    while (!quit_) {
        Clock::time_point now = Clock::now();
        if (session_) session_->OnTimer(now);
        RunCommands(now);
        if (connection_ && connection_->CloseRequested()) {
            CloseConnection(connection_->CloseReason());
        }
        if (quit_) break;

        pollfd fds[4];
        nfds_t count = 0;
        fds[count++] = {signals_.Get(), POLLIN, 0};
        const nfds_t listenerSlot = connection_ ? 99 : count;
        if (!connection_) fds[count++] = {listener_.Get(), POLLIN, 0};
        const nfds_t connectionSlot = connection_ ? count : 99;
        if (connection_) {
            const short events =
                static_cast<short>(POLLIN | (connection_->WantsWrite() ? POLLOUT : 0));
            fds[count++] = {connection_->Fd(), events, 0};
        }
        const nfds_t stdinSlot = stdinOpen_ ? count : 99;
        if (stdinOpen_) fds[count++] = {STDIN_FILENO, POLLIN, 0};

        const int ready = ::poll(fds, count, PollTimeout(now));
        if (ready < 0) {
            if (errno == EINTR) continue;
            log_.Info(Errno("poll"));
            exitCode_ = 1;
            break;
        }
        now = Clock::now();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signals_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                log_.Info(std::string("signal ") + strsignal(static_cast<int>(info.ssi_signo)) +
                          ", shutting down");
            }
            quit_ = true;
            break;
        }
        if (listenerSlot < count && (fds[listenerSlot].revents & POLLIN)) Accept(now);
        if (connectionSlot < count && connection_) {
            const short revents = fds[connectionSlot].revents;
            if (revents & POLLOUT) connection_->Flush();
            if (revents & (POLLIN | POLLHUP | POLLERR)) ReadConnection(now);
        }
        if (stdinSlot < count && fds[stdinSlot].revents) ReadStdin();
    }
    if (connection_) CloseConnection("the simulator ends");
    portFile_.Remove();
    return exitCode_;
}

int Relay::PollTimeout(Clock::time_point now) const {
    Clock::time_point next = now + std::chrono::seconds(1);
    if (session_) next = std::min(next, session_->NextDeadline());
    if (!pending_.empty()) next = std::min(next, std::max(commandsReadyAt_, now));
    if (next <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1000));
}

void Relay::Accept(Clock::time_point now) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd fd(::accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &length,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            log_.Info(Errno("accept"));
        }
        return;
    }
    const int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    log_.Info("viewer connected from port " + std::to_string(ntohs(peer.sin_port)));
    connection_ = std::make_unique<Connection>(std::move(fd), log_);
    session_ = std::make_unique<Session>(config_.session, phone_, jpeg_, *connection_, log_, now);
    session_->onFirstSync = [this] {
        log_.Info("synced");
        QueueCommands(config_.afterSync);
    };
    session_->OnTimer(now);
}

void Relay::CloseConnection(const std::string& reason) {
    log_.Info("connection closed: " + reason);
    session_.reset();
    connection_.reset();
    if (config_.exitOnDisconnect) quit_ = true;
}

void Relay::ReadConnection(Clock::time_point now) {
    std::uint8_t buffer[65536];
    while (connection_ && !connection_->CloseRequested()) {
        const ssize_t n = ::recv(connection_->Fd(), buffer, sizeof buffer, 0);
        if (n > 0) {
            session_->OnReceived(std::span(buffer, static_cast<std::size_t>(n)), now);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        connection_->Close(n == 0 ? "the viewer closed it" : Errno("receive failed"));
    }
}

void Relay::ReadStdin() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        // Keep serving: the simulator runs until quit, a signal or a disconnect with
        // --exit-on-disconnect.
        stdinOpen_ = false;
        if (!stdinBuffer_.empty()) TakeCommandLine(std::exchange(stdinBuffer_, {}));
        return;
    }
    stdinBuffer_.append(buffer, static_cast<std::size_t>(n));
    std::size_t newline;
    while ((newline = stdinBuffer_.find('\n')) != std::string::npos) {
        const std::string line = stdinBuffer_.substr(0, newline);
        stdinBuffer_.erase(0, newline + 1);
        TakeCommandLine(line);
    }
    if (stdinBuffer_.size() > 1 << 20) stdinBuffer_.clear();  // no line is that long
}

void Relay::TakeCommandLine(const std::string& line) {
    QueueCommands({line});
}

void Relay::QueueCommands(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::string error;
        if (auto command = ParseCommand(line, &error)) {
            pending_.push_back(std::move(*command));
        } else if (!error.empty()) {
            log_.Info(error);
        }
    }
}

void Relay::RunCommands(Clock::time_point now) {
    while (!pending_.empty() && now >= commandsReadyAt_ && !quit_) {
        const Command command = std::move(pending_.front());
        pending_.pop_front();
        if (command.kind == CommandKind::kSleep) {
            commandsReadyAt_ = now + std::chrono::milliseconds(command.number);
            continue;
        }
        Execute(command, now);
    }
}

Session* Relay::SyncedSession(const char* what) {
    if (!session_) {
        log_.Info(std::string("no viewer connected: ") + what + " not sent");
        return nullptr;
    }
    return session_.get();
}

void Relay::Execute(const Command& c, Clock::time_point now) {
    switch (c.kind) {
        case CommandKind::kCall:
            if (Session* s = SyncedSession("call")) {
                s->SendMessage(PhoneEventMessage(0), "PhoneEvent 0 (incoming call)");
            }
            break;
        case CommandKind::kSms:
            if (Session* s = SyncedSession("sms")) {
                s->SendMessage(PhoneEventMessage(1), "PhoneEvent 1 (incoming SMS)");
            }
            break;
        case CommandKind::kEvent:
            if (Session* s = SyncedSession("event")) {
                s->SendMessage(PhoneEventMessage(static_cast<std::uint8_t>(c.number)),
                               "PhoneEvent " + std::to_string(c.number));
            }
            break;
        case CommandKind::kStatusWord:
            if (Session* s = SyncedSession("status-word")) {
                s->SendMessage(StatusWordMessage(c.number), "StatusWord " + Hex32(c.number));
            }
            break;
        case CommandKind::kStatusValue:
            if (Session* s = SyncedSession("status-value")) {
                s->SendMessage(StatusValueMessage(c.number),
                               "StatusValue " + std::to_string(c.number));
            }
            break;
        case CommandKind::kFlip:
            phone_.flipClosed = c.on;
            log_.Info(c.on ? "flip closed" : "flip open");
            if (session_) session_->OnFlipChanged();
            break;
        case CommandKind::kBye:
            if (Session* s = SyncedSession("bye")) {
                if (s->SendMessage(ByeMessage(false), "Bye")) s->Quiesce();
            }
            break;
        case CommandKind::kByePayload:
            if (Session* s = SyncedSession("bye-payload")) {
                s->SendMessage(ByeMessage(true), "Bye with a payload byte");
            }
            break;
        case CommandKind::kGarbage:
            if (Session* s = SyncedSession("garbage")) {
                s->SendMessage(GarbageMessage(), "garbage: length 0x7FFFFFFF");
            }
            break;
        case CommandKind::kClip:
            phone_.clipboard = c.text;
            log_.Info("phone clipboard set to " + QuoteForLog(c.text));
            if (Session* s = SyncedSession("ClipboardText")) {
                s->SendMessage(ClipboardTextMessage(c.text),
                               "ClipboardText " + QuoteForLog(c.text));
            }
            break;
        case CommandKind::kFull:
            if (session_) session_->RequestFullScreen();
            log_.Info("whole screen with the next sample");
            break;
        case CommandKind::kStream:
            phone_.streaming = c.on;
            log_.Info(c.on ? "screen updates resumed" : "screen updates paused");
            break;
        case CommandKind::kPing:
            if (Session* s = SyncedSession("ping")) s->SendPing(now);
            break;
        case CommandKind::kText:
            phone_.screen.AppendText(c.text);
            break;
        case CommandKind::kClear:
            phone_.screen.Clear();
            break;
        case CommandKind::kDisconnect:
            if (connection_) connection_->Close("disconnect command");
            break;
        case CommandKind::kQuit:
            quit_ = true;
            break;
        case CommandKind::kHelp:
            std::fputs(CommandHelp(), stderr);
            break;
        case CommandKind::kSleep:
            break;  // handled by RunCommands
    }
}

}  // namespace phonesim
