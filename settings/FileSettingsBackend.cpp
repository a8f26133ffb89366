#include "settings/FileSettingsBackend.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <utility>
#include <vector>

#include "settings/SettingsFileFormat.h"
#include "settings/SettingsStore.h"

namespace velarix {
namespace {

// ---------------------------------------------------------------------------
// Owned resources

// A file descriptor closed when it goes out of scope. Holding the descriptor
// of the lock file is what holds the lock, so the lock ends with the object.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Closes now and reports whether the close succeeded; for a file just
    // written, a failing close can be the first sign the data did not land.
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
};

// A temporary file that is removed again unless it was renamed into place.
class TempFileGuard {
public:
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    ~TempFileGuard() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    void Release() { path_.clear(); }

private:
    std::string path_;
};

// ---------------------------------------------------------------------------
// System helpers

template <typename Call>
auto RetryOnInterrupt(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR) result = call();
    return result;
}

UniqueFd OpenFd(const std::string& path, int flags, mode_t mode = 0) {
    return UniqueFd(RetryOnInterrupt([&] { return ::open(path.c_str(), flags, mode); }));
}

enum class LoadStatus { Missing, Ok, Oversize, Unreadable };

struct LoadedFile {
    LoadStatus status = LoadStatus::Unreadable;
    std::string content;
    // Permissions for the replacement: the old file's, or owner-only for a new one.
    mode_t mode = 0600;
    struct stat info {};
};

// O_NONBLOCK keeps a FIFO planted at the path from hanging the program; it
// has no effect on a regular file.
UniqueFd OpenForReading(const std::string& path) {
    return OpenFd(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// Reads the regular file open on `fd`, whose fstat gave `info`.
void ReadOpened(int fd, const struct stat& info, LoadedFile& loaded) {
    loaded.info = info;
    loaded.mode = info.st_mode & 07777;
    if (info.st_size < 0 ||
        static_cast<std::uintmax_t>(info.st_size) > FileSettingsBackend::kMaxFileSize) {
        loaded.status = LoadStatus::Oversize;
        return;
    }
    // Read until end of file rather than trusting st_size: someone may be
    // appending to the file by hand while we read it.
    constexpr std::size_t kChunk = 64 * 1024;
    std::string content;
    for (;;) {
        const std::size_t used = content.size();
        content.resize(used + kChunk);
        const ssize_t got =
            RetryOnInterrupt([&] { return ::read(fd, content.data() + used, kChunk); });
        if (got < 0) return;
        content.resize(used + static_cast<std::size_t>(got));
        if (content.size() > FileSettingsBackend::kMaxFileSize) {
            loaded.status = LoadStatus::Oversize;
            return;
        }
        if (got == 0) break;
    }
    loaded.status = LoadStatus::Ok;
    loaded.content = std::move(content);
}

LoadedFile LoadFile(const std::string& path) {
    LoadedFile loaded;
    const UniqueFd fd = OpenForReading(path);
    if (!fd) {
        if (errno == ENOENT) loaded.status = LoadStatus::Missing;
        return loaded;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return loaded;
    ReadOpened(fd.Get(), info, loaded);
    return loaded;
}

FileSettingsBackend::FileIdentity IdentityOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtim.tv_sec),
            static_cast<std::int64_t>(info.st_mtim.tv_nsec)};
}

// A file changed this recently may change again within the same tick of the
// file system's clock, keeping its size and time: its contents are not kept.
// Linux stamps files from a clock that ticks every few milliseconds.
bool ChangedTooRecently(const struct stat& info) {
    constexpr std::int64_t kWindowNs = 50'000'000;
    struct timespec now {};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return true;
    const std::int64_t age = (std::int64_t{now.tv_sec} - info.st_mtim.tv_sec) * 1'000'000'000 +
                             (std::int64_t{now.tv_nsec} - info.st_mtim.tv_nsec);
    return age < kWindowNs;  // also a time in the future
}

// The file a chain of symbolic links at `path` ends in (which need not exist
// yet), or empty when the chain loops or cannot be read.
std::string ResolveLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(std::size_t(PATH_MAX), '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
        target.resize(static_cast<std::size_t>(n));
        if (target.front() != '/') {
            const std::size_t slash = path.rfind('/');
            target =
                (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        }
        path = std::move(target);
    }
    return {};
}

// Takes the writers' lock of the file that the links at `path` lead to:
// `<target>.lock` beside the target, so that every path to one file (the file
// itself, or any chain of links ending in it) meets at the same lock. A link
// changed while we waited is followed again. Gives the target, or empty when
// the lock cannot be had.
std::string LockTarget(const std::string& path, UniqueFd& lock) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string target = ResolveLinks(path);
        if (target.empty()) return {};
        lock = OpenFd(target + ".lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (!lock) return {};
        if (RetryOnInterrupt([&] { return ::flock(lock.Get(), LOCK_EX); }) != 0) return {};
        if (ResolveLinks(path) == target) return target;
    }
    return {};
}

// Moves an oversize file out of the way under the first free name of
// `<file>.oversize`, `<file>.oversize.1`, ...: an earlier copy is never replaced.
bool SetAside(const std::string& path) {
    for (int n = 0; n < 1000; ++n) {
        std::string name = path + ".oversize";
        if (n > 0) name.append(".").append(std::to_string(n));
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system without the no-replace rename: a hard link also
            // refuses to replace.
            if (::link(path.c_str(), name.c_str()) == 0) return ::unlink(path.c_str()) == 0;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = RetryOnInterrupt([&] { return ::write(fd, data.data(), data.size()); });
        if (put <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

std::string ParentDirectory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p with owner-only permissions, as a per-user configuration directory
// should have.
bool MakeDirectories(const std::string& dir) {
    if (IsDirectory(dir)) return true;
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string prefix = dir.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    return IsDirectory(dir);
}

// Makes a rename just done in `dir` durable; failure only weakens crash
// safety, the new contents are in place either way.
void SyncDirectory(const std::string& dir) {
    const UniqueFd fd = OpenFd(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd) ::fsync(fd.Get());
}

// Puts `content` at `path` in one step: readers see the old or the new file,
// never a mixture, even if we crash half way.
bool ReplaceFile(const std::string& path, const std::string& dir, std::string_view content,
                 mode_t mode) {
    std::string tempPath = path + ".tmp-XXXXXX";
    UniqueFd fd(RetryOnInterrupt([&] { return ::mkostemp(tempPath.data(), O_CLOEXEC); }));
    if (!fd) return false;
    TempFileGuard guard(tempPath);
    // Best effort: a file the user opened up to others stays that way.
    ::fchmod(fd.Get(), mode);
    if (!WriteAll(fd.Get(), content)) return false;
    if (::fsync(fd.Get()) != 0) return false;
    if (!fd.Close()) return false;
    if (::rename(tempPath.c_str(), path.c_str()) != 0) return false;
    guard.Release();
    SyncDirectory(dir);
    return true;
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return {};
    }
    return found->pw_dir;
}

}  // namespace

FileSettingsBackend::FileSettingsBackend() : path_(DefaultPath()) {}

FileSettingsBackend::FileSettingsBackend(std::string path) : path_(std::move(path)) {}

std::string FileSettingsBackend::DefaultPath() {
    std::string configHome;
    // The XDG rules say a relative XDG_CONFIG_HOME is to be ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        configHome = xdg;
    } else {
        const std::string home = HomeDirectory();
        if (home.empty()) return {};
        configHome = home + "/.config";
    }
    return configHome + "/" + std::string(kCompanyKey) + "/" + std::string(kApplicationKey) +
           ".conf";
}

std::optional<std::string> FileSettingsBackend::ReadValueText(std::string_view section,
                                                              std::string_view key) const {
    if (path_.empty()) return std::nullopt;
    const std::lock_guard<std::mutex> hold(cacheMutex_);
    const auto lookup =
        [&](const settings_format::SettingsEntries& entries) -> std::optional<std::string> {
        const auto found = entries.find({std::string(section), std::string(key)});
        if (found == entries.end()) return std::nullopt;
        return found->second;
    };
    // The common case, a file unchanged since it was parsed, costs one stat.
    if (cache_) {
        struct stat now {};
        if (::stat(path_.c_str(), &now) == 0 && S_ISREG(now.st_mode) &&
            cache_->identity == IdentityOf(now))
            return lookup(cache_->entries);
    }
    const UniqueFd fd = OpenForReading(path_);
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        cache_.reset();
        return std::nullopt;
    }
    const FileIdentity identity = IdentityOf(info);
    if (!cache_ || !(cache_->identity == identity)) {
        cache_.reset();
        LoadedFile file;
        ReadOpened(fd.Get(), info, file);
        if (file.status != LoadStatus::Ok) return std::nullopt;
        Cache fresh{identity, settings_format::ParseEntries(file.content)};
        if (ChangedTooRecently(info)) return lookup(fresh.entries);
        cache_ = std::move(fresh);
    }
    return lookup(cache_->entries);
}

void FileSettingsBackend::WriteValueText(std::string_view section, std::string_view key,
                                         std::string_view valueText) const {
    if (path_.empty()) return;
    if (!MakeDirectories(ParentDirectory(path_))) return;

    // The lock covers reading, merging and replacing, so a writer always
    // merges into the latest file and never undoes another's update. A
    // settings file that is a symbolic link (into a dotfiles folder, say)
    // stays one: the file it points to is replaced, beside itself.
    UniqueFd lock;
    const std::string target = LockTarget(path_, lock);
    if (target.empty()) return;
    const std::string dir = ParentDirectory(target);
    LoadedFile file = LoadFile(target);
    switch (file.status) {
        case LoadStatus::Ok:
            // Whether anything changes is decided here, on what the file
            // holds now, never on the values kept from an earlier read: an
            // edit in place that kept the size and the time leaves those stale.
            if (settings_format::HoldsValue(file.content, section, key, valueText)) return;
            break;
        case LoadStatus::Missing:
            break;
        case LoadStatus::Unreadable:
            return;
        case LoadStatus::Oversize:
            if (!SetAside(target)) return;
            file.content.clear();
            break;
    }
    const std::string updated =
        settings_format::UpdateContent(file.content, section, key, valueText);
    if (updated.size() > kMaxFileSize) return;
    ReplaceFile(target, dir, updated, file.mode);
}

std::optional<std::uint32_t> FileSettingsBackend::ReadInt(std::string_view section,
                                                          std::string_view key) {
    const auto text = ReadValueText(section, key);
    if (!text) return std::nullopt;
    return settings_format::ParseIntValue(*text);
}

std::optional<std::string> FileSettingsBackend::ReadString(std::string_view section,
                                                           std::string_view key) {
    const auto text = ReadValueText(section, key);
    if (!text) return std::nullopt;
    return settings_format::ParseStringValue(*text);
}

void FileSettingsBackend::WriteInt(std::string_view section, std::string_view key,
                                   std::uint32_t value) {
    WriteValueText(section, key, settings_format::IntValueText(value));
}

void FileSettingsBackend::WriteString(std::string_view section, std::string_view key,
                                      std::string_view value) {
    WriteValueText(section, key, settings_format::StringValueText(value));
}

}  // namespace velarix
