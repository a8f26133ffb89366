// Where settings live: the registry on Windows, a typed per-user file elsewhere,
// memory in tests. A backend keeps integers and strings apart, as the registry
// does: a value of the other type is "not there" for the reader. Every read
// sees the store as it is (a backend may keep what it parsed only while it can
// tell the store has not changed), and failures are silent (a failed read
// yields nothing, a failed write is dropped).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velarix {

class ISettingsBackend {
public:
    virtual ~ISettingsBackend() = default;

    // Nothing when the value is missing, of the other type, or unreadable.
    virtual std::optional<std::uint32_t> ReadInt(std::string_view section,
                                                 std::string_view key) = 0;
    virtual std::optional<std::string> ReadString(std::string_view section,
                                                  std::string_view key) = 0;
    // A write replaces a value of either type under the same key. A write of
    // the value already stored, of the same type, leaves the store untouched;
    // the backend decides that on the store as it is at that moment, never on
    // what an earlier read kept.
    virtual void WriteInt(std::string_view section, std::string_view key, std::uint32_t value) = 0;
    virtual void WriteString(std::string_view section, std::string_view key,
                             std::string_view value) = 0;
};

}  // namespace velarix
