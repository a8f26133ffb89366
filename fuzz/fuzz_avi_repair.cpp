// The repair of unfinished recordings, fed whole files: whatever the file
// holds, the repair must not crash or hang, a file it does not mend keeps
// every byte, a mended file grows by no more than its index (16 bytes for
// each chunk, and every chunk takes at least 8 bytes of the file) and reads
// as finished afterwards. What it drops is never more than the last chunk:
// the original bytes behind the kept ones are a header cut short, a chunk
// header running past the end, or the start of an index.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/AviRepair.h"
#include "capture/FileHandle.h"

namespace {

int MemoryFile() {
    static const int fd = ::memfd_create("fuzz-avi", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
}

std::uint32_t U32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Whether the original bytes from `kept` on may go: a header cut short, a
// chunk header whose chunk runs past the end, or an index begun.
bool OnlyATailDropped(const std::uint8_t* data, std::size_t size, std::uint64_t kept) {
    if (kept >= size || size - kept < 8) return true;
    const std::uint8_t* header = data + kept;
    if (std::memcmp(header, "idx1", 4) == 0 || (header[0] == 'i' && header[1] == 'x')) return true;
    return kept + 8 + U32(header + 4) > size;
}

std::vector<std::uint8_t> Contents(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) std::abort();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    if (!bytes.empty() &&
        ::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        std::abort();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using velarix::AviRepairStatus;
    const int fd = MemoryFile();
    if (::ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    const velarix::FileHandle file(::dup(fd), true);
    if (!file.IsOpen()) std::abort();
    const velarix::AviRepairResult result = velarix::RepairUnfinishedAviAt(file);
    const std::vector<std::uint8_t> after = Contents(fd);
    if (result.status != AviRepairStatus::Repaired) {
        // Left alone means byte for byte.
        if (after.size() != size || (size > 0 && std::memcmp(after.data(), data, size) != 0))
            std::abort();
        return 0;
    }
    // An odd last chunk may gain its pad byte; then the index header and at
    // most two index bytes for every byte of chunk.
    if (after.size() > 1 + size + 8 + 2 * size) std::abort();
    if (result.frames < 0) std::abort();
    // The frame list now has its size, and the index follows it; what the
    // original held from there on is all that may have gone.
    std::uint64_t kept = 0;
    for (std::uint64_t at = 12; at + 12 <= after.size();) {
        const std::uint32_t chunk = U32(after.data() + at + 4);
        if (std::memcmp(after.data() + at, "LIST", 4) == 0 &&
            std::memcmp(after.data() + at + 8, "movi", 4) == 0) {
            kept = at + 8 + chunk;
            break;
        }
        at += 8 + std::uint64_t{chunk} + (chunk & 1u);
    }
    if (kept == 0 || kept + 8 > after.size() || std::memcmp(after.data() + kept, "idx1", 4) != 0)
        std::abort();
    if (!OnlyATailDropped(data, size, kept)) std::abort();
    if (velarix::RepairUnfinishedAviAt(file).status != AviRepairStatus::Finished) std::abort();
    return 0;
}
