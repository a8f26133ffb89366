// Repair of recordings cut off by a crash or a kill.
//
// Such a file has its frames on disk (the writer hands every frame to the
// system as it is written) but neither its index nor the sizes in its headers,
// and most players reject it. The repair walks the frame chunks that made it
// to the disk, drops a half-written last one, appends the index and writes
// the sizes and frame counts into the headers.
//
// A power cut can also leave a stretch of zeros or garbage between whole
// frames. The repair searches past it for the next frame header that fits in
// the file, covers the stretch with a JUNK chunk and keeps every frame after
// it. Only the tail a crash leaves (a chunk running past the end of the
// file) is ever dropped; a file whose tail it cannot make sense of is left
// as it is.
//
// The file named in the settings may be anything by the time it is repaired:
// damaged, crafted, replaced by a link or a pipe. So the repair
//  - opens the name once, without following a link and without waiting on a
//    pipe, and from then on works only through that handle;
//  - touches only a regular file owned by the user (on Windows: a plain file,
//    not a link, which its access list lets the user write) that no recording
//    holds;
//  - walks the headers without recursion and never below a stream list;
//  - gives up on a file with more than kMaxRepairChunks chunks or a frame list
//    beyond what a 32-bit index can address;
//  - decides everything before it writes: a file it cannot mend is left
//    exactly as it was;
//  - gives up, leaving the file as it was, when asked to stop (it looks at
//    least once for every 64 KB it reads) or when the file's size or time of
//    change moved while it read (another program is still writing it).
// The index is built in memory (16 bytes a chunk, so at most 16 MB) while the
// file is read, and written in one go after the last read.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "settings/SettingsStore.h"

namespace velarix {

// At most this many chunks (headers and frames) are walked; beyond, the file
// is left alone. A recording at the highest frame rate runs for over a quarter
// of an hour before it has this many.
inline constexpr std::uint32_t kMaxRepairChunks = 1u << 20;
// Lists deeper than the stream lists inside the header list are not read.
inline constexpr int kMaxRepairHeaderDepth = 2;

// What RepairUnfinishedAvi found.
enum class AviRepairStatus {
    Finished,       // a complete file, left alone
    Repaired,       // an unfinished recording, made playable
    InUse,          // being recorded right now, or written by another program
                    // while the repair read it: left alone
    NotFound,       // no such file
    NotRepairable,  // not an AVI this program writes, a layout it cannot mend,
                    // too large, or not a regular file of this user: left alone
    Failed,         // reading or writing the file failed
    Stopped,        // asked to stop before it wrote anything: left alone
};
struct AviRepairResult {
    AviRepairStatus status = AviRepairStatus::NotFound;
    std::int32_t frames = 0;  // frame periods the file holds afterwards
};

class FileHandle;

// Asked at least once for every 64 KB the repair reads, and before it writes:
// true makes it stop and leave the file as it was.
using AviRepairStop = std::function<bool()>;

AviRepairResult RepairUnfinishedAvi(const std::string& path, std::stop_token stop = {});

// The same on a file already open (for reading and writing, to mend it) and
// locked by the caller, who has checked what kind of file it is.
AviRepairResult RepairUnfinishedAviAt(const FileHandle& file, const AviRepairStop& stop = {});

// Repairs the recording "Last" named (with ".avi" as the writer may have
// added it) when a crash or a kill left it unfinished; `except` names a file
// not to touch. Repairs in one process run one at a time, and none waits for
// another: one asked for while another runs is left to that one, which is at
// the same name (a recording that starts during the start-up repair opens at
// once).
void RepairNamedRecording(const std::string& last, const std::string& except = {},
                          std::stop_token stop = {});
// The same for "Last" of section "AVI".
void RepairLastRecording(const SettingsStore& settings, const std::string& except = {},
                         std::stop_token stop = {});

}  // namespace velarix
