// The per-user settings file: round trips, the text it writes, damaged and
// unreadable files, size limits, and writers running side by side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "settings/FileSettingsBackend.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;

class FileBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "velarix-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        path_ = (dir_ / "Quillet.conf").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string ReadText() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void WriteText(const std::string& text) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }

    fs::path dir_;
    std::string path_;
};

// What a backend reports for one key, as both types.
struct Reading {
    std::optional<std::uint32_t> number;
    std::optional<std::string> text;
    bool operator==(const Reading&) const = default;
};

Reading Probe(FileSettingsBackend& backend, const std::string& section, const std::string& key) {
    return {backend.ReadInt(section, key), backend.ReadString(section, key)};
}

using Key = std::pair<std::string, std::string>;

std::vector<Reading> ProbeAll(FileSettingsBackend& backend, const std::vector<Key>& keys) {
    std::vector<Reading> readings;
    for (const auto& [section, key] : keys) readings.push_back(Probe(backend, section, key));
    return readings;
}

// ---------------------------------------------------------------------------
// Values

TEST_F(FileBackendTest, MissingFileReadsNothingAndFirstWriteCreatesIt) {
    FileSettingsBackend backend((dir_ / "not" / "yet" / "Quillet.conf").string());
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), std::nullopt);
    EXPECT_EQ(backend.ReadString("General", "Zoom"), std::nullopt);
    EXPECT_FALSE(fs::exists(dir_ / "not"));
    backend.WriteInt("General", "Zoom", 2);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 2u);
    EXPECT_TRUE(fs::is_regular_file(backend.Path()));
}

TEST_F(FileBackendTest, IntegersAndStringsAreKeptApart) {
    FileSettingsBackend backend(path_);
    backend.WriteInt("General", "Zoom", 4294967295u);
    backend.WriteString("General", "Title", "42");
    EXPECT_EQ(Probe(backend, "General", "Zoom"), (Reading{4294967295u, std::nullopt}));
    EXPECT_EQ(Probe(backend, "General", "Title"), (Reading{std::nullopt, "42"}));
    backend.WriteString("General", "Zoom", "now text");
    EXPECT_EQ(Probe(backend, "General", "Zoom"), (Reading{std::nullopt, "now text"}));
}

TEST_F(FileBackendTest, UnusualStringsRoundTrip) {
    const std::vector<std::string> values = {
        "",
        "two\nlines\r\nand a tab\t",
        "\"quoted\" and \\backslash\\ and \\n not a newline",
        "key=value [Section] # not a comment ; nor this",
        std::string("nul\0inside\0", 11),
        "\x01\x1f\x7f control bytes",
        "Grüße, 漢字, 😀",
        "broken utf-8: \xff\xfe \xc3 \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82",
        "  surrounding blanks  ",
        "str:\"looks like a value\"",
    };
    FileSettingsBackend backend(path_);
    const auto key = [](std::size_t i) { return std::string("v").append(std::to_string(i)); };
    for (std::size_t i = 0; i < values.size(); ++i) {
        backend.WriteString("Strings", key(i), values[i]);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(backend.ReadString("Strings", key(i)), values[i]) << i;
    }
}

TEST_F(FileBackendTest, OddSectionAndKeyNamesDoNotBreakTheFile) {
    const std::vector<std::string> names = {
        "",      "a=b",        "[x]",      "]",         "%41",
        "#hash", ";semi",      " spaced ", "new\nline", std::string("n\0l", 3),
        "ü",     "MSVC-10000",
    };
    FileSettingsBackend backend(path_);
    backend.WriteInt("General", "Zoom", 1);
    std::uint32_t value = 100;
    for (const auto& section : names) {
        for (const auto& key : names) backend.WriteInt(section, key, value++);
    }
    value = 100;
    for (const auto& section : names) {
        for (const auto& key : names) {
            EXPECT_EQ(backend.ReadInt(section, key), value++) << section << " / " << key;
        }
    }
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 1u);
    EXPECT_EQ(backend.ReadInt("A", "Zoom"), std::nullopt);  // "%41" is not "A"
}

TEST_F(FileBackendTest, WritesProduceReadableText) {
    FileSettingsBackend backend(path_);
    backend.WriteInt("General", "Zoom", 3);
    backend.WriteString("Codecs", "MSVC-10000", "say \"hi\"\n");
    backend.WriteInt("General", "Compression", 1);
    backend.WriteInt("General", "Zoom", 2);
    const std::string text = ReadText();
    EXPECT_NE(text.find("[General]\nZoom=int:2\nCompression=int:1\n\n[Codecs]\n"
                        "MSVC-10000=str:\"say \\\"hi\\\"\\n\"\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.front(), '#');
}

TEST_F(FileBackendTest, EveryReadGoesToTheFile) {
    FileSettingsBackend backend(path_);
    backend.WriteInt("General", "Zoom", 3);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 3u);
    WriteText("[General]\nZoom=int:5\n");
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 5u);
    fs::remove(path_);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), std::nullopt);
}

TEST_F(FileBackendTest, HandEditedSpacingAndLineEndsAreAccepted) {
    WriteText("  [ General ]  \r\n Zoom = int: 5 \r\n\tTitle= str:\"a b\"  \r\n; note\r\n");
    FileSettingsBackend backend(path_);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 5u);
    EXPECT_EQ(backend.ReadString("General", "Title"), "a b");
}

TEST_F(FileBackendTest, RepeatedKeyReadsTheLastAndAWriteLeavesOne) {
    WriteText("[S]\nK=int:1\nK=int:2\n[T]\nK=int:7\n[S]\nK=int:3\n");
    FileSettingsBackend backend(path_);
    EXPECT_EQ(backend.ReadInt("S", "K"), 3u);
    backend.WriteInt("S", "K", 9);
    EXPECT_EQ(backend.ReadInt("S", "K"), 9u);
    EXPECT_EQ(backend.ReadInt("T", "K"), 7u);
    const std::string text = ReadText();
    EXPECT_EQ(text.find("K=int:1"), std::string::npos) << text;
    EXPECT_EQ(text.find("K=int:3"), std::string::npos) << text;
}

TEST(FileBackendPath, FollowsTheXdgConfigDirectory) {
    const auto saved = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto restore = [](const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    };
    const auto xdg = saved("XDG_CONFIG_HOME");
    const auto home = saved("HOME");

    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/elsewhere/config", 1);
    EXPECT_EQ(FileSettingsBackend::DefaultPath(), "/elsewhere/config/Orvelle/Quillet.conf");
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(FileSettingsBackend::DefaultPath(), "/home/someone/.config/Orvelle/Quillet.conf");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(FileSettingsBackend().Path(), "/home/someone/.config/Orvelle/Quillet.conf");

    restore("XDG_CONFIG_HOME", xdg);
    restore("HOME", home);
}

// ---------------------------------------------------------------------------
// Damage

TEST_F(FileBackendTest, BadValuesReadAsMissingNextToGoodOnes) {
    WriteText(
        "[General]\n"
        "Unterminated=str:\"abc\n"
        "BadEscape=str:\"a\\qb\"\n"
        "AfterQuote=str:\"a\" b\n"
        "Bare=str:abc\n"
        "TooBig=int:4294967296\n"
        "Negative=int:-1\n"
        "Empty=int:\n"
        "Untyped=5\n"
        "BadName%G1=int:1\n"
        "Largest=int:4294967295\n"
        "Good=str:\"fine\"\n");
    FileSettingsBackend backend(path_);
    for (const char* key : {"Unterminated", "BadEscape", "AfterQuote", "Bare", "TooBig", "Negative",
                            "Empty", "Untyped", "BadName%G1", "BadNameG1"}) {
        EXPECT_EQ(Probe(backend, "General", key), Reading{}) << key;
    }
    EXPECT_EQ(backend.ReadInt("General", "Largest"), 4294967295u);
    EXPECT_EQ(backend.ReadString("General", "Good"), "fine");
}

TEST_F(FileBackendTest, JunkAndBinaryBytesDoNotHideGoodValues) {
    std::string junk;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 4096; ++i) {
        seed = seed * 1103515245u + 12345u;
        const auto byte = static_cast<char>(seed >> 24);
        // No line may start with '[' here: that would open an unnamed section.
        junk.push_back(byte == '[' ? '\0' : byte);
        if (byte == '\n') junk.push_back('\0');
    }
    WriteText("garbage before any section\n" + junk + "\n[General]\nZoom=int:3\n" +
              "no equals sign here\n\x01\x02\x03\n" + "Title=str:\"kept\"\n" + junk + "\n");
    FileSettingsBackend backend(path_);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 3u);
    EXPECT_EQ(backend.ReadString("General", "Title"), "kept");
    backend.WriteInt("General", "Compression", 1);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 3u);
    EXPECT_EQ(backend.ReadString("General", "Title"), "kept");
    EXPECT_EQ(backend.ReadInt("General", "Compression"), 1u);
    EXPECT_NE(ReadText().find(junk), std::string::npos);  // left as it was
}

TEST_F(FileBackendTest, BrokenHeaderDoesNotLendItsValuesToTheSectionAbove) {
    WriteText("[General]\nZoom=int:3\n[Gene\nColorMode=int:2\n[Codecs]\nX=int:1\n");
    FileSettingsBackend backend(path_);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 3u);
    EXPECT_EQ(backend.ReadInt("General", "ColorMode"), std::nullopt);
    EXPECT_EQ(backend.ReadInt("Codecs", "X"), 1u);
    backend.WriteInt("General", "ColorMode", 5);
    EXPECT_EQ(backend.ReadInt("General", "ColorMode"), 5u);
    EXPECT_EQ(backend.ReadInt("Codecs", "X"), 1u);
}

TEST_F(FileBackendTest, FileCutShortAnywhereNeverReadsAWrongValue) {
    const std::vector<Key> keys = {{"General", "Compression"},
                                   {"General", "Title"},
                                   {"General", "Zoom"},
                                   {"Codecs", "MSVC-10000"},
                                   {"Codecs", "Extra"}};
    {
        FileSettingsBackend backend(path_);
        backend.WriteInt("General", "Compression", 12345);
        backend.WriteString("General", "Title", "multi\nline \"text\"");
        backend.WriteInt("General", "Zoom", 2);
        backend.WriteString("Codecs", "MSVC-10000", "00FF");
    }
    FileSettingsBackend backend(path_);
    const std::vector<Reading> whole = ProbeAll(backend, keys);
    const std::string full = ReadText();
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        WriteText(full.substr(0, cut));
        const std::vector<Reading> before = ProbeAll(backend, keys);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (before[i] != Reading{}) {
                EXPECT_EQ(before[i], whole[i]) << "cut at " << cut;
            }
        }
        // A write keeps every value that could still be read, and nothing
        // cut short becomes readable.
        backend.WriteInt("Codecs", "Extra", 7);
        const std::vector<Reading> after = ProbeAll(backend, keys);
        for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
            EXPECT_EQ(after[i], before[i]) << "cut at " << cut << ", key " << keys[i].second;
        }
        EXPECT_EQ(after.back().number, 7u);
    }
    WriteText("[General]\nZoom=int:12345");
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), std::nullopt);
}

TEST_F(FileBackendTest, UnreadableFileReadsNothingAndIsNotReplaced) {
    fs::create_directory(path_);  // unreadable as a file, whoever runs the test
    fs::create_directory(fs::path(path_) / "inside");
    FileSettingsBackend backend(path_);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), std::nullopt);
    backend.WriteInt("General", "Zoom", 3);
    EXPECT_TRUE(fs::is_directory(fs::path(path_) / "inside"));
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), std::nullopt);
}

TEST_F(FileBackendTest, OversizeFileReadsNothingAndIsSetAsideOnWrite) {
    std::string big = "[General]\nZoom=int:3\n";
    while (big.size() <= FileSettingsBackend::kMaxFileSize) big += "# padding padding padding\n";
    WriteText(big);
    FileSettingsBackend backend(path_);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), std::nullopt);
    EXPECT_EQ(ReadText(), big);  // reading changes nothing

    backend.WriteInt("General", "Compression", 1);
    EXPECT_EQ(backend.ReadInt("General", "Compression"), 1u);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), std::nullopt);
    EXPECT_EQ(fs::file_size(path_ + ".oversize"), big.size());
}

TEST_F(FileBackendTest, WriteThatWouldOutgrowTheLimitIsDropped) {
    FileSettingsBackend backend(path_);
    backend.WriteInt("General", "Zoom", 3);
    backend.WriteString("General", "Huge", std::string(FileSettingsBackend::kMaxFileSize, 'x'));
    EXPECT_EQ(backend.ReadString("General", "Huge"), std::nullopt);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 3u);
    EXPECT_LE(fs::file_size(path_), FileSettingsBackend::kMaxFileSize);
}

// ---------------------------------------------------------------------------
// Several writers

TEST_F(FileBackendTest, WritesLeaveNoTemporaryFilesBehind) {
    FileSettingsBackend backend(path_);
    for (std::uint32_t i = 0; i < 20; ++i) backend.WriteInt("General", "Zoom", i);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"Quillet.conf", "Quillet.conf.lock"}));
}

constexpr int kWriters = 6;
constexpr int kKeysPerWriter = 25;

std::string WriterKey(int writer, int index) {
    return std::string("w")
        .append(std::to_string(writer))
        .append("-")
        .append(std::to_string(index));
}

std::uint32_t WriterValue(int writer, int index) {
    return static_cast<std::uint32_t>(writer * 1000 + index);
}

void WriteAllKeysOf(const std::string& path, int writer) {
    FileSettingsBackend backend(path);  // each writer has its own object
    for (int i = 0; i < kKeysPerWriter; ++i) {
        backend.WriteInt(i % 2 ? "Shared" : "Own" + std::to_string(writer), WriterKey(writer, i),
                         WriterValue(writer, i));
    }
}

void ExpectAllKeysWritten(const std::string& path) {
    FileSettingsBackend backend(path);
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int i = 0; i < kKeysPerWriter; ++i) {
            EXPECT_EQ(backend.ReadInt(i % 2 ? "Shared" : "Own" + std::to_string(writer),
                                      WriterKey(writer, i)),
                      WriterValue(writer, i))
                << WriterKey(writer, i);
        }
    }
}

TEST_F(FileBackendTest, ConcurrentThreadsLoseNoWrites) {
    std::vector<std::thread> threads;
    for (int writer = 0; writer < kWriters; ++writer) {
        threads.emplace_back(WriteAllKeysOf, path_, writer);
    }
    for (auto& thread : threads) thread.join();
    ExpectAllKeysWritten(path_);
}

TEST_F(FileBackendTest, ConcurrentProcessesLoseNoWrites) {
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            WriteAllKeysOf(path_, writer);
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ExpectAllKeysWritten(path_);
}

TEST_F(FileBackendTest, ReadersNeverSeeAHalfWrittenFile) {
    FileSettingsBackend(path_).WriteString("General", "Anchor", "present");
    std::atomic<int> running = kWriters;
    std::vector<std::thread> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        writers.emplace_back([&, writer] {
            WriteAllKeysOf(path_, writer);
            --running;
        });
    }
    FileSettingsBackend reader(path_);
    int reads = 0;
    int misses = 0;
    do {
        ++reads;
        if (reader.ReadString("General", "Anchor") != "present") ++misses;
    } while (running > 0);
    for (auto& thread : writers) thread.join();
    EXPECT_EQ(misses, 0) << "out of " << reads << " reads";
    ExpectAllKeysWritten(path_);
}

// ---------------------------------------------------------------------------
// Reusing what was parsed, links and set-aside copies

// Sets the file's modification time, `seconds` before now (plus `nanoseconds`).
void SetModified(const std::string& path, std::int64_t secondsAgo, long nanoseconds = 0) {
    struct timespec now {};
    ASSERT_EQ(::clock_gettime(CLOCK_REALTIME, &now), 0);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {now.tv_sec - secondsAgo, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct timespec Modified(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mtim;
}

void Restore(const std::string& path, const struct timespec& mtime) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, mtime};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(FileBackendTest, ReadsSeeEveryChangeThatLeavesATrace) {
    struct Case {
        const char* what;
        std::function<void()> change;
        std::uint32_t expected;
    };
    const auto rewrite = [this](const char* text, bool keepTime) {
        const struct timespec before = Modified(path_);
        WriteText(text);  // in place: the same inode
        if (keepTime) Restore(path_, before);
    };
    const Case cases[] = {
        {"same size, new time",
         [&] {
             rewrite("[General]\nZoom=int:7\n", false);
             SetModified(path_, 1800);
         },
         7},
        {"same size, time one nanosecond on",
         [&] {
             const struct timespec before = Modified(path_);
             rewrite("[General]\nZoom=int:7\n", false);
             Restore(path_, {before.tv_sec, before.tv_nsec + 1});
         },
         7},
        {"new size, same time", [&] { rewrite("[General]\nZoom=int:70\n", true); }, 70},
        {"another process saves through a new file of the same size and time",
         [&] {
             const struct timespec before = Modified(path_);
             const pid_t pid = ::fork();
             if (pid == 0) {
                 FileSettingsBackend(path_).WriteInt("General", "Zoom", 7);
                 ::_exit(0);
             }
             ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
             Restore(path_, before);
         },
         7},
        // Nothing tells the versions apart: the parsed values are kept (which
        // shows that they are), as long as the file had stood still when read.
        {"same size and time, in place", [&] { rewrite("[General]\nZoom=int:7\n", true); }, 3},
    };
    for (const Case& c : cases) {
        WriteText("[General]\nZoom=int:3\n");
        SetModified(path_, 3600);
        FileSettingsBackend backend(path_);
        ASSERT_EQ(backend.ReadInt("General", "Zoom"), 3u) << c.what;
        c.change();
        EXPECT_EQ(backend.ReadInt("General", "Zoom"), c.expected) << c.what;
    }
}

TEST_F(FileBackendTest, AFileChangedJustNowIsReadAgainEvenWhenNothingTellsTheVersionsApart) {
    WriteText("[General]\nZoom=int:3\n");
    FileSettingsBackend backend(path_);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 3u);
    const struct timespec before = Modified(path_);
    WriteText("[General]\nZoom=int:7\n");  // within the same tick of the file system's clock
    Restore(path_, before);
    EXPECT_EQ(backend.ReadInt("General", "Zoom"), 7u);
}

TEST_F(FileBackendTest, ASymlinkedFileStaysALinkAndItsTargetIsWritten) {
    fs::create_directories(dir_ / "dotfiles" / "deeper");
    const fs::path target = dir_ / "dotfiles" / "Quillet.conf";
    struct Case {
        const char* what;
        std::vector<std::pair<fs::path, fs::path>> links;  // link -> what it holds
        bool targetExists;
    };
    const Case cases[] = {
        {"relative link", {{path_, "dotfiles/Quillet.conf"}}, true},
        {"absolute link", {{path_, target}}, true},
        {"chain of links",
         {{path_, "dotfiles/deeper/hop"}, {dir_ / "dotfiles/deeper/hop", "../Quillet.conf"}},
         true},
        {"link to a file not there yet", {{path_, "dotfiles/Quillet.conf"}}, false},
    };
    for (const Case& c : cases) {
        fs::remove(path_);
        fs::remove(dir_ / "dotfiles/deeper/hop");
        fs::remove(target);
        if (c.targetExists) std::ofstream(target) << "# mine\n[General]\nZoom=int:3\n";
        for (const auto& [link, to] : c.links) fs::create_symlink(to, link);
        FileSettingsBackend backend(path_);
        backend.WriteInt("General", "Compression", 2);
        EXPECT_TRUE(fs::is_symlink(path_)) << c.what;
        EXPECT_EQ(backend.ReadInt("General", "Compression"), 2u) << c.what;
        std::ifstream in(target);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_NE(text.find("Compression=int:2"), std::string::npos) << c.what;
        EXPECT_EQ(text.find("# mine") != std::string::npos, c.targetExists) << c.what;
        // Nothing is left beside the target but its lock.
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_ / "dotfiles"))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"Quillet.conf", "Quillet.conf.lock", "deeper"}))
            << c.what;
    }
    // A link that leads back to itself is left alone.
    fs::remove(path_);
    fs::create_symlink("Quillet.conf", path_);
    FileSettingsBackend(path_).WriteInt("General", "Compression", 2);
    EXPECT_TRUE(fs::is_symlink(path_));
}

// Two links to one file are one settings file: writers through either link
// share one lock, and none undoes another's update.
TEST_F(FileBackendTest, WritersThroughTwoLinksToOneFileLoseNoWrites) {
    constexpr int kValues = 300;
    fs::create_directories(dir_ / "dotfiles");
    const std::string links[] = {path_, (dir_ / "Other.conf").string()};
    for (const auto& link : links) fs::create_symlink(dir_ / "dotfiles" / "Quillet.conf", link);
    pid_t children[2] = {};
    for (int writer = 0; writer < 2; ++writer) {
        children[writer] = ::fork();
        ASSERT_GE(children[writer], 0);
        if (children[writer] == 0) {
            // Each value is read back at once; the exit status counts the misses.
            FileSettingsBackend backend(links[writer]);
            int misses = 0;
            for (int i = 0; i < kValues; ++i) {
                backend.WriteInt("General", WriterKey(writer, i), WriterValue(writer, i));
                misses +=
                    backend.ReadInt("General", WriterKey(writer, i)) != WriterValue(writer, i);
            }
            ::_exit(std::min(misses, 255));
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "values not read back at once";
    }
    FileSettingsBackend reader(path_);
    int wrong = 0;
    for (int i = 0; i < 2 * kValues; ++i) {
        wrong += reader.ReadInt("General", WriterKey(i % 2, i / 2)) != WriterValue(i % 2, i / 2);
    }
    EXPECT_EQ(wrong, 0) << "values wrong at the end";
}

TEST_F(FileBackendTest, EveryOversizeFileIsKeptUnderItsOwnName) {
    FileSettingsBackend backend(path_);
    std::vector<std::string> bigs;
    for (char fill : {'a', 'b', 'c'}) {
        std::string big = "[General]\nZoom=int:3\n";
        big.append(FileSettingsBackend::kMaxFileSize, fill);
        big += "\n";
        WriteText(big);
        bigs.push_back(big);
        backend.WriteInt("General", "Compression", 1);
        EXPECT_EQ(backend.ReadInt("General", "Compression"), 1u);
    }
    const std::string names[] = {".oversize", ".oversize.1", ".oversize.2"};
    for (std::size_t i = 0; i < bigs.size(); ++i) {
        std::ifstream in(path_ + names[i], std::ios::binary);
        EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == bigs[i]) << names[i];
    }
}

}  // namespace
}  // namespace velarix
