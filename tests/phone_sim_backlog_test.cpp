// The phone simulator against a viewer that asks and never reads: the
// simulator must drop it rather than queue answers without end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifndef VELARIX_PHONE_SIM
#error "VELARIX_PHONE_SIM must name the phone simulator executable"
#endif

namespace {

namespace fs = std::filesystem;

// Resident memory of a process in KiB, or -1.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

class Simulator {
public:
    explicit Simulator(const fs::path& portFile) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // Its commands come from a pipe that stays open and silent.
            ::dup2(fds[0], 0);
            ::close(fds[1]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            // A sanitizer build keeps freed memory in quarantine, which would
            // count as growth; a small quarantine keeps the bound meaningful.
            const char* asan = std::getenv("ASAN_OPTIONS");
            const std::string options =
                std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "quarantine_size_mb=4";
            ::setenv("ASAN_OPTIONS", options.c_str(), 1);
            ::execl(VELARIX_PHONE_SIM, VELARIX_PHONE_SIM, "--static", "--quiet", "--hello-timeout",
                    "0", "--port-file", portFile.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[0]);
        stdin_ = fds[1];
    }
    ~Simulator() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdin_ >= 0) ::close(stdin_);
    }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
};

TEST(PhoneSimulator, DropsAViewerThatAsksAndNeverReads) {
    std::string dir = (fs::temp_directory_path() / "velarix-sim-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const fs::path portFile = fs::path(dir) / "relay.port";
    Simulator sim(portFile);
    ASSERT_GT(sim.Pid(), 0);

    int port = 0;
    for (int i = 0; i < 200 && port == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream(portFile) >> port;
    }
    ASSERT_GT(port, 0) << "the simulator published no port";

    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const timeval timeout{10, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

    // SyncAck to start streaming, then clipboard requests (one byte each, a
    // reply of some 27 bytes each): 6 MB of them would queue 160 MB of replies.
    // Measured against the simulator's own size once it streams, so that a
    // sanitizer build's larger footprint does not count.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = ResidentKiB(sim.Pid());
    std::vector<std::uint8_t> requests(64 * 1024, 0x0A);
    requests[0] = 0x01;
    bool dropped = false;
    for (std::size_t sent = 0; sent < (6u << 20) && !dropped;) {
        const ssize_t n = ::send(sock, requests.data(), requests.size(), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            requests[0] = 0x0A;
        } else {
            dropped = errno == EPIPE || errno == ECONNRESET;
            ASSERT_TRUE(dropped) << "send: " << errno;
        }
    }
    const long grown = ResidentKiB(sim.Pid()) - before;
    ::close(sock);
    fs::remove_all(dir);
    EXPECT_TRUE(dropped);
    EXPECT_GT(before, 0);
    EXPECT_LT(grown, 64 * 1024) << "KiB more resident";
}

}  // namespace
