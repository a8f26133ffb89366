// The relay bridge without COM: the relay's port comes from the file the relay
// publishes, and there is no connection box.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

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
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
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

std::string FallbackDirectory() {
    return "/tmp/mrouter-" + std::to_string(::getuid());
}

// Opens the directory `name` (relative to `parent`) when it is ours and none
// of the `forbidden` permission bits are set; otherwise another user could
// publish a port of their choosing in it. The checks are made on the open
// directory, which the port file is then read from, so nothing can be
// swapped in between.
UniqueFd OpenTrustedDirectory(int parent, const char* name, mode_t forbidden, bool follow) {
    UniqueFd fd(
        ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & forbidden) != 0) {
        return UniqueFd(-1);
    }
    return fd;
}

RouterPortQuery ReadPortFileAt(int dir, const char* name) {
    // Non-blocking, so that a FIFO put in the file's place cannot hang the
    // GUI thread; it is refused below as not a regular file. A link is not
    // followed (the open fails with ELOOP): in a folder we trust, a link could
    // still lead to a file another user controls.
    UniqueFd fd(::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (!fd) {
        if (errno == ENOENT || errno == ENOTDIR) return {false, 0};
        return {true, 0};
    }
    // Only a file of our own says where our relay is; anyone else's could
    // point the link at a listener of their choosing.
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        return {true, 0};
    }

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

}  // namespace

std::string RelayPortFilePath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/mrouter/relay.port";
    return FallbackDirectory() + "/relay.port";
}

RouterPortQuery ReadRelayPortFile(const std::string& path) {
    return ReadPortFileAt(AT_FDCWD, path.c_str());
}

RouterPortQuery QueryRouterPort() {
    // The relay's folder, in the runtime directory or in /tmp, and the runtime
    // directory itself must be ours and writable by nobody else: anyone who
    // could write to one of them could put a port of their choosing there.
    constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    UniqueFd dir(-1);
    if (runtime && *runtime) {
        const UniqueFd base = OpenTrustedDirectory(AT_FDCWD, runtime, kOthersWrite, true);
        if (base) dir = OpenTrustedDirectory(base.Get(), "mrouter", kOthersWrite, false);
    } else {
        dir = OpenTrustedDirectory(AT_FDCWD, FallbackDirectory().c_str(), kOthersWrite, false);
    }
    if (!dir) return {false, 0};
    return ReadPortFileAt(dir.Get(), "relay.port");
}

bool OpenRouterBox() {
    return false;
}

ComInit::ComInit() : ok_(true) {}
ComInit::~ComInit() = default;

}  // namespace velarix
