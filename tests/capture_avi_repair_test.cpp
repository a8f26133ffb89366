// The repair of unfinished recordings against files it must not trust: deep
// nesting, floods of empty chunks, links, pipes and other users' files. A
// file the repair cannot mend keeps every byte.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "AviBuilder.h"
#include "capture/AviRepair.h"
#include "settings/MemorySettingsBackend.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;
using namespace velarix::test;

class AviRepairTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "velarix-repair-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string In(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(AviRepairTest, AnUnfinishedFileGetsItsIndexAndCounts) {
    const std::string file = In("cut.avi");
    // Three whole frames, the third odd-sized, then one cut short.
    const std::string whole = Frames(2, 10) + Chunk("00dc", "abc");
    WriteAll(file, UnfinishedAvi(whole + "00dc" + Le32(100) + "xy"));
    const AviRepairResult result = RepairUnfinishedAvi(file);
    EXPECT_EQ(result.status, AviRepairStatus::Repaired);
    EXPECT_EQ(result.frames, 3);
    const std::string repaired = ReadAll(file);
    const std::string head = UnfinishedAvi("");
    ASSERT_EQ(repaired.size(), head.size() + whole.size() + 8 + 3 * 16);
    EXPECT_EQ(repaired.substr(head.size() + whole.size(), 8), "idx1" + Le32(48));
    EXPECT_EQ(repaired.substr(4, 4), Le32(static_cast<std::uint32_t>(repaired.size() - 8)));
    EXPECT_EQ(RepairUnfinishedAvi(file).status, AviRepairStatus::Finished);
}

// Each case builds something at "Last" and says what the repair must leave
// behind; none of them may be changed.
TEST_F(AviRepairTest, HostileFilesAreLeftUntouched) {
    const std::string healthy = UnfinishedAvi(Frames(3, 8));
    struct Case {
        const char* what;
        std::function<std::string(const std::string& name)> make;  // gives the file to watch
        AviRepairStatus expected;
    };
    const Case cases[] = {
        {"stream lists nested deeper than any stack",
         [&](const std::string& name) {
             WriteAll(name, UnfinishedAvi(Frames(2, 4), NestedStreamLists(400000)));
             return name;
         },
         AviRepairStatus::NotRepairable},
        {"more empty chunks than the repair takes on",
         [&](const std::string& name) {
             std::string frames;
             frames.reserve(std::size_t{8} * (kMaxRepairChunks + 1));
             for (std::uint32_t i = 0; i <= kMaxRepairChunks; ++i) frames += Chunk("00dc", "");
             WriteAll(name, UnfinishedAvi(frames));
             return name;
         },
         AviRepairStatus::NotRepairable},
        {"a link to another unfinished file",
         [&](const std::string& name) {
             const std::string target = In("target.avi");
             WriteAll(target, healthy);
             fs::create_symlink(target, name);
             return target;
         },
         AviRepairStatus::NotRepairable},
        {"a header too short for its counts",
         [&](const std::string& name) {
             std::string bytes = healthy;
             bytes.replace(bytes.find("avih") + 4, 4, Le32(8));
             WriteAll(name, bytes);
             return name;
         },
         AviRepairStatus::NotRepairable},
        {"a file of another user",
         [&](const std::string& name) {
             WriteAll(name, healthy);
             if (::geteuid() == 0 && ::chown(name.c_str(), 4321, 4321) != 0) return std::string();
             if (::geteuid() != 0) ::unlink(name.c_str());
             return name;
         },
         AviRepairStatus::NotRepairable},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::string name = In("last" + std::to_string(index++) + ".avi");
        const std::string watched = c.make(name);
        ASSERT_FALSE(watched.empty()) << c.what;
        const bool exists = fs::exists(watched);
        if (!exists) continue;  // the other-user case needs root to chown
        const std::string before = ReadAll(watched);
        EXPECT_EQ(RepairUnfinishedAvi(name).status, c.expected) << c.what;
        EXPECT_TRUE(ReadAll(watched) == before) << c.what;
    }
}

// A pipe in place of the file must not hold up the start: nobody ever opens
// its other end here.
TEST_F(AviRepairTest, APipeIsNotWaitedOn) {
    const std::string name = In("pipe.avi");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    EXPECT_EQ(RepairUnfinishedAvi(name).status, AviRepairStatus::NotRepairable);
    const SettingsStore settings(std::make_shared<MemorySettingsBackend>());
    settings.WriteString("AVI", "Last", name);
    RepairLastRecording(settings);  // returns, rather than blocking in open()
}

}  // namespace
}  // namespace velarix
