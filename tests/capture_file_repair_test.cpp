// The file handle and the repair's walk over damaged files, on nothing but
// the standard library's file system, so that they run on Windows as well:
// offset reads and writes, the lock a recording holds, what the repair keeps
// of a file damaged in the middle, and a stop or a change while it reads.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "AviBuilder.h"
#include "TempDir.h"
#include "capture/AviRepair.h"
#include "capture/FileHandle.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;
using namespace velarix::test;

class FileRepairTest : public ::testing::Test {
protected:
    std::string In(const std::string& name) const { return (temp_.Path() / name).string(); }

    TempDir temp_{"velarix-file"};
};

// --- Damage in the middle, and the tail ----------------------------------------

// What the repair does with damage between the frames and at the end: only
// a chunk running past the end is ever dropped.
TEST_F(FileRepairTest, DamageInTheMiddleIsBridgedAndOnlyACutTailDropped) {
    const std::string frames = Frames(1000, 4000);
    const std::string head = UnfinishedAvi("");
    const std::size_t frame11 = 10 * 4008;
    struct Case {
        const char* what;
        std::string body;  // the frame list
        AviRepairStatus expected;
        std::int32_t frames;    // kept
        std::size_t keptBytes;  // of the body, before the index
    };
    const Case cases[] = {
        {"a zeroed 4 KB page after frame 10",
         std::string(frames).replace(frame11, 4096, std::string(4096, '\0')),
         AviRepairStatus::Repaired, 998, frames.size()},
        {"a frame size garbled in the middle",
         std::string(frames).replace(frame11 + 4, 4, Le32(0x7FFFFFF0u)), AviRepairStatus::Repaired,
         999, frames.size()},
        {"a crash's tail: the last frame cut short", frames + "00dc" + Le32(4000) + "abc",
         AviRepairStatus::Repaired, 1000, frames.size()},
        {"an index begun at the end", frames + "idx1" + Le32(16000) + Chunk("00dc", ""),
         AviRepairStatus::Repaired, 1000, frames.size()},
        {"garbage at the end with no frame after it", frames + std::string(100, 'z'),
         AviRepairStatus::NotRepairable, 0, 0},
        {"zeros at the end", frames + std::string(4096, '\0'), AviRepairStatus::NotRepairable, 0,
         0},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::string file = In("damaged" + std::to_string(index++) + ".avi");
        WriteAll(file, head + c.body);
        const AviRepairResult result = RepairUnfinishedAvi(file);
        EXPECT_EQ(result.status, c.expected) << c.what;
        const std::string after = ReadAll(file);
        if (c.expected != AviRepairStatus::Repaired) {
            EXPECT_TRUE(after == head + c.body) << c.what;
            continue;
        }
        EXPECT_EQ(result.frames, c.frames) << c.what;
        const std::size_t indexAt = head.size() + c.keptBytes;
        ASSERT_EQ(after.size(), indexAt + 8 + 16 * static_cast<std::size_t>(c.frames)) << c.what;
        EXPECT_EQ(after.substr(indexAt, 4), "idx1") << c.what;
        // The kept frames follow each other where they were, the damage
        // covered by JUNK chunks.
        std::int32_t walked = 0;
        std::size_t at = head.size();
        while (at < indexAt) {
            const std::string tag = after.substr(at, 4);
            ASSERT_TRUE(tag == "00dc" || tag == "JUNK") << c.what << " at " << at;
            walked += tag == "00dc";
            std::uint32_t size = 0;
            for (int i = 3; i >= 0; --i)
                size = size << 8 |
                       static_cast<unsigned char>(after[at + 4 + static_cast<std::size_t>(i)]);
            at += 8 + size + (size & 1u);
        }
        EXPECT_EQ(at, indexAt) << c.what;
        EXPECT_EQ(walked, c.frames) << c.what;
        EXPECT_EQ(RepairUnfinishedAvi(file).status, AviRepairStatus::Finished) << c.what;
    }
}

// --- Stopping, and a file that changes under the repair ------------------------

// The stop is asked at least once every 64 KB read; a stop at any point, or
// a file written by someone else while it was read, leaves every byte.
TEST_F(FileRepairTest, AStopOrAChangeMeanwhileLeavesTheFileAsItWas) {
    const std::string bytes =
        UnfinishedAvi(Frames(1000, 4000) + std::string(4096, '\0') + Frames(100, 4000));
    const std::string file = In("busy.avi");
    WriteAll(file, bytes);
    FileOpenError error = FileOpenError::None;
    int total = 0;  // the questions of a whole repair, the last one before writing
    {
        const FileHandle handle = FileHandle::Open(file, FileAccess::ReadWrite, error);
        ASSERT_TRUE(handle.IsOpen());
        EXPECT_EQ(RepairUnfinishedAviAt(handle, [&] { return ++total, false; }).status,
                  AviRepairStatus::Repaired);
        // Each question covers one block read, and the walk skips at most
        // the rest of a frame running past a block.
        EXPECT_GE(total, static_cast<int>(bytes.size() / (64 * 1024 + 4008)) + 1);
    }
    struct Case {
        const char* what;
        std::function<bool(const std::string&, int asked)> onAsk;  // true: stop
        AviRepairStatus expected;
        std::string expectedAfter;
    };
    const std::string more = Chunk("00dc", "appended");
    const Case cases[] = {
        {"a stop at the first block", [](const std::string&, int) { return true; },
         AviRepairStatus::Stopped, bytes},
        {"a stop half-way", [](const std::string&, int asked) { return asked >= 30; },
         AviRepairStatus::Stopped, bytes},
        {"a stop just before writing",
         [&](const std::string&, int asked) { return asked == total; }, AviRepairStatus::Stopped,
         bytes},
        {"another program appending",
         [&](const std::string& name, int asked) {
             if (asked == 1) std::ofstream(name, std::ios::binary | std::ios::app) << more;
             return false;
         },
         AviRepairStatus::InUse, bytes + more},
        {"another program rewriting in place",
         [](const std::string& name, int asked) {
             if (asked == 1) {
                 fs::last_write_time(name, fs::last_write_time(name) - std::chrono::hours(1));
             }
             return false;
         },
         AviRepairStatus::InUse, bytes},
    };
    for (const auto& c : cases) {
        WriteAll(file, bytes);
        const FileHandle handle = FileHandle::Open(file, FileAccess::ReadWrite, error);
        ASSERT_TRUE(handle.IsOpen()) << c.what;
        int asked = 0;
        const AviRepairResult result =
            RepairUnfinishedAviAt(handle, [&] { return c.onAsk(file, ++asked); });
        EXPECT_EQ(result.status, c.expected) << c.what;
        EXPECT_TRUE(ReadAll(file) == c.expectedAfter) << c.what;
    }
}

// --- The file handle --------------------------------------------------------------

TEST_F(FileRepairTest, FileHandleWorksAtOffsetsAndLocksAgainstASecondHandle) {
    const std::string name = In("handle.bin");
    FileOpenError error = FileOpenError::None;
    FileHandle first = FileHandle::Open(name, FileAccess::CreateReadWrite, error);
    ASSERT_EQ(error, FileOpenError::None);
    ASSERT_TRUE(first.WriteAt(4, std::string_view("data")));
    std::array<char, 16> buffer{};
    EXPECT_EQ(first.ReadAt(2, buffer), std::optional<std::size_t>(6));  // short at the end
    EXPECT_EQ(std::string(buffer.data(), 6), std::string("\0\0data", 6));
    ASSERT_TRUE(first.Truncate(5));
    EXPECT_EQ(first.Stamp()->size, 5u);
    EXPECT_EQ(fs::file_size(name), 5u);

    // A recording holds the lock: another handle, even in the same process,
    // sees the file in use until the holder closes.
    FileHandle second = FileHandle::Open(name, FileAccess::Read, error);
    ASSERT_TRUE(second.IsOpen());
    EXPECT_FALSE(second.Writable());
    ASSERT_EQ(first.TryLock(), FileLockResult::Locked);
    EXPECT_EQ(second.TryLock(), FileLockResult::InUse);
    EXPECT_EQ(RepairUnfinishedAvi(name).status, AviRepairStatus::InUse);
    first.Close();
    EXPECT_EQ(second.TryLock(), FileLockResult::Locked);

    // Names that lead nowhere, or to what the repair must not touch.
    EXPECT_FALSE(FileHandle::Open(In("missing"), FileAccess::Read, error).IsOpen());
    EXPECT_EQ(error, FileOpenError::NotFound);
    EXPECT_FALSE(FileHandle::Open(temp_.String(), FileAccess::Read, error).IsOpen());
    EXPECT_NE(error, FileOpenError::None);
    // Windows lets only some users make links.
    std::error_code linked;
    fs::create_symlink(name, In("link"), linked);
    if (!linked) {
        EXPECT_FALSE(FileHandle::Open(In("link"), FileAccess::Read, error).IsOpen());
        EXPECT_EQ(error, FileOpenError::NotRegular);
        EXPECT_TRUE(FileHandle::Open(In("link"), FileAccess::Read, error, FileKind::Any).IsOpen());
    }
}

}  // namespace
}  // namespace velarix
