// Settings kept in a map for the life of the object: what tests hand to a
// SettingsStore when nothing should touch the disk or the registry. Integers
// and strings stay apart exactly as in the persistent backends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "settings/SettingsBackend.h"

namespace velarix {

class MemorySettingsBackend final : public ISettingsBackend {
public:
    std::optional<std::uint32_t> ReadInt(std::string_view section, std::string_view key) override;
    std::optional<std::string> ReadString(std::string_view section, std::string_view key) override;
    void WriteInt(std::string_view section, std::string_view key, std::uint32_t value) override;
    void WriteString(std::string_view section, std::string_view key,
                     std::string_view value) override;

    // Number of stored values over all sections, so a test can see that
    // nothing was written behind its back.
    std::size_t Size() const;

private:
    using Value = std::variant<std::uint32_t, std::string>;
    using Section = std::map<std::string, Value, std::less<>>;

    const Value* Find(std::string_view section, std::string_view key) const;
    void Store(std::string_view section, std::string_view key, Value value);

    // Tests drive one backend from several threads; the lock keeps the maps whole.
    mutable std::mutex mutex_;
    std::map<std::string, Section, std::less<>> sections_;
};

}  // namespace velarix
