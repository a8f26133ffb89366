// One open file, worked through its handle: a recording's lock and the repair
// of unfinished recordings use it on every platform. The name is looked at
// once, when the file is opened; everything after goes through the handle, so
// a name swapped for a link or another file meanwhile changes nothing.
//
// The lock is advisory between the programs that take it (a recording and
// the repair): the system drops it when the holder dies, however it dies. On
// Windows, where locks keep other handles from the bytes they cover, it
// covers one byte far beyond any data, so FFmpeg's own handle on the same
// file still writes freely.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velarix {

enum class FileAccess {
    Read,             // an existing file, for reading
    ReadWrite,        // an existing file, for reading and writing
    CreateReadWrite,  // created when missing, for reading and writing
};

// What Open takes.
enum class FileKind {
    OwnRegular,  // a regular file of this user, never through a link at the end of its name
    Any,         // whatever the name leads to, as another program opening it would see it
};

enum class FileOpenError {
    None,
    NotFound,    // no such file, or a part of its folder is missing
    Denied,      // no permission, or a read-only file system
    NotRegular,  // a link, a pipe, a folder or a device; or another user's file
    Failed,      // anything else
};

enum class FileLockResult { Locked, InUse, Failed };

// What tells a file's contents changed since it was last looked at.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // in the platform's own unit
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

class FileHandle {
public:
    // A descriptor on POSIX, a HANDLE on Windows; -1 for none on both.
    using Native = std::intptr_t;
    static constexpr Native kNone = -1;

    FileHandle() = default;
    // Takes over `native`, an open file, opened for writing too or not.
    FileHandle(Native native, bool writable) : native_(native), writable_(writable) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept
        : native_(other.Release()), writable_(other.writable_) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            Close();
            writable_ = other.writable_;
            native_ = other.Release();
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens `path` (UTF-8) without waiting on a pipe. For OwnRegular, a link
    // at the end of the name is not followed, and the file is kept only when
    // it is a regular file of this user (on Windows, where the access list
    // rules who may write, a plain file on a disk).
    static FileHandle Open(const std::string& path, FileAccess access, FileOpenError& error,
                           FileKind kind = FileKind::OwnRegular);

    bool IsOpen() const { return native_ != kNone; }
    bool Writable() const { return writable_; }
    std::optional<FileStamp> Stamp() const;
    // Reads up to `out.size()` bytes at `offset`; fewer only at the end of the
    // file. The count read, or nothing when the read failed.
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<char> out) const;
    // Writes all of `data` at `offset`.
    bool WriteAt(std::uint64_t offset, std::span<const char> data) const;
    bool Truncate(std::uint64_t size) const;
    // An exclusive lock, without waiting: InUse while someone else holds it.
    // Closing the handle releases it.
    FileLockResult TryLock() const;
    void Close();

private:
    Native Release() {
        const Native native = native_;
        native_ = kNone;
        return native;
    }

    Native native_ = kNone;
    bool writable_ = false;
};

}  // namespace velarix
