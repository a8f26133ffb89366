#include "capture/AviRepair.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/FileHandle.h"

namespace velarix {

namespace {

// RIFF sizes the AVI muxer leaves as 0xFFFFFFFF until the file is finished.
constexpr std::uint32_t kSizeUnknown = 0xFFFFFFFFu;
constexpr std::uint32_t kKeyFrameFlag = 0x10;  // AVIIF_KEYFRAME
constexpr std::uint64_t kAvihTotalFrames = 16;
constexpr std::uint64_t kStrhLength = 32;
// Streams are numbered with two digits in the chunk names.
constexpr std::size_t kMaxStreams = 100;
constexpr std::size_t kBlockSize = 64 * 1024;
// Index offsets are 32 bits, counted from "movi".
constexpr std::uint64_t kMaxIndexOffset = 0xFFFFFFFFu;

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

// "idx1", or "ix00" and the like: an index the muxer began when it was cut
// off. Frames never follow one.
bool IsIndex(const Tag& tag) {
    return Is(tag, "idx1") || (tag[0] == 'i' && tag[1] == 'x' && tag[2] >= '0' && tag[2] <= '9' &&
                               tag[3] >= '0' && tag[3] <= '9');
}

std::uint32_t GetU32(const char* bytes) {
    const auto byte = [bytes](int i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

void Put(std::vector<char>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

bool WriteU32(const FileHandle& file, std::uint64_t offset, std::uint32_t value) {
    std::vector<char> bytes;
    Put(bytes, value);
    return file.WriteAt(offset, bytes);
}

// Little-endian reads at absolute offsets below the size the file had when
// it was opened, through a window so that runs of small chunks cost one
// system call per block rather than one per chunk. Every block read first
// asks whether to stop.
class Reader {
public:
    Reader(const FileHandle& file, std::uint64_t size, const AviRepairStop& stop)
        : file_(file), size_(size), stop_(stop), block_(kBlockSize) {}

    std::uint64_t Size() const { return size_; }
    bool Failed() const { return failed_; }
    bool Stopped() const { return stopped_; }

    bool Read(std::uint64_t offset, char* out, std::size_t count) {
        if (offset > size_ || count > size_ - offset) return false;
        if (!Hold(offset, count)) return false;
        std::copy_n(block_.data() + (offset - start_), count, out);
        return true;
    }
    bool ReadTag(std::uint64_t offset, Tag& tag) { return Read(offset, tag.data(), 4); }
    bool ReadU32(std::uint64_t offset, std::uint32_t& value) {
        char bytes[4];
        if (!Read(offset, bytes, 4)) return false;
        value = GetU32(bytes);
        return true;
    }

    // The first even offset from `from` below `limit` where a chunk header
    // starts that `wanted(tag, size, offset)` takes. Reads every block in
    // between, and nothing more.
    template <typename Wanted>
    std::optional<std::uint64_t> Find(std::uint64_t from, std::uint64_t limit, Wanted wanted) {
        limit = std::min(limit, size_);
        for (std::uint64_t at = from; at + 8 <= limit;) {
            if (!Hold(at, 8)) return std::nullopt;
            const std::uint64_t last = std::min(start_ + filled_, limit) - 8;
            for (; at <= last; at += 2) {
                const char* header = block_.data() + (at - start_);
                if ((header[0] < '0' || header[0] > '9') && header[0] != 'J') continue;
                Tag tag{};
                std::copy_n(header, 4, tag.data());
                if (wanted(tag, GetU32(header + 4), at)) return at;
            }
        }
        return std::nullopt;
    }

private:
    // The window covers [offset, offset + count).
    bool Hold(std::uint64_t offset, std::size_t count) {
        if (offset >= start_ && offset + count <= start_ + filled_) return true;
        return Fill(offset) && offset + count <= start_ + filled_;
    }

    bool Fill(std::uint64_t offset) {
        if (failed_) return false;
        if (stop_ && stop_()) {
            stopped_ = failed_ = true;
            return false;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_.size(), size_ - offset));
        const std::optional<std::size_t> got = file_.ReadAt(offset, {block_.data(), want});
        start_ = offset;
        filled_ = got.value_or(0);
        // The file shrank under us, or the disk failed: nothing more is read.
        if (filled_ < want) failed_ = true;
        return !failed_;
    }

    const FileHandle& file_;
    std::uint64_t size_;
    const AviRepairStop& stop_;
    std::vector<char> block_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
    bool failed_ = false;
    bool stopped_ = false;
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

// What the repair will write, decided before it writes anything.
struct Plan {
    enum class Outcome { Mend, LeaveAlone, Failed, Stopped };
    Outcome outcome = Outcome::LeaveAlone;
    std::uint64_t end = 0;    // where the kept chunks end (with an odd last one's pad)
    std::vector<char> index;  // the idx1 entries
    std::uint32_t entries = 0;
    std::vector<std::uint32_t> perStream;
    // Unreadable stretches between whole chunks: where each JUNK header goes
    // and the size it gives.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> junk;
};

// Walks the frame list. A whole chunk of a known stream (or JUNK) is kept; a
// stretch the walk does not understand is bridged to the next known chunk
// header that fits in the file; a chunk running past the end with no such
// header after it is the tail a crash leaves, and is dropped. Anything else
// at the end leaves the file alone.
Plan PlanFrames(Reader& file, std::uint64_t movi, std::size_t streams, std::uint32_t chunks) {
    Plan plan;
    plan.perStream.assign(streams, 0);
    const std::uint64_t size = file.Size();
    const std::uint64_t moviData = movi + 8;  // index offsets count from "movi"
    const auto known = [streams](const Tag& tag) {
        const int stream = StreamOfChunk(tag);
        return (stream >= 0 && static_cast<std::size_t>(stream) < streams) || Is(tag, "JUNK");
    };
    const auto fits = [size](std::uint64_t at, std::uint32_t chunkSize) {
        return at + 8 + chunkSize <= size;
    };
    const auto outcome = [&file](Plan::Outcome otherwise) {
        if (file.Stopped()) return Plan::Outcome::Stopped;
        return file.Failed() ? Plan::Outcome::Failed : otherwise;
    };
    std::uint64_t at = movi + 12;
    while (at + 8 <= size) {
        Tag tag{};
        std::uint32_t chunkSize = 0;
        if (!file.ReadTag(at, tag) || !file.ReadU32(at + 4, chunkSize)) {
            plan.outcome = outcome(Plan::Outcome::Failed);
            return plan;
        }
        // Frames beyond what the index can address, or more chunks than the
        // repair takes on: better an unplayable file than a cut one.
        if (at - moviData > kMaxIndexOffset || ++chunks > kMaxRepairChunks) return plan;
        if (IsIndex(tag)) break;  // the muxer was writing its index: no frames follow
        if (known(tag) && fits(at, chunkSize)) {
            const int stream = StreamOfChunk(tag);
            if (stream >= 0) {
                // The writer asks for a key frame at every frame; an empty
                // chunk is a skipped tick that repeats the previous frame.
                plan.index.insert(plan.index.end(), tag.begin(), tag.end());
                Put(plan.index, chunkSize > 0 ? kKeyFrameFlag : 0u);
                Put(plan.index, static_cast<std::uint32_t>(at - moviData));
                Put(plan.index, chunkSize);
                ++plan.entries;
                ++plan.perStream[static_cast<std::size_t>(stream)];
            }
            at += 8 + static_cast<std::uint64_t>(chunkSize) + (chunkSize & 1u);
            continue;
        }
        // Not a whole chunk: search past it, leaving room for the JUNK header
        // that will cover it.
        const std::optional<std::uint64_t> next =
            file.Find(at + 8, moviData + kMaxIndexOffset + 8,
                      [&](const Tag& found, std::uint32_t foundSize, std::uint64_t where) {
                          return known(found) && fits(where, foundSize);
                      });
        if (file.Failed()) {
            plan.outcome = outcome(Plan::Outcome::Failed);
            return plan;
        }
        if (!next) {
            if (!known(tag)) return plan;  // a tail it cannot read: left as it is
            break;                         // the chunk a crash cut short
        }
        plan.junk.emplace_back(at, static_cast<std::uint32_t>(*next - at - 8));
        at = *next;
    }
    // A header cut short is a crash's tail too; an odd last chunk may still
    // lack its pad byte, which the repair adds.
    plan.end = at;
    plan.outcome = outcome(Plan::Outcome::Mend);
    return plan;
}

}  // namespace

AviRepairResult RepairUnfinishedAviAt(const FileHandle& handle, const AviRepairStop& stop) {
    AviRepairResult result;
    result.status = AviRepairStatus::Failed;
    const std::optional<FileStamp> before = handle.Stamp();
    if (!before) return result;
    const std::uint64_t fileSize = before->size;
    Reader file(handle, fileSize, stop);

    result.status = AviRepairStatus::NotRepairable;
    Tag tag{};
    std::uint32_t riffSize = 0;
    if (!file.ReadTag(0, tag) || !Is(tag, "RIFF") || !file.ReadU32(4, riffSize) ||
        !file.ReadTag(8, tag) || !Is(tag, "AVI ")) {
        if (file.Stopped()) result.status = AviRepairStatus::Stopped;
        return result;
    }
    if (riffSize != kSizeUnknown) {
        // The first part was finished. A recording longer than a gigabyte
        // goes on in further parts, whose own index is not rebuilt here.
        const std::uint64_t next = 8 + static_cast<std::uint64_t>(riffSize) + (riffSize & 1u);
        std::uint32_t partSize = 0;
        if (next + 8 <= fileSize && file.ReadTag(next, tag) && Is(tag, "RIFF") &&
            file.ReadU32(next + 4, partSize) && partSize == kSizeUnknown)
            return result;
        result.status = file.Stopped() ? AviRepairStatus::Stopped : AviRepairStatus::Finished;
        return result;
    }

    // The header lists, then the frame list whose size was never written.
    HeaderPlaces places;
    std::uint32_t chunks = 0;
    std::uint64_t movi = 0;
    for (std::uint64_t at = 12; at + 12 <= fileSize;) {
        std::uint32_t size = 0;
        Tag type{};
        if (!file.ReadTag(at, tag) || !file.ReadU32(at + 4, size)) break;
        if (++chunks > kMaxRepairChunks) return result;
        if (Is(tag, "LIST") && file.ReadTag(at + 8, type) && Is(type, "movi")) {
            movi = at;
            break;
        }
        const std::uint64_t next = at + 8 + size + (size & 1u);
        if (size == kSizeUnknown || next > fileSize) return result;
        if (Is(tag, "LIST") && Is(type, "hdrl") &&
            !ReadHeaderList(file, at + 12, next, places, chunks))
            break;
        at = next;
    }
    if (file.Stopped()) result.status = AviRepairStatus::Stopped;
    if (file.Failed()) return result;
    if (movi == 0 || places.avih == 0 || places.strh.empty()) return result;

    // Decide everything; nothing is written unless the whole repair fits.
    const std::size_t streams = places.strh.size();
    const Plan plan = PlanFrames(file, movi, streams, chunks);
    switch (plan.outcome) {
        case Plan::Outcome::Mend:
            break;
        case Plan::Outcome::LeaveAlone:
            return result;
        case Plan::Outcome::Stopped:
            result.status = AviRepairStatus::Stopped;
            return result;
        case Plan::Outcome::Failed:
            result.status = AviRepairStatus::Failed;
            return result;
    }
    const std::uint64_t indexSize = 8 + std::uint64_t{plan.index.size()};
    const std::uint64_t finalSize = plan.end + indexSize;
    if (finalSize - 8 > 0xFFFFFFFFu) return result;

    // The last look before writing: a stop asked for, or another program
    // still writing the file, leaves it as it was.
    if (stop && stop()) {
        result.status = AviRepairStatus::Stopped;
        return result;
    }
    if (handle.Stamp() != before) {
        result.status = AviRepairStatus::InUse;
        return result;
    }
    result.status = AviRepairStatus::Failed;
    if (!handle.Writable()) return result;

    // The stretches covered, the file cut to its whole chunks (or given the
    // pad byte of an odd last one), the index behind them, then the sizes
    // and counts in the headers.
    for (const auto& [at, size] : plan.junk) {
        std::vector<char> header{'J', 'U', 'N', 'K'};
        Put(header, size);
        if (!handle.WriteAt(at, header)) return result;
    }
    if (!handle.Truncate(plan.end)) return result;
    std::vector<char> head{'i', 'd', 'x', '1'};
    Put(head, static_cast<std::uint32_t>(indexSize - 8));
    if (!handle.WriteAt(plan.end, head) || !handle.WriteAt(plan.end + 8, plan.index)) return result;

    const std::uint32_t frames = plan.perStream[0];
    if (!WriteU32(handle, movi + 4, static_cast<std::uint32_t>(plan.end - (movi + 8))) ||
        !WriteU32(handle, 4, static_cast<std::uint32_t>(finalSize - 8)) ||
        !WriteU32(handle, places.avih + kAvihTotalFrames, frames))
        return result;
    for (std::size_t i = 0; i < streams; ++i)
        if (!WriteU32(handle, places.strh[i] + kStrhLength, plan.perStream[i])) return result;
    result.status = AviRepairStatus::Repaired;
    result.frames = static_cast<std::int32_t>(frames);
    return result;
}

AviRepairResult RepairUnfinishedAvi(const std::string& path, std::stop_token stop) {
    AviRepairResult result;
    // One open, never following a link and never waiting for a pipe's other
    // end; every later step goes through this handle.
    FileOpenError error = FileOpenError::None;
    FileHandle file = FileHandle::Open(path, FileAccess::ReadWrite, error);
    if (error == FileOpenError::Denied)  // enough to see it is finished
        file = FileHandle::Open(path, FileAccess::Read, error);
    switch (error) {
        case FileOpenError::None:
            break;
        case FileOpenError::NotFound:
            return result;
        case FileOpenError::NotRegular:
            result.status = AviRepairStatus::NotRepairable;
            return result;
        case FileOpenError::Denied:
        case FileOpenError::Failed:
            result.status = AviRepairStatus::Failed;
            return result;
    }
    // A recording in progress holds this lock; the system drops it when the
    // recording process dies, however it dies.
    switch (file.TryLock()) {
        case FileLockResult::Locked:
            break;
        case FileLockResult::InUse:
            result.status = AviRepairStatus::InUse;
            return result;
        case FileLockResult::Failed:
            result.status = AviRepairStatus::Failed;
            return result;
    }
    return RepairUnfinishedAviAt(file, [&stop] { return stop.stop_requested(); });
}

namespace {
// Repairs in one process run one at a time. One asked for while another runs
// is left to that one rather than waited for: both are at "Last".
std::mutex repairMutex;
}  // namespace

void RepairNamedRecording(const std::string& last, const std::string& except,
                          std::stop_token stop) {
    if (last.empty()) return;
    const std::unique_lock<std::mutex> hold(repairMutex, std::try_to_lock);
    if (!hold.owns_lock()) return;
    // "Last" keeps the name as chosen, before ".avi" may have been added.
    std::vector<std::string> names{last};
    if (last.find("avi") == std::string::npos) names.push_back(last + ".avi");
    for (const std::string& name : names)
        if (name != except && !stop.stop_requested()) RepairUnfinishedAvi(name, stop);
}

void RepairLastRecording(const SettingsStore& settings, const std::string& except,
                         std::stop_token stop) {
    RepairNamedRecording(settings.GetString("AVI", "Last", ""), except, std::move(stop));
}

}  // namespace velarix
