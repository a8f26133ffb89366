#include "PortFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "UniqueFd.h"

namespace phonesim {

namespace {

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Creates dir with mode 0700 unless it exists; an existing one must be a real directory.
// With mustOwn, it must also belong to this user and be closed to others (a shared /tmp).
bool EnsurePrivateDir(const std::string& dir, bool mustOwn, std::string* error) {
    if (::mkdir(dir.c_str(), 0700) == 0) return true;
    if (errno != EEXIST) {
        *error = Errno("cannot create " + dir);
        return false;
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        *error = Errno("cannot inspect " + dir);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = dir + " exists and is not a directory";
        return false;
    }
    if (mustOwn && (st.st_uid != ::getuid() || (st.st_mode & 0077) != 0)) {
        *error = dir + " belongs to another user or is open to others";
        return false;
    }
    return true;
}

std::string ReadSmallFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return {};
    char buffer[64];
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

std::string DefaultPortFilePath(std::string* error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir;
    bool shared = false;
    if (runtime && *runtime) {
        dir = std::string(runtime) + "/mrouter";
    } else {
        dir = "/tmp/mrouter-" + std::to_string(::getuid());
        shared = true;
    }
    if (!EnsurePrivateDir(dir, shared, error)) return {};
    return dir + "/relay.port";
}

bool PortFile::Publish(const std::string& path, std::uint16_t port, std::string* error) {
    Remove();
    const std::string content = std::to_string(port);
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    {
        UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd) {
            *error = Errno("cannot create " + temp);
            return false;
        }
        if (::write(fd.Get(), content.data(), content.size()) !=
            static_cast<ssize_t>(content.size())) {
            *error = Errno("cannot write " + temp);
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        *error = Errno("cannot rename " + temp + " to " + path);
        ::unlink(temp.c_str());
        return false;
    }
    path_ = path;
    content_ = content;
    return true;
}

void PortFile::Remove() {
    if (path_.empty()) return;
    // Leave a file that another relay has written since.
    if (ReadSmallFile(path_) == content_) ::unlink(path_.c_str());
    path_.clear();
}

}  // namespace phonesim
