#include "capture/AviRepair.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>
#include <string_view>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velarix {

#if defined(_WIN32)

AviRepairResult RepairUnfinishedAvi(const std::string&) {
    return {};
}
AviRepairResult RepairUnfinishedAviAt(int) {
    return {};
}

#else

namespace {

// RIFF sizes the AVI muxer leaves as 0xFFFFFFFF until the file is finished.
constexpr std::uint32_t kSizeUnknown = 0xFFFFFFFFu;
constexpr std::uint32_t kKeyFrameFlag = 0x10;  // AVIIF_KEYFRAME
constexpr std::uint64_t kAvihTotalFrames = 16;
constexpr std::uint64_t kStrhLength = 32;
// Streams are numbered with two digits in the chunk names.
constexpr std::size_t kMaxStreams = 100;
constexpr std::size_t kBlockSize = 64 * 1024;

using Tag = std::array<char, 4>;

bool Is(const Tag& tag, std::string_view text) {
    return std::string_view(tag.data(), 4) == text;
}

// "00dc", "01wb" and the like: a stream's data chunk; the stream's number, or -1.
int StreamOfChunk(const Tag& tag) {
    if (tag[0] < '0' || tag[0] > '9' || tag[1] < '0' || tag[1] > '9') return -1;
    const auto isLower = [](char c) { return c >= 'a' && c <= 'z'; };
    if (!isLower(tag[2]) || !isLower(tag[3])) return -1;
    return (tag[0] - '0') * 10 + (tag[1] - '0');
}

void Put(std::vector<char>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

bool WriteAll(int fd, std::uint64_t offset, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t done = ::pwrite(fd, data, count, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data += done;
        count -= static_cast<std::size_t>(done);
        offset += static_cast<std::uint64_t>(done);
    }
    return true;
}

bool WriteU32(int fd, std::uint64_t offset, std::uint32_t value) {
    std::vector<char> bytes;
    Put(bytes, value);
    return WriteAll(fd, offset, bytes.data(), bytes.size());
}

// Little-endian reads at absolute offsets below the size the file had when
// it was opened, through a window so that runs of small chunks cost one
// system call per block rather than one per chunk.
class Reader {
public:
    Reader(int fd, std::uint64_t size) : fd_(fd), size_(size), block_(kBlockSize) {}

    std::uint64_t Size() const { return size_; }
    bool Failed() const { return failed_; }

    bool Read(std::uint64_t offset, char* out, std::size_t count) {
        if (offset > size_ || count > size_ - offset) return false;
        if (offset < start_ || offset + count > start_ + filled_) {
            if (!Fill(offset)) return false;
        }
        std::copy_n(block_.data() + (offset - start_), count, out);
        return true;
    }
    bool ReadTag(std::uint64_t offset, Tag& tag) { return Read(offset, tag.data(), 4); }
    bool ReadU32(std::uint64_t offset, std::uint32_t& value) {
        unsigned char bytes[4];
        if (!Read(offset, reinterpret_cast<char*>(bytes), 4)) return false;
        value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                static_cast<std::uint32_t>(bytes[2]) << 16 |
                static_cast<std::uint32_t>(bytes[3]) << 24;
        return true;
    }

private:
    bool Fill(std::uint64_t offset) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_.size(), size_ - offset));
        std::size_t got = 0;
        while (got < want) {
            const ssize_t done =
                ::pread(fd_, block_.data() + got, want - got, static_cast<off_t>(offset + got));
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) break;
            got += static_cast<std::size_t>(done);
        }
        start_ = offset;
        filled_ = got;
        // The file shrank under us, or the disk failed: nothing more is read.
        if (got < want) failed_ = true;
        return !failed_;
    }

    int fd_;
    std::uint64_t size_;
    std::vector<char> block_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
    bool failed_ = false;
};

// Where the header keeps what a finished file would have filled in.
struct HeaderPlaces {
    std::uint64_t avih = 0;           // start of the avih data
    std::vector<std::uint64_t> strh;  // start of each stream's strh data
};

// The chunks of the header list and of the stream lists in it. Only a stream
// list is entered, and never one inside another, so the walk needs no more
// than a fixed stack whatever the file nests.
bool ReadHeaderList(Reader& file, std::uint64_t start, std::uint64_t end, HeaderPlaces& places,
                    std::uint32_t& chunks) {
    struct Level {
        std::uint64_t at;
        std::uint64_t end;
    };
    std::array<Level, kMaxRepairHeaderDepth> levels{};
    int depth = 0;
    levels[0] = {start, end};
    while (depth >= 0) {
        Level& level = levels[static_cast<std::size_t>(depth)];
        if (level.at + 8 > level.end) {
            --depth;
            continue;
        }
        Tag tag{};
        std::uint32_t size = 0;
        if (!file.ReadTag(level.at, tag) || !file.ReadU32(level.at + 4, size)) return false;
        if (++chunks > kMaxRepairChunks) return false;
        const std::uint64_t here = level.at;
        const std::uint64_t next = here + 8 + size + (size & 1u);
        if (next > level.end) return false;
        level.at = next;
        // The counts written later must land inside these chunks.
        if (Is(tag, "avih")) {
            if (size < kAvihTotalFrames + 4) return false;
            places.avih = here + 8;
        }
        if (Is(tag, "strh")) {
            if (size < kStrhLength + 4 || places.strh.size() >= kMaxStreams) return false;
            places.strh.push_back(here + 8);
        }
        if (Is(tag, "LIST")) {
            Tag type{};
            if (!file.ReadTag(here + 8, type)) return false;
            if (Is(type, "strl")) {
                if (depth + 1 >= kMaxRepairHeaderDepth) return false;
                levels[static_cast<std::size_t>(++depth)] = {here + 12, next};
            }
        }
    }
    return true;
}

struct FrameScan {
    bool ok = false;        // false: leave the file alone
    std::uint64_t end = 0;  // where the whole chunks end (with an odd last one's pad)
    std::uint32_t entries = 0;
    std::vector<std::uint32_t> perStream;
};

// Every chunk that reached the disk whole; a chunk cut short by the end of
// the file, the start of an unfinished index or anything else ends the
// frames, as does `limit`. `onEntry(tag, flags, offset, size)` sees each index
// entry in order.
template <typename OnEntry>
FrameScan ScanFrames(Reader& file, std::uint64_t movi, std::uint64_t limit, std::size_t streams,
                     std::uint32_t chunks, OnEntry onEntry) {
    FrameScan scan;
    scan.perStream.assign(streams, 0);
    const std::uint64_t moviData = movi + 8;  // index offsets count from "movi"
    std::uint64_t end = movi + 12;
    while (end + 8 <= limit) {
        Tag tag{};
        std::uint32_t size = 0;
        if (!file.ReadTag(end, tag) || !file.ReadU32(end + 4, size)) return scan;
        const int streamIndex = StreamOfChunk(tag);
        const bool known = streamIndex >= 0 && static_cast<std::size_t>(streamIndex) < streams;
        if (!known && !Is(tag, "JUNK")) break;
        if (end + 8 + size > limit) break;
        // Frames beyond what the index can address, or more chunks than the
        // repair takes on: better an unplayable file than a cut one.
        if (end - moviData > 0xFFFFFFFFu || ++chunks > kMaxRepairChunks) return scan;
        if (known) {
            // The writer asks for a key frame at every frame; an empty chunk
            // is a skipped tick that repeats the previous frame.
            onEntry(tag, size > 0 ? kKeyFrameFlag : 0u, static_cast<std::uint32_t>(end - moviData),
                    size);
            ++scan.entries;
            ++scan.perStream[static_cast<std::size_t>(streamIndex)];
        }
        end += 8 + size + (size & 1u);
    }
    if (file.Failed()) return scan;
    scan.end = end;
    scan.ok = true;
    return scan;
}

// Index entries on their way to the file, a block at a time.
class IndexWriter {
public:
    IndexWriter(int fd, std::uint64_t at) : fd_(fd), at_(at) { block_.reserve(kBlockSize); }

    void Add(const Tag& tag, std::uint32_t flags, std::uint32_t offset, std::uint32_t size) {
        block_.insert(block_.end(), tag.begin(), tag.end());
        Put(block_, flags);
        Put(block_, offset);
        Put(block_, size);
        if (block_.size() + 16 > kBlockSize) Flush();
    }
    bool Flush() {
        if (!block_.empty()) {
            ok_ = ok_ && WriteAll(fd_, at_, block_.data(), block_.size());
            at_ += block_.size();
            block_.clear();
        }
        return ok_;
    }

private:
    int fd_;
    std::uint64_t at_;
    std::vector<char> block_;
    bool ok_ = true;
};

}  // namespace

AviRepairResult RepairUnfinishedAviAt(int fd) {
    AviRepairResult result;
    result.status = AviRepairStatus::Failed;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < 0) return result;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    Reader file(fd, fileSize);

    result.status = AviRepairStatus::NotRepairable;
    Tag tag{};
    std::uint32_t riffSize = 0;
    if (!file.ReadTag(0, tag) || !Is(tag, "RIFF") || !file.ReadU32(4, riffSize) ||
        !file.ReadTag(8, tag) || !Is(tag, "AVI "))
        return result;
    if (riffSize != kSizeUnknown) {
        // The first part was finished. A recording longer than a gigabyte
        // goes on in further parts, whose own index is not rebuilt here.
        const std::uint64_t next = 8 + static_cast<std::uint64_t>(riffSize) + (riffSize & 1u);
        std::uint32_t partSize = 0;
        if (next + 8 <= fileSize && file.ReadTag(next, tag) && Is(tag, "RIFF") &&
            file.ReadU32(next + 4, partSize) && partSize == kSizeUnknown)
            return result;
        result.status = AviRepairStatus::Finished;
        return result;
    }

    // The header lists, then the frame list whose size was never written.
    HeaderPlaces places;
    std::uint32_t chunks = 0;
    std::uint64_t movi = 0;
    for (std::uint64_t at = 12; at + 12 <= fileSize;) {
        std::uint32_t size = 0;
        Tag type{};
        if (!file.ReadTag(at, tag) || !file.ReadU32(at + 4, size)) return result;
        if (++chunks > kMaxRepairChunks) return result;
        if (Is(tag, "LIST") && file.ReadTag(at + 8, type) && Is(type, "movi")) {
            movi = at;
            break;
        }
        const std::uint64_t next = at + 8 + size + (size & 1u);
        if (size == kSizeUnknown || next > fileSize) return result;
        if (Is(tag, "LIST") && Is(type, "hdrl") &&
            !ReadHeaderList(file, at + 12, next, places, chunks))
            return result;
        at = next;
    }
    if (movi == 0 || places.avih == 0 || places.strh.empty() || file.Failed()) return result;

    // First walk: decide. Nothing is written unless the whole repair fits.
    const std::size_t streams = places.strh.size();
    const FrameScan plan = ScanFrames(file, movi, fileSize, streams, chunks, [](auto&&...) {});
    if (!plan.ok) return result;
    const std::uint64_t indexSize = 8 + 16 * static_cast<std::uint64_t>(plan.entries);
    const std::uint64_t finalSize = plan.end + indexSize;
    if (finalSize - 8 > 0xFFFFFFFFu) return result;

    // Second walk: the same chunks again, their index entries streamed out
    // behind the last whole chunk. The file first shrinks to the whole chunks
    // (or gains the pad byte of an odd last one); the walk reads only below
    // that point.
    result.status = AviRepairStatus::Failed;
    const int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0 || (mode & O_ACCMODE) != O_RDWR) return result;
    if (::ftruncate(fd, static_cast<off_t>(plan.end)) != 0) return result;
    std::vector<char> head{'i', 'd', 'x', '1'};
    Put(head, static_cast<std::uint32_t>(indexSize - 8));
    if (!WriteAll(fd, plan.end, head.data(), head.size())) return result;
    IndexWriter index(fd, plan.end + 8);
    const FrameScan written =
        ScanFrames(file, movi, plan.end, streams, chunks,
                   [&index](const Tag& entryTag, std::uint32_t flags, std::uint32_t offset,
                            std::uint32_t size) { index.Add(entryTag, flags, offset, size); });
    if (!index.Flush() || !written.ok || written.end != plan.end || written.entries != plan.entries)
        return result;

    const std::uint32_t frames = plan.perStream[0];
    if (!WriteU32(fd, movi + 4, static_cast<std::uint32_t>(plan.end - (movi + 8))) ||
        !WriteU32(fd, 4, static_cast<std::uint32_t>(finalSize - 8)) ||
        !WriteU32(fd, places.avih + kAvihTotalFrames, frames))
        return result;
    for (std::size_t i = 0; i < streams; ++i)
        if (!WriteU32(fd, places.strh[i] + kStrhLength, plan.perStream[i])) return result;
    result.status = AviRepairStatus::Repaired;
    result.frames = static_cast<std::int32_t>(frames);
    return result;
}

AviRepairResult RepairUnfinishedAvi(const std::string& path) {
    AviRepairResult result;
    // One open, never following a link and never waiting for a pipe's other
    // end; every later step goes through this descriptor.
    const int common = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.c_str(), O_RDWR | common);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == ETXTBSY))
        fd = ::open(path.c_str(), O_RDONLY | common);  // enough to see it is finished
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return result;
        result.status = errno == ELOOP ? AviRepairStatus::NotRepairable : AviRepairStatus::Failed;
        return result;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    result.status = AviRepairStatus::Failed;
    if (::fstat(fd, &info) != 0) return result;
    result.status = AviRepairStatus::NotRepairable;
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) return result;
    // A recording in progress holds this lock; the kernel drops it when the
    // recording process dies, however it dies.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result.status = errno == EWOULDBLOCK ? AviRepairStatus::InUse : AviRepairStatus::Failed;
        return result;
    }
    return RepairUnfinishedAviAt(fd);
}

#endif

namespace {
// Repairs in one process run one at a time: a recording that starts while the
// start-up repair is still at work waits for it rather than racing it.
std::mutex repairMutex;
}  // namespace

void RepairNamedRecording(const std::string& last, const std::string& except) {
    if (last.empty()) return;
    const std::lock_guard<std::mutex> hold(repairMutex);
    // "Last" keeps the name as chosen, before ".avi" may have been added.
    std::vector<std::string> names{last};
    if (last.find("avi") == std::string::npos) names.push_back(last + ".avi");
    for (const std::string& name : names)
        if (name != except) RepairUnfinishedAvi(name);
}

void RepairLastRecording(const SettingsStore& settings, const std::string& except) {
    RepairNamedRecording(settings.GetString("AVI", "Last", ""), except);
}

}  // namespace velarix
