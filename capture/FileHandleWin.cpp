#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <limits>

#include "capture/FileHandle.h"

namespace velarix {
namespace {

// The byte the lock covers: far beyond the end of any file NTFS can hold, so
// the lock keeps no one from the data, and below 2^63, where file systems
// that take offsets as signed (and Wine's POSIX locks) still accept it.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0u;
// One ReadFile or WriteFile moves at most this much.
constexpr DWORD kMaxTransfer = 1u << 30;

HANDLE Raw(FileHandle::Native native) {
    return reinterpret_cast<HANDLE>(native);
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    place.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return place;
}

// The UTF-8 name as Windows takes it; nothing for a name that is not UTF-8.
std::optional<std::wstring> Widen(const std::string& path) {
    if (path.empty() || path.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    const int length = static_cast<int>(path.size());
    const int wide =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
    if (wide <= 0) return std::nullopt;
    std::wstring out(static_cast<std::size_t>(wide), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, out.data(),
                              wide) != wide)
        return std::nullopt;
    return out;
}

FileOpenError ErrorOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return FileOpenError::NotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_SHARING_VIOLATION:
            return FileOpenError::Denied;
        case ERROR_CANT_ACCESS_FILE:
        case ERROR_CANT_RESOLVE_FILENAME:
            return FileOpenError::NotRegular;
        default:
            return FileOpenError::Failed;
    }
}

}  // namespace

FileHandle FileHandle::Open(const std::string& path, FileAccess access, FileOpenError& error,
                            FileKind kind) {
    const std::optional<std::wstring> wide = Widen(path);
    if (!wide) {
        error = FileOpenError::NotFound;
        return {};
    }
    const DWORD rights = access == FileAccess::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = access == FileAccess::CreateReadWrite ? OPEN_ALWAYS : OPEN_EXISTING;
    // Others may keep reading, writing and renaming it: the lock, not the
    // sharing mode, tells a recording in progress. A link at the end of the
    // name is opened as itself, and refused below.
    const HANDLE raw = ::CreateFileW(
        wide->c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        error = ErrorOf(::GetLastError());
        return {};
    }
    FileHandle file(reinterpret_cast<Native>(raw), access != FileAccess::Read);
    error = FileOpenError::None;
    if (kind == FileKind::Any) return file;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(raw) != FILE_TYPE_DISK) {
        error = FileOpenError::NotRegular;
        return {};
    }
    if (!::GetFileInformationByHandle(raw, &info)) {
        error = FileOpenError::Failed;
        return {};
    }
    constexpr DWORD kNotPlain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((info.dwFileAttributes & kNotPlain) != 0) {
        error = FileOpenError::NotRegular;
        return {};
    }
    error = FileOpenError::None;
    return file;
}

std::optional<FileStamp> FileHandle::Stamp() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(Raw(native_), &info)) return std::nullopt;
    const std::uint64_t size =
        static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    const std::uint64_t written = static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime)
                                      << 32 |
                                  info.ftLastWriteTime.dwLowDateTime;
    return FileStamp{size, static_cast<std::int64_t>(written)};
}

std::optional<std::size_t> FileHandle::ReadAt(std::uint64_t offset, std::span<char> out) const {
    std::size_t got = 0;
    while (got < out.size()) {
        OVERLAPPED place = At(offset + got);
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(out.size() - got, kMaxTransfer));
        DWORD done = 0;
        if (!::ReadFile(Raw(native_), out.data() + got, want, &done, &place)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            return std::nullopt;
        }
        if (done == 0) break;
        got += done;
    }
    return got;
}

bool FileHandle::WriteAt(std::uint64_t offset, std::span<const char> data) const {
    while (!data.empty()) {
        OVERLAPPED place = At(offset);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size(), kMaxTransfer));
        DWORD done = 0;
        if (!::WriteFile(Raw(native_), data.data(), want, &done, &place) || done == 0) return false;
        data = data.subspan(done);
        offset += done;
    }
    return true;
}

bool FileHandle::Truncate(std::uint64_t size) const {
    if (size > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) return false;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(Raw(native_), FileEndOfFileInfo, &end, sizeof end) != 0;
}

FileLockResult FileHandle::TryLock() const {
    OVERLAPPED place{};
    place.Offset = kLockOffsetLow;
    place.OffsetHigh = kLockOffsetHigh;
    if (::LockFileEx(Raw(native_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &place))
        return FileLockResult::Locked;
    return ::GetLastError() == ERROR_LOCK_VIOLATION ? FileLockResult::InUse
                                                    : FileLockResult::Failed;
}

void FileHandle::Close() {
    // The system drops the handle's locks with it.
    if (native_ != kNone) ::CloseHandle(Raw(Release()));
}

}  // namespace velarix
