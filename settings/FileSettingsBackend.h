// Settings in a typed per-user text file, for systems without a registry.
//
// Where: $XDG_CONFIG_HOME/Orvelle/Quillet.conf, or $HOME/.config/Orvelle/Quillet.conf
// when XDG_CONFIG_HOME is unset, empty or relative (the home directory falls
// back to the password database when HOME is unset). Tests pass a path.
//
// The file is UTF-8 text, one item per line:
//
//     # Comment lines start with '#' or ';'; blank lines are ignored.
//     [General]
//     Compression=int:2
//     Title=str:"Line one\nSaid \"hi\""
//
//  - `[name]` opens a section; `key=value` stores a value in the section above.
//  - `int:` is followed by a decimal number from 0 to 4294967295.
//  - `str:` is followed by a double-quoted string. Inside it `\\`, `\"`, `\n`,
//    `\r`, `\t` and `\xHH` (exactly two hex digits) stand for one byte each;
//    other bytes stand for themselves. The writer escapes control bytes, DEL and
//    every byte that is not part of well-formed UTF-8, so any byte string
//    round-trips and the file stays valid UTF-8.
//  - Section and key names keep the characters A-Z a-z 0-9 _ . - as they are
//    and write every other byte as %HH (upper-case hex), so names containing
//    '=', '[', ']', '%', '#', spaces, newlines or NUL cannot break the layout.
//    The reader accepts any other byte literally as well, for hand edits.
//  - Spaces and tabs around a line, a key or a value are not significant, and
//    a line may end in CR.
//
// Reading what cannot be understood:
//  - A line that is neither blank, comment, header nor `key=value` is skipped.
//  - A value that is neither a well-formed `int:` nor `str:` (a truncated or
//    unterminated string, a number out of range, junk) reads as missing.
//  - A header that does not parse (e.g. `[General` cut short) starts a section
//    nobody can name: the values under it read as missing rather than being
//    attributed to the section above.
//  - When a key occurs more than once in a section, the last occurrence counts.
//  - A last line without a line end is taken to be cut short and is not read:
//    "int:12345" cut to "int:12" would otherwise read as a wrong number. The
//    writer always ends the file with a line end.
//  - A file larger than kMaxFileSize, or one that cannot be read (no
//    permission, a directory, a device), reads as all defaults.
//
// Writing:
//  - A missing file means all defaults; nothing is created (not even the
//    directory) until the first write.
//  - Every write is read-modify-write of the whole file, done under an
//    exclusive flock() on `<file>.lock` next to it, so writers in several
//    processes - or several backend objects in one process, since flock locks
//    belong to the open file rather than the process - never lose each other's
//    updates. The lock file is left in place: removing it would let two
//    writers lock different files.
//  - A write of the value the file already holds (the same type and value,
//    however spelled) leaves the file untouched. That is decided under the
//    lock on the file as read then, never on the values kept from a read.
//  - The new contents go to a temporary file in the same directory, which is
//    flushed with fsync() and renamed over the old file, so a reader (which
//    takes no lock) and a crash only ever see the old or the new file whole.
//  - Only the lines of the written key change. Every other line - comments,
//    values of other keys, lines that could not be parsed - is kept byte for
//    byte, so a write after damage loses nothing that could still be read, and
//    values a later version of the program may add survive an older one. The
//    one exception is a last line cut short: it is kept as a comment (a '#' in
//    front), because giving it a line end would make it readable.
//  - A file that exists but cannot be read is never replaced: the write is
//    dropped, since replacing it would throw away values we could not see.
//  - A settings file that is a symbolic link (a dotfiles setup) stays one: the
//    write goes to the file the link points to, through a temporary file
//    beside that file. The lock is `<target>.lock` beside that file too, so
//    writers that reach one file through different links share one lock.
//  - A file larger than kMaxFileSize is renamed to `<file>.oversize`, or
//    `<file>.oversize.1`, `.2`, ... when that exists (keeping its bytes for the
//    user to inspect, never replacing an earlier copy) and a fresh file is started. Only the
//    settings would otherwise be lost for good: the program could never save
//    anything again, and nothing inside the file was readable anyway.
//  - A write whose result would exceed kMaxFileSize is dropped, so the file
//    never grows beyond what the reader accepts.
//
// Every read sees the file as it is at that moment. The backend keeps the
// values it parsed while the file's identity (device, inode, size and
// modification time to the nanosecond) stays the same: every write here and
// in any editor that saves through a new file gives a new inode, and any
// other write a new time or size. A file changed less than 50 ms before it
// was read is not kept, since a write within the same tick of the file
// system's clock could keep both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "settings/SettingsBackend.h"
#include "settings/SettingsFileFormat.h"

namespace velarix {

class FileSettingsBackend final : public ISettingsBackend {
public:
    // The largest file read; see above for what happens to a larger one.
    static constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

    // The per-user file (see DefaultPath). Without a home directory the
    // backend has no file: reads give nothing and writes are dropped.
    FileSettingsBackend();
    explicit FileSettingsBackend(std::string path);

    // The per-user settings file, or empty when no configuration directory
    // can be found.
    static std::string DefaultPath();

    const std::string& Path() const { return path_; }

    std::optional<std::uint32_t> ReadInt(std::string_view section, std::string_view key) override;
    std::optional<std::string> ReadString(std::string_view section, std::string_view key) override;
    void WriteInt(std::string_view section, std::string_view key, std::uint32_t value) override;
    void WriteString(std::string_view section, std::string_view key,
                     std::string_view value) override;

private:
    // The raw value text stored under the key, before its type is checked.
    std::optional<std::string> ReadValueText(std::string_view section, std::string_view key) const;
    void WriteValueText(std::string_view section, std::string_view key,
                        std::string_view valueText) const;

public:
    // What tells one version of the file from another.
    struct FileIdentity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t mtimeSeconds = 0;
        std::int64_t mtimeNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };

private:
    struct Cache {
        FileIdentity identity;
        settings_format::SettingsEntries entries;
    };

    std::string path_;
    mutable std::mutex cacheMutex_;  // a backend may be read from several threads
    mutable std::optional<Cache> cache_;
};

}  // namespace velarix
