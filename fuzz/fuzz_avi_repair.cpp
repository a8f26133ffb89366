// The repair of unfinished recordings, fed whole files: whatever the file
// holds, the repair must not crash or hang, a file it does not mend keeps
// every byte, a mended file grows by no more than its index (16 bytes for
// each chunk, and every chunk takes at least 8 bytes of the file) and reads
// as finished afterwards.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/AviRepair.h"

namespace {

int MemoryFile() {
    static const int fd = ::memfd_create("fuzz-avi", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
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

    const velarix::AviRepairResult result = velarix::RepairUnfinishedAviAt(fd);
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
    if (velarix::RepairUnfinishedAviAt(fd).status != AviRepairStatus::Finished) std::abort();
    return 0;
}
