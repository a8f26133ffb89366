// The relay bridge without COM: the relay's port comes from the file the relay
// publishes, and there is no connection box.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "status/RouterBridge.h"

namespace velarix {
namespace {

// A port is at most five digits; a file longer than this, white space
// included, is not one of ours and is not read further.
constexpr std::size_t kMaxPortFileBytes = 32;

// An open file descriptor, closed when it goes out of scope.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// One decimal number from 1 to 65535, white space around it allowed; 0 for
// anything else.
std::uint16_t ParsePort(const char* text, std::size_t size) {
    std::size_t i = 0;
    while (i < size && IsSpace(text[i])) ++i;
    std::uint32_t value = 0;
    std::size_t digits = 0;
    while (i < size && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
        if (value > 65535) return 0;
        ++digits;
        ++i;
    }
    while (i < size && IsSpace(text[i])) ++i;
    if (digits == 0 || i != size || value == 0) return 0;
    return static_cast<std::uint16_t>(value);
}

// The shared /tmp fallback is trusted only when its directory is ours and
// closed to others, as the relay leaves it; otherwise another user could
// point the program at a port of their choosing.
bool IsPrivateDirectory(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0077) == 0;
}

std::string FallbackDirectory() {
    return "/tmp/mrouter-" + std::to_string(::getuid());
}

}  // namespace

std::string RelayPortFilePath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/mrouter/relay.port";
    return FallbackDirectory() + "/relay.port";
}

RouterPortQuery ReadRelayPortFile(const std::string& path) {
    // Non-blocking, so that a FIFO put in the file's place cannot hang the
    // GUI thread; it is refused below as not a regular file.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        if (errno == ENOENT || errno == ENOTDIR) return {false, 0};
        return {true, 0};
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return {true, 0};

    char buffer[kMaxPortFileBytes];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t n = ::read(fd.Get(), buffer + size, sizeof buffer - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {true, 0};
        }
        if (n == 0) break;
        size += static_cast<std::size_t>(n);
    }
    if (size == sizeof buffer) return {true, 0};
    return {true, ParsePort(buffer, size)};
}

RouterPortQuery QueryRouterPort() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!(runtime && *runtime) && !IsPrivateDirectory(FallbackDirectory())) return {false, 0};
    return ReadRelayPortFile(RelayPortFilePath());
}

bool OpenRouterBox() {
    return false;
}

ComInit::ComInit() : ok_(true) {}
ComInit::~ComInit() = default;

}  // namespace velarix
