#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "capture/FileHandle.h"

namespace velarix {

FileHandle FileHandle::Open(const std::string& path, FileAccess access, FileOpenError& error,
                            FileKind kind) {
    int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (kind == FileKind::OwnRegular) flags |= O_NOFOLLOW;
    flags |= access == FileAccess::Read ? O_RDONLY : O_RDWR;
    if (access == FileAccess::CreateReadWrite) flags |= O_CREAT;
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
                error = FileOpenError::NotFound;
                break;
            case EACCES:
            case EPERM:
            case EROFS:
            case ETXTBSY:
                error = FileOpenError::Denied;
                break;
            case ELOOP:
            case ENXIO:  // a pipe nobody reads, opened for writing
                error = FileOpenError::NotRegular;
                break;
            default:
                error = FileOpenError::Failed;
        }
        return {};
    }
    FileHandle file(fd, access != FileAccess::Read);
    error = FileOpenError::None;
    if (kind == FileKind::Any) return file;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = FileOpenError::Failed;
        return {};
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        error = FileOpenError::NotRegular;
        return {};
    }
    error = FileOpenError::None;
    return file;
}

std::optional<FileStamp> FileHandle::Stamp() const {
    struct stat info {};
    if (::fstat(static_cast<int>(native_), &info) != 0 || info.st_size < 0) return std::nullopt;
    return FileStamp{
        static_cast<std::uint64_t>(info.st_size),
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

std::optional<std::size_t> FileHandle::ReadAt(std::uint64_t offset, std::span<char> out) const {
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t done = ::pread(static_cast<int>(native_), out.data() + got, out.size() - got,
                                     static_cast<off_t>(offset + got));
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return std::nullopt;
        if (done == 0) break;
        got += static_cast<std::size_t>(done);
    }
    return got;
}

bool FileHandle::WriteAt(std::uint64_t offset, std::span<const char> data) const {
    while (!data.empty()) {
        const ssize_t done = ::pwrite(static_cast<int>(native_), data.data(), data.size(),
                                      static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data = data.subspan(static_cast<std::size_t>(done));
        offset += static_cast<std::uint64_t>(done);
    }
    return true;
}

bool FileHandle::Truncate(std::uint64_t size) const {
    return ::ftruncate(static_cast<int>(native_), static_cast<off_t>(size)) == 0;
}

FileLockResult FileHandle::TryLock() const {
    if (::flock(static_cast<int>(native_), LOCK_EX | LOCK_NB) == 0) return FileLockResult::Locked;
    return errno == EWOULDBLOCK ? FileLockResult::InUse : FileLockResult::Failed;
}

void FileHandle::Close() {
    if (native_ != kNone) ::close(static_cast<int>(Release()));
}

}  // namespace velarix
