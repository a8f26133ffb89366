// The registry backend against a real registry, under a scratch key of
// HKEY_CURRENT_USER that each test removes again: the program's keys and
// defaults, the registry types behind them, values of the wrong type, text
// the registry cannot hold, and two writers at once.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "settings/RegistrySettingsBackend.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

namespace velarix {
namespace {

std::wstring Wide(std::string_view text) {
    return std::wstring(text.begin(), text.end());
}

class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        base_ = "Software\\Velarix\\Tests\\" + std::to_string(::GetCurrentProcessId()) + "-" +
                info->name();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, Wide(base_).c_str());
        backend_ = std::make_shared<RegistrySettingsBackend>(base_);
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, Wide(base_).c_str());
        HKEY gone = nullptr;
        EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(base_).c_str(), 0, KEY_READ, &gone),
                  ERROR_FILE_NOT_FOUND);
        if (gone != nullptr) ::RegCloseKey(gone);
    }

    std::wstring SectionPath(std::string_view section) const {
        return Wide(base_) + L"\\" + Wide(section);
    }
    // The registry type of a value, or nothing when there is none.
    std::optional<DWORD> TypeOf(std::string_view section, const std::wstring& name) const {
        DWORD type = 0;
        if (::RegGetValueW(HKEY_CURRENT_USER, SectionPath(section).c_str(), name.c_str(),
                           RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return type;
    }
    // Stores raw bytes of any type, as another program could.
    void SetRaw(std::string_view section, std::string_view name, DWORD type, const void* data,
                DWORD size) const {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, SectionPath(section).c_str(),
                                    Wide(name).c_str(), type, data, size),
                  ERROR_SUCCESS);
    }

    std::string base_;
    std::shared_ptr<RegistrySettingsBackend> backend_;
};

TEST_F(RegistrySettings, EveryIntegerKeyReadsItsDefaultAndRoundTripsAsDword) {
    const SettingsStore store(backend_);
    for (const IntSetting& s : kIntSettings) {
        SCOPED_TRACE(std::string(s.section) + "\\" + std::string(s.key));
        EXPECT_EQ(Read(store, s), static_cast<std::uint32_t>(s.def));
        // Reading writes no value.
        EXPECT_FALSE(TypeOf(s.section, Wide(s.key)));
        Write(store, s, s.def + 40000);
        EXPECT_EQ(Read(store, s), static_cast<std::uint32_t>(s.def + 40000));
        EXPECT_EQ(TypeOf(s.section, Wide(s.key)), DWORD{REG_DWORD});
    }
    store.SetZoom(-2);
    EXPECT_EQ(store.GetZoom(1), -2);
    EXPECT_EQ(backend_->ReadInt("General", "Zoom"), 0xFFFFFFFEu);
}

TEST_F(RegistrySettings, StringsRoundTripAsTerminatedRegSz) {
    const SettingsStore store(backend_);
    const std::string screenKey = std::string(setting::kWindowPositionPrefix) + "\\\\.\\DISPLAY1";
    const struct {
        std::string_view section;
        std::string key;
        std::string value;
    } cases[] = {
        {"Screenshot", "Path", "C:\\Users\\J\xC3\xB6rg\\Bilder \xE6\x88\xAA\xE5\x9B\xBE"},
        {"AVI", "MSVC-10000", "007F80FF"},
        {"AVI", "Last", std::string(5000, 'x')},
        {"View", screenKey, "-12,480"},
        {"Screenshot", "Prefix", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(store.GetString(c.section, c.key, "none"), "none");
        store.WriteString(c.section, c.key, c.value);
        EXPECT_EQ(store.GetString(c.section, c.key, "none"), c.value);
        EXPECT_EQ(TypeOf(c.section, Wide(c.key)), DWORD{REG_SZ});
    }
    // The stored bytes end in one terminator, as other readers expect.
    HKEY avi = nullptr;
    ASSERT_EQ(
        ::RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath("AVI").c_str(), 0, KEY_QUERY_VALUE, &avi),
        ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(::RegQueryValueExW(avi, L"MSVC-10000", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    ::RegCloseKey(avi);
    EXPECT_EQ(size, 9 * sizeof(wchar_t));
    // Section and key names are not case-sensitive in the registry.
    EXPECT_EQ(store.GetString("avi", "msvc-10000"), "007F80FF");
}

TEST_F(RegistrySettings, ValuesOfAnotherTypeOrShapeReadAsNothing) {
    const DWORD dword = 7;
    const std::uint64_t qword = 7;
    const wchar_t text[] = L"7";
    const wchar_t expand[] = L"%TEMP%";
    const WORD shortWord = 7;
    SetRaw("General", "Zoom", REG_SZ, text, sizeof(text));
    SetRaw("General", "Compression", REG_BINARY, &dword, sizeof(dword));
    SetRaw("General", "Interlaced", REG_QWORD, &qword, sizeof(qword));
    SetRaw("General", "ColorMode", REG_DWORD, &shortWord, sizeof(shortWord));
    SetRaw("AVI", "Codec", REG_DWORD, &dword, sizeof(dword));
    SetRaw("AVI", "Path", REG_EXPAND_SZ, expand, sizeof(expand));
    SetRaw("AVI", "Last", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));

    const SettingsStore store(backend_);
    EXPECT_EQ(store.GetZoom(1), 1);
    EXPECT_EQ(store.GetCompression(1), 1);
    EXPECT_EQ(store.GetInterlaced(2), 2);
    EXPECT_EQ(store.GetColorMode(0), 0);
    EXPECT_EQ(Read(store, setting::kAviCodec), "");
    EXPECT_EQ(Read(store, setting::kAviPath), "");
    EXPECT_EQ(Read(store, setting::kAviLast), "");
    // A write of the right type replaces the stray value.
    store.SetZoom(2);
    Write(store, setting::kAviCodec, "MSVC-10000");
    EXPECT_EQ(store.GetZoom(1), 2);
    EXPECT_EQ(Read(store, setting::kAviCodec), "MSVC-10000");
    EXPECT_EQ(TypeOf("AVI", L"Codec"), DWORD{REG_SZ});
}

TEST_F(RegistrySettings, RegSzWithoutTerminatorOrWithAnOddSizeKeepsItsText) {
    const wchar_t text[] = {L'a', L'b', L'c'};
    SetRaw("AVI", "Path", REG_SZ, text, sizeof(text));
    SetRaw("AVI", "Last", REG_SZ, text, sizeof(text) - 1);
    EXPECT_EQ(backend_->ReadString("AVI", "Path"), "abc");
    EXPECT_EQ(backend_->ReadString("AVI", "Last"), "ab");
}

TEST_F(RegistrySettings, TextTheRegistryCannotHoldIsNeitherReadNorWritten) {
    backend_->WriteString("AVI", "Path", "C:\\\xFF");
    backend_->WriteString("AVI", std::string("Pa\0th", 5), "x");
    backend_->WriteInt("AVI", "\xC3", 1);
    EXPECT_FALSE(TypeOf("AVI", L"Path"));
    EXPECT_FALSE(TypeOf("AVI", L"Pa"));
    EXPECT_EQ(backend_->ReadString("AVI", std::string("Pa\0th", 5)), std::nullopt);
}

TEST_F(RegistrySettings, TwoWritersAtOnceLoseNoValue) {
    constexpr int kKeys = 200;
    const auto writer = [this](char tag) {
        RegistrySettingsBackend own(base_);
        for (int i = 0; i < kKeys; ++i) {
            const std::string key = std::string(1, tag) + std::to_string(i);
            own.WriteInt("Events", key, static_cast<std::uint32_t>(i));
            own.WriteString("Events", key + "s", key);
        }
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
    for (const char tag : {'a', 'b'}) {
        for (int i = 0; i < kKeys; ++i) {
            const std::string key = std::string(1, tag) + std::to_string(i);
            ASSERT_EQ(backend_->ReadInt("Events", key), static_cast<std::uint32_t>(i)) << key;
            ASSERT_EQ(backend_->ReadString("Events", key + "s"), key);
        }
    }
}

}  // namespace
}  // namespace velarix
