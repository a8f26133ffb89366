// Settings in the Windows registry, the way the program has always kept them:
// HKEY_CURRENT_USER\Software\Orvelle\Quillet\<section>, one value per key,
// integers as REG_DWORD and strings as REG_SZ. Built on Windows only.
//
// Every access opens the section's key, creating any missing key on the way
// (values themselves only appear through writes), and closes it again, so
// nothing is held open or cached between calls.
//
// Names and strings are UTF-8 on our side and UTF-16 in the registry. Text
// that is not valid UTF-8, or that contains NUL (which the registry would cut
// short there, so that one name could alias another), cannot be stored
// faithfully: such a read gives nothing and such a write is dropped. Unlike the
// file backend, the registry ignores the case of section and key names. A value of the other
// registry type reads as nothing. An empty section addresses the application key itself; a section
// containing '\' addresses a nested key, as the registry path syntax dictates.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/SettingsBackend.h"

namespace velarix {

class RegistrySettingsBackend final : public ISettingsBackend {
public:
    // Software\Orvelle\Quillet under HKEY_CURRENT_USER.
    RegistrySettingsBackend();
    // Another key under HKEY_CURRENT_USER (UTF-8, '\'-separated), so a test
    // can work in a scratch key.
    explicit RegistrySettingsBackend(std::string baseKeyPath);

    std::optional<std::uint32_t> ReadInt(std::string_view section, std::string_view key) override;
    std::optional<std::string> ReadString(std::string_view section, std::string_view key) override;
    void WriteInt(std::string_view section, std::string_view key, std::uint32_t value) override;
    void WriteString(std::string_view section, std::string_view key,
                     std::string_view value) override;

private:
    std::string baseKeyPath_;
};

}  // namespace velarix
