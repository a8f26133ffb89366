// The one access layer for persistent settings: integers and strings addressed
// by section and key, read at the moment of use with an explicit default and
// written straight through. Nothing is cached here. A write of the value
// already stored (same type) changes nothing in the backend, which decides
// that itself.
//
// A store without a backend stands for "no application object": every read
// returns its default and every write is dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "settings/SettingsBackend.h"

namespace velarix {

// Company and application keys: HKCU\Software\Orvelle\Quillet\<section>.
inline constexpr std::string_view kCompanyKey = "Orvelle";
inline constexpr std::string_view kApplicationKey = "Quillet";

inline constexpr std::string_view kSectionGeneral = "General";
inline constexpr std::string_view kKeyCompression = "Compression";
inline constexpr std::string_view kKeyInterlaced = "Interlaced";
inline constexpr std::string_view kKeyColorMode = "ColorMode";
inline constexpr std::string_view kKeyZoom = "Zoom";

class SettingsStore {
public:
    SettingsStore() = default;
    explicit SettingsStore(std::shared_ptr<ISettingsBackend> backend);

    bool HasBackend() const { return backend_ != nullptr; }

    // The stored value as an unsigned integer, or `def` (a wrong-typed value
    // counts as missing).
    std::uint32_t GetInt(std::string_view section, std::string_view key, int def) const;
    void WriteInt(std::string_view section, std::string_view key, int value) const;
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view def = {}) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value) const;

    // Section "General" accessors; the caller passes the default or the value.
    int GetCompression(int def) const;
    void SetCompression(int value) const;
    int GetInterlaced(int def) const;
    void SetInterlaced(int value) const;
    int GetColorMode(int def) const;
    void SetColorMode(int value) const;
    int GetZoom(int def) const;
    void SetZoom(int value) const;

private:
    std::shared_ptr<ISettingsBackend> backend_;
};

}  // namespace velarix
