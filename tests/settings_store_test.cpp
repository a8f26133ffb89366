// SettingsStore over the memory and file backends: defaults, type separation,
// the "General" accessors and the absence of any caching.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "settings/FileSettingsBackend.h"
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

}  // namespace
}  // namespace velarix
