// Repair of recordings cut off by a crash or a kill.
//
// Such a file has its frames on disk (the writer hands every frame to the
// system as it is written) but neither its index nor the sizes in its headers,
// and most players reject it. The repair walks the frame chunks that made it
// to the disk, cuts off a half-written last one, appends the index and writes
// the sizes and frame counts into the headers.
//
// The file named in the settings may be anything by the time it is repaired:
// damaged, crafted, replaced by a link or a pipe. So the repair
//  - opens the name once, without following a link and without waiting on a
//    pipe, and from then on works only through that descriptor;
//  - touches only a regular file owned by the user that no recording holds;
//  - walks the headers without recursion and never below a stream list;
//  - gives up on a file with more than kMaxRepairChunks chunks or a frame list
//    beyond what a 32-bit index can address;
//  - decides everything before it writes: a file it cannot mend is left
//    exactly as it was.
// The index goes out in blocks while the frames are walked a second time, so
// memory stays small whatever the file holds.
#pragma once

#include <cstdint>
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
    InUse,          // being recorded right now, left alone
    NotFound,       // no such file
    NotRepairable,  // not an AVI this program writes, a layout it cannot mend,
                    // too large, or not a regular file of this user: left alone
    Failed,         // reading or writing the file failed
};
struct AviRepairResult {
    AviRepairStatus status = AviRepairStatus::NotFound;
    std::int32_t frames = 0;  // frame periods the file holds afterwards
};

AviRepairResult RepairUnfinishedAvi(const std::string& path);

// The same on a file already open for reading and writing (a descriptor the
// caller keeps). The caller has checked what kind of file it is.
AviRepairResult RepairUnfinishedAviAt(int fd);

// Repairs the recording "Last" named (with ".avi" as the writer may have
// added it) when a crash or a kill left it unfinished; `except` names a file
// not to touch. Repairs in one process run one at a time, so a recording
// that starts while the start-up repair runs waits for it.
void RepairNamedRecording(const std::string& last, const std::string& except = {});
// The same for "Last" of section "AVI".
void RepairLastRecording(const SettingsStore& settings, const std::string& except = {});

}  // namespace velarix
