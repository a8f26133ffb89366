#include "setup/SetupText.h"

#include <climits>
#include <filesystem>
#include <system_error>

namespace velarix {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsTrailingSeparator(char c, PathStyle style) {
    return style == PathStyle::Windows ? c == '\\' : c == '/';
}

bool IsRoot(std::string_view text, PathStyle style) {
    return style == PathStyle::Windows ? text.size() == 3 : text == "/";
}

// Names longer than this do not fit the platform's path buffers.
constexpr std::size_t kMaxFolderBytes = 260;

}  // namespace

void NormalizeFolder(std::string& text, PathStyle style, const PathExistsFn& exists,
                     const CurrentDirFn& currentDir) {
    std::size_t first = 0;
    while (first < text.size() && IsSpace(text[first])) ++first;
    std::size_t last = text.size();
    while (last > first && IsSpace(text[last - 1])) --last;
    text = text.substr(first, last - first);

    if (!text.empty() && IsTrailingSeparator(text.back(), style) && !IsRoot(text, style))
        text.pop_back();

    if (IsRoot(text, style)) return;
    if (!text.empty() && exists && exists(text)) return;

    if (!currentDir) return;
    const std::optional<std::string> cwd = currentDir();
    if (!cwd || cwd->empty() || cwd->size() >= kMaxFolderBytes) return;
    text = *cwd;
}

void NormalizeFolder(std::string& text) {
    NormalizeFolder(
        text, kNativePathStyle,
        [](const std::string& path) {
            std::error_code ec;
            const std::filesystem::path fsPath(
                std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
            return std::filesystem::exists(fsPath, ec) && !ec;
        },
        []() -> std::optional<std::string> {
            std::error_code ec;
            const std::filesystem::path cwd = std::filesystem::current_path(ec);
            if (ec) return std::nullopt;
            const std::u8string u8 = cwd.u8string();
            return std::string(reinterpret_cast<const char*>(u8.data()), u8.size());
        });
}

std::optional<int> ScanInt(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return std::nullopt;
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::string FormatStoredInt(std::uint32_t value) {
    return std::to_string(static_cast<std::int32_t>(value));
}

}  // namespace velarix
