#include "settings/FileSettingsBackend.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

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
};

LoadedFile LoadFile(const std::string& path) {
    LoadedFile loaded;
    // O_NONBLOCK keeps a FIFO planted at the path from hanging the program;
    // it has no effect on a regular file.
    const UniqueFd fd = OpenFd(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (!fd) {
        if (errno == ENOENT) loaded.status = LoadStatus::Missing;
        return loaded;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return loaded;
    loaded.mode = info.st_mode & 07777;
    if (info.st_size < 0 ||
        static_cast<std::uintmax_t>(info.st_size) > FileSettingsBackend::kMaxFileSize) {
        loaded.status = LoadStatus::Oversize;
        return loaded;
    }
    // Read until end of file rather than trusting st_size: someone may be
    // appending to the file by hand while we read it.
    constexpr std::size_t kChunk = 64 * 1024;
    std::string content;
    for (;;) {
        const std::size_t used = content.size();
        content.resize(used + kChunk);
        const ssize_t got =
            RetryOnInterrupt([&] { return ::read(fd.Get(), content.data() + used, kChunk); });
        if (got < 0) return loaded;
        content.resize(used + static_cast<std::size_t>(got));
        if (content.size() > FileSettingsBackend::kMaxFileSize) {
            loaded.status = LoadStatus::Oversize;
            return loaded;
        }
        if (got == 0) break;
    }
    loaded.status = LoadStatus::Ok;
    loaded.content = std::move(content);
    return loaded;
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

// ---------------------------------------------------------------------------
// The text format (described in the header)

constexpr std::string_view kIntPrefix = "int:";
constexpr std::string_view kStrPrefix = "str:";
constexpr std::string_view kNewFileComment =
    "# Velarix settings. Values are written as key=int:<decimal> or key=str:\"<text>\".";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AppendHexByte(std::string& out, unsigned char byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

// The byte from two hex digits at text[at], or -1.
int HexPair(std::string_view text, std::size_t at) {
    if (at + 2 > text.size()) return -1;
    const int high = HexValue(text[at]);
    const int low = HexValue(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool IsPlainNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

std::string EncodeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        if (IsPlainNameChar(c)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            AppendHexByte(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

std::optional<std::string> DecodeName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const int byte = HexPair(text, i + 1);
        if (byte < 0) return std::nullopt;
        out.push_back(static_cast<char>(byte));
        i += 2;
    }
    return out;
}

// The length of the well-formed UTF-8 sequence starting at text[at] with a
// byte >= 0x80, or 0 when there is none (overlong forms, surrogates and code
// points above U+10FFFF are not well-formed).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

std::string QuoteString(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out.push_back('"');
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            if (const std::size_t length = Utf8SequenceLength(value, i); length > 0) {
                out.append(value.substr(i, length));
                i += length;
                continue;
            }
        }
        ++i;
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7F) {
                    out += "\\x";
                    AppendHexByte(out, byte);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
    return out;
}

std::optional<std::string> UnquoteString(std::string_view text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 1; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            // Anything after the closing quote means the line is not ours.
            if (i + 1 != text.size()) return std::nullopt;
            return out;
        }
        if (c != '\\') {
            out.push_back(c);
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        switch (text[i + 1]) {
            case '\\':
                out.push_back('\\');
                break;
            case '"':
                out.push_back('"');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'x': {
                const int byte = HexPair(text, i + 2);
                if (byte < 0) return std::nullopt;
                out.push_back(static_cast<char>(byte));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
        i += 2;
    }
    return std::nullopt;  // no closing quote: cut short
}

std::optional<std::uint32_t> ParseIntValue(std::string_view valueText) {
    if (!valueText.starts_with(kIntPrefix)) return std::nullopt;
    const std::string_view digits = Trim(valueText.substr(kIntPrefix.size()));
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::string> ParseStringValue(std::string_view valueText) {
    if (!valueText.starts_with(kStrPrefix)) return std::nullopt;
    return UnquoteString(Trim(valueText.substr(kStrPrefix.size())));
}

struct ParsedLine {
    enum class Kind { Other, Header, BrokenHeader, Entry };
    Kind kind = Kind::Other;
    std::string name;        // section of a header, key of an entry
    std::string_view value;  // value text of an entry
};

ParsedLine ParseLine(std::string_view raw) {
    using Kind = ParsedLine::Kind;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') return {};
    if (line.front() == '[') {
        if (line.size() >= 2 && line.back() == ']') {
            if (auto name = DecodeName(Trim(line.substr(1, line.size() - 2)))) {
                return {Kind::Header, std::move(*name), {}};
            }
        }
        return {Kind::BrokenHeader, {}, {}};
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return {};
    auto key = DecodeName(Trim(line.substr(0, equals)));
    if (!key) return {};
    return {Kind::Entry, std::move(*key), Trim(line.substr(equals + 1))};
}

// The file cut into lines without their '\n'. A last line without one is
// kept apart: it is what remains when a file is cut short, and a number cut
// short ("int:12" of "int:12345") would otherwise read as a wrong value.
struct SplitFile {
    std::vector<std::string_view> lines;
    std::optional<std::string_view> unterminated;
};

SplitFile SplitLines(std::string_view content) {
    SplitFile split;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        if (end == std::string_view::npos) {
            split.unterminated = content;
            break;
        }
        split.lines.push_back(content.substr(0, end));
        content.remove_prefix(end + 1);
    }
    return split;
}

std::optional<std::string> FindValue(std::string_view content, std::string_view section,
                                     std::string_view key) {
    using Kind = ParsedLine::Kind;
    bool inSection = false;
    std::optional<std::string> found;
    for (const std::string_view line : SplitLines(content).lines) {
        ParsedLine parsed = ParseLine(line);
        switch (parsed.kind) {
            case Kind::Header:
                inSection = parsed.name == section;
                break;
            case Kind::BrokenHeader:
                inSection = false;
                break;
            case Kind::Entry:
                if (inSection && parsed.name == key) found = std::string(parsed.value);
                break;
            case Kind::Other:
                break;
        }
    }
    return found;
}

// The file with `key` in `section` set to `valueText`; every line that is not
// about that key is carried over unchanged.
std::string UpdateContent(std::string_view content, std::string_view section, std::string_view key,
                          std::string_view valueText) {
    using Kind = ParsedLine::Kind;
    const SplitFile split = SplitLines(content);
    const std::vector<std::string_view>& lines = split.lines;
    std::vector<std::size_t> matches;
    // The last header or entry of the section's last block: where a new key goes,
    // so it lands after its neighbours but before comments about the next section.
    std::optional<std::size_t> blockEnd;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = ParseLine(lines[i]);
        switch (parsed.kind) {
            case Kind::Header:
                inSection = parsed.name == section;
                if (inSection) blockEnd = i;
                break;
            case Kind::BrokenHeader:
                inSection = false;
                break;
            case Kind::Entry:
                if (inSection) {
                    blockEnd = i;
                    if (parsed.name == key) matches.push_back(i);
                }
                break;
            case Kind::Other:
                break;
        }
    }

    const std::string newLine = EncodeName(key) + "=" + std::string(valueText);
    std::string out;
    out.reserve(content.size() + newLine.size() + section.size() + 8);
    bool lastBlank = true;  // so a new section is set off by one blank line
    const auto emit = [&out, &lastBlank](std::string_view line) {
        out.append(line);
        out.push_back('\n');
        lastBlank = Trim(line).empty();
    };
    std::size_t nextMatch = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (nextMatch < matches.size() && matches[nextMatch] == i) {
            // The first occurrence takes the new value; later duplicates,
            // which would shadow it, go.
            if (nextMatch == 0) emit(newLine);
            ++nextMatch;
            continue;
        }
        emit(lines[i]);
        if (matches.empty() && blockEnd == i) emit(newLine);
    }
    if (split.unterminated) {
        // Kept for whoever looks at the file, but as a comment: once it had a
        // line end it would read as a value, possibly a wrong one.
        const bool blank = Trim(*split.unterminated).empty();
        emit(blank ? std::string() : "#" + std::string(*split.unterminated));
    }
    if (matches.empty() && !blockEnd) {
        if (lines.empty() && !split.unterminated) {
            emit(kNewFileComment);
        } else if (!lastBlank) {
            emit({});
        }
        emit("[" + EncodeName(section) + "]");
        emit(newLine);
    }
    return out;
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
    const LoadedFile file = LoadFile(path_);
    if (file.status != LoadStatus::Ok) return std::nullopt;
    return FindValue(file.content, section, key);
}

void FileSettingsBackend::WriteValueText(std::string_view section, std::string_view key,
                                         std::string_view valueText) const {
    if (path_.empty()) return;
    const std::string dir = ParentDirectory(path_);
    if (!MakeDirectories(dir)) return;

    // The lock covers reading, merging and replacing, so a writer always
    // merges into the latest file and never undoes another's update.
    const UniqueFd lock = OpenFd(path_ + ".lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (!lock) return;
    if (RetryOnInterrupt([&] { return ::flock(lock.Get(), LOCK_EX); }) != 0) return;

    LoadedFile file = LoadFile(path_);
    switch (file.status) {
        case LoadStatus::Ok:
        case LoadStatus::Missing:
            break;
        case LoadStatus::Unreadable:
            return;
        case LoadStatus::Oversize:
            if (::rename(path_.c_str(), (path_ + ".oversize").c_str()) != 0) return;
            file.content.clear();
            break;
    }
    const std::string updated = UpdateContent(file.content, section, key, valueText);
    if (updated.size() > kMaxFileSize) return;
    ReplaceFile(path_, dir, updated, file.mode);
}

std::optional<std::uint32_t> FileSettingsBackend::ReadInt(std::string_view section,
                                                          std::string_view key) {
    const auto text = ReadValueText(section, key);
    if (!text) return std::nullopt;
    return ParseIntValue(*text);
}

std::optional<std::string> FileSettingsBackend::ReadString(std::string_view section,
                                                           std::string_view key) {
    const auto text = ReadValueText(section, key);
    if (!text) return std::nullopt;
    return ParseStringValue(*text);
}

void FileSettingsBackend::WriteInt(std::string_view section, std::string_view key,
                                   std::uint32_t value) {
    WriteValueText(section, key, std::string(kIntPrefix) + std::to_string(value));
}

void FileSettingsBackend::WriteString(std::string_view section, std::string_view key,
                                      std::string_view value) {
    WriteValueText(section, key, std::string(kStrPrefix) + QuoteString(value));
}

}  // namespace velarix
