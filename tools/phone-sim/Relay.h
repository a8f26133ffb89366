// The relay side of the simulator: the listening socket on 127.0.0.1, one viewer connection
// at a time (others wait in the listen backlog), the port file, signals, and commands from
// standard input, all in one single-threaded poll() loop. The phone side of a connection is
// the Session; the relay only moves bytes and time into it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "FrameEncoder.h"
#include "Log.h"
#include "PortFile.h"
#include "Session.h"
#include "UniqueFd.h"

namespace phonesim {

struct RelayConfig {
    std::uint16_t port = 0;  // 0: the system chooses
    std::string portFile;    // empty: the default path
    bool animated = true;
    bool exitOnDisconnect = false;
    std::vector<std::string> afterSync;  // command lines run once per connection after sync
    SessionConfig session;
};

class Relay {
public:
    Relay(const RelayConfig& config, const Log& log);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Sets up sockets, signals and the port file, then serves until quit, a signal or (with
    // exitOnDisconnect) the end of the first connection. Returns the process exit code.
    int Run();

private:
    class Connection;

    bool Setup();
    void Accept(Clock::time_point now);
    void CloseConnection(const std::string& reason);
    void ReadConnection(Clock::time_point now);
    void ReadStdin();
    void TakeCommandLine(const std::string& line);
    void QueueCommands(const std::vector<std::string>& lines);
    void RunCommands(Clock::time_point now);
    void Execute(const Command& command, Clock::time_point now);
    Session* SyncedSession(const char* what);
    int PollTimeout(Clock::time_point now) const;

    const RelayConfig& config_;
    const Log& log_;
    JpegEncoder jpeg_;
    PhoneState phone_;
    PortFile portFile_;

    UniqueFd listener_;
    UniqueFd signals_;
    std::uint16_t port_ = 0;
    bool stdinOpen_ = true;
    std::string stdinBuffer_;

    std::unique_ptr<Connection> connection_;
    std::unique_ptr<Session> session_;  // destroyed before connection_, which it uses

    std::deque<Command> pending_;
    Clock::time_point commandsReadyAt_{};
    bool quit_ = false;
    int exitCode_ = 0;
};

}  // namespace phonesim
