// The text of the per-user settings file (the format is described in
// FileSettingsBackend.h): reading every value out of it, and writing one
// value into it while keeping every other line as it is.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace velarix::settings_format {

inline constexpr std::string_view kIntPrefix = "int:";
inline constexpr std::string_view kStrPrefix = "str:";

// The value text stored for a number or a string ("int:5", "str:\"a\\n\"").
std::string IntValueText(std::uint32_t value);
std::string StringValueText(std::string_view value);

// The value a value text stands for, or nothing when it is not a well-formed
// value of that type.
std::optional<std::uint32_t> ParseIntValue(std::string_view valueText);
std::optional<std::string> ParseStringValue(std::string_view valueText);

// The raw value text of every (section, key) a reader finds in the file, the
// last occurrence winning; names are decoded.
using SettingsEntries = std::map<std::pair<std::string, std::string>, std::string>;
SettingsEntries ParseEntries(std::string_view content);

// Whether a reader of the file finds `key` in `section` holding the value
// `valueText` stands for: the same number or the same string, however it is
// spelled ("int:02" is 2), never a value of the other type. Writing it would
// change nothing a reader sees.
bool HoldsValue(std::string_view content, std::string_view section, std::string_view key,
                std::string_view valueText);

// The file with `key` in `section` set to `valueText`; every line that is not
// about that key is carried over unchanged (a last line without a line end
// becomes a comment), and the result ends in a line end.
std::string UpdateContent(std::string_view content, std::string_view section, std::string_view key,
                          std::string_view valueText);

}  // namespace velarix::settings_format
