// SettingsStore over the memory and file backends: defaults, type separation,
// the "General" accessors and the absence of any caching.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#ifndef _WIN32
#include "settings/FileSettingsBackend.h"
#endif
#include "settings/MemorySettingsBackend.h"
#include "settings/SettingsStore.h"

namespace velarix {
namespace {

TEST(SettingsStoreWithoutBackend, ReadsDefaultsAndDropsWrites) {
    const SettingsStore store;
    EXPECT_FALSE(store.HasBackend());
    store.WriteInt("General", "Zoom", 7);
    store.WriteString("Codecs", "Name", "text");
    store.SetCompression(3);
    EXPECT_EQ(store.GetInt("General", "Zoom", 2), 2u);
    EXPECT_EQ(store.GetString("Codecs", "Name", "fallback"), "fallback");
    EXPECT_EQ(store.GetString("Codecs", "Name"), "");
    EXPECT_EQ(store.GetCompression(1), 1);
}

TEST(SettingsStoreDefaults, FreshBackendGivesEveryDefault) {
    const SettingsStore store(std::make_shared<MemorySettingsBackend>());
    EXPECT_TRUE(store.HasBackend());
    EXPECT_EQ(store.GetInt("General", "Anything", 42), 42u);
    EXPECT_EQ(store.GetString("General", "Anything"), "");
    EXPECT_EQ(store.GetZoom(2), 2);
    EXPECT_EQ(store.GetColorMode(0), 0);
}

TEST(SettingsStoreValues, WrittenValuesReadBack) {
    const SettingsStore store(std::make_shared<MemorySettingsBackend>());
    store.WriteInt("Window", "Left", 120);
    store.WriteString("Codecs", "MSVC-10000", "00FF");
    store.WriteInt("Window", "Left", 130);
    EXPECT_EQ(store.GetInt("Window", "Left", 0), 130u);
    EXPECT_EQ(store.GetString("Codecs", "MSVC-10000"), "00FF");
    // The same key in another section is another value.
    EXPECT_EQ(store.GetInt("Other", "Left", 5), 5u);
}

TEST(SettingsStoreValues, NegativeIntegersSurviveTheUnsignedStore) {
    const SettingsStore store(std::make_shared<MemorySettingsBackend>());
    EXPECT_EQ(store.GetInt("General", "Zoom", -1), 0xFFFFFFFFu);
    EXPECT_EQ(store.GetZoom(-1), -1);
    store.SetZoom(-3);
    EXPECT_EQ(store.GetZoom(0), -3);
    EXPECT_EQ(store.GetInt("General", "Zoom", 0), static_cast<std::uint32_t>(-3));
}

TEST(SettingsStoreTypes, WrongTypeReadsAsDefault) {
    const auto backend = std::make_shared<MemorySettingsBackend>();
    const SettingsStore store(backend);
    store.WriteString("General", "Zoom", "2");
    store.WriteInt("General", "Title", 9);
    EXPECT_EQ(store.GetInt("General", "Zoom", 1), 1u);
    EXPECT_EQ(store.GetString("General", "Title", "none"), "none");
    // A write of the other type replaces the value rather than adding one.
    store.WriteInt("General", "Zoom", 4);
    EXPECT_EQ(store.GetInt("General", "Zoom", 1), 4u);
    EXPECT_EQ(store.GetString("General", "Zoom", "gone"), "gone");
    EXPECT_EQ(backend->Size(), 2u);
}

TEST(SettingsStoreGeneral, AccessorsUseTheGeneralSectionAndTheirOwnKeys) {
    const auto backend = std::make_shared<MemorySettingsBackend>();
    const SettingsStore store(backend);
    store.SetCompression(1);
    store.SetInterlaced(2);
    store.SetColorMode(3);
    store.SetZoom(4);
    EXPECT_EQ(backend->ReadInt("General", "Compression"), 1u);
    EXPECT_EQ(backend->ReadInt("General", "Interlaced"), 2u);
    EXPECT_EQ(backend->ReadInt("General", "ColorMode"), 3u);
    EXPECT_EQ(backend->ReadInt("General", "Zoom"), 4u);
    EXPECT_EQ(backend->Size(), 4u);

    backend->WriteInt("General", "Compression", 11);
    backend->WriteInt("General", "Interlaced", 12);
    backend->WriteInt("General", "ColorMode", 13);
    backend->WriteInt("General", "Zoom", 14);
    EXPECT_EQ(store.GetCompression(0), 11);
    EXPECT_EQ(store.GetInterlaced(0), 12);
    EXPECT_EQ(store.GetColorMode(0), 13);
    EXPECT_EQ(store.GetZoom(0), 14);
}

TEST(SettingsStoreNoCache, ChangesBehindTheStoreAreSeenAtTheNextRead) {
    const auto backend = std::make_shared<MemorySettingsBackend>();
    const SettingsStore store(backend);
    EXPECT_EQ(store.GetZoom(1), 1);
    backend->WriteInt("General", "Zoom", 2);
    EXPECT_EQ(store.GetZoom(1), 2);
    backend->WriteString("General", "Zoom", "no longer a number");
    EXPECT_EQ(store.GetZoom(1), 1);
}

// The per-user settings file; Windows keeps the settings in the registry.
#ifndef _WIN32
TEST(SettingsStoreNoCache, TwoStoresOnOneFileSeeEachOthersWrites) {
    std::string dir = (std::filesystem::temp_directory_path() / "velarix-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/Quillet.conf";
    const SettingsStore first(std::make_shared<FileSettingsBackend>(path));
    const SettingsStore second(std::make_shared<FileSettingsBackend>(path));

    first.SetZoom(2);
    EXPECT_EQ(second.GetZoom(1), 2);
    second.SetZoom(3);
    second.WriteString("Codecs", "MSVC-10000", "0A0B");
    EXPECT_EQ(first.GetZoom(1), 3);
    EXPECT_EQ(first.GetString("Codecs", "MSVC-10000"), "0A0B");
    std::filesystem::remove_all(dir);
}

// Writing what is already stored must leave the file as it is: same bytes, same
// inode (no rename), same timestamp, no temporary file. A value of the other
// type or a different value is still written.
TEST(SettingsStoreUnchangedWrites, LeaveTheFileAlone) {
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "velarix-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/Quillet.conf";
    const SettingsStore store(std::make_shared<FileSettingsBackend>(path));
    store.WriteInt("General", "Zoom", 2);
    store.WriteString("Codecs", "Name", "abc");
    store.WriteInt("General", "Negative", -5);

    struct Case {
        const char* what;
        std::function<void()> write;
        bool changes;
    };
    const Case cases[] = {
        {"same int", [&] { store.WriteInt("General", "Zoom", 2); }, false},
        {"same negative int", [&] { store.WriteInt("General", "Negative", -5); }, false},
        {"same string", [&] { store.WriteString("Codecs", "Name", "abc"); }, false},
        {"same accessor value", [&] { store.SetZoom(2); }, false},
        {"other int", [&] { store.WriteInt("General", "Zoom", 3); }, true},
        {"other string", [&] { store.WriteString("Codecs", "Name", "abd"); }, true},
        {"string over int", [&] { store.WriteString("General", "Zoom", "3"); }, true},
        {"int over string", [&] { store.WriteInt("Codecs", "Name", 0); }, true},
        {"empty string for a missing key", [&] { store.WriteString("Codecs", "New", ""); }, true},
    };
    for (const auto& c : cases) {
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        // Backdate the file so that a rewrite within the same clock tick shows.
        const struct timespec old[2] = {{1, 0}, {1, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
        c.write();
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        std::ifstream again(path, std::ios::binary);
        const std::string now{std::istreambuf_iterator<char>(again), {}};
        const bool changed =
            now != bytes || after.st_ino != before.st_ino || after.st_mtim.tv_sec != 1;
        EXPECT_EQ(changed, c.changes) << c.what;
    }
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++entries;
    EXPECT_LE(entries, 2u);  // the file and its lock file, nothing left over
    fs::remove_all(dir);
}

// An edit in place that keeps the size and the time (cp -p, rsync --inplace,
// touch -r, a file system with a coarse clock) leaves the values the backend
// kept from a read stale. A write of a value the file no longer holds must
// still reach the file.
TEST(SettingsStoreUnchangedWrites, AreJudgedByTheFileNotByWhatWasReadBefore) {
    std::string dir = (std::filesystem::temp_directory_path() / "velarix-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/Quillet.conf";
    const auto put = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        const struct timespec old[2] = {{1000, 0}, {1000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    };
    for (const bool number : {true, false}) {
        const std::string before = number ? "[A]\nK=int:1\n" : "[A]\nK=str:\"1\"\n";
        put(before);
        const SettingsStore store(std::make_shared<FileSettingsBackend>(path));
        // Read once, so that the backend keeps what it parsed.
        EXPECT_EQ(number ? std::to_string(store.GetInt("A", "K", 0)) : store.GetString("A", "K"),
                  "1");
        put(number ? "[A]\nK=int:2\n" : "[A]\nK=str:\"2\"\n");
        if (number) {
            store.WriteInt("A", "K", 1);
        } else {
            store.WriteString("A", "K", "1");
        }
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
    }
    std::filesystem::remove_all(dir);
}

#endif  // _WIN32

}  // namespace
}  // namespace velarix
