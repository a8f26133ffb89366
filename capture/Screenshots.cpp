#include "capture/Screenshots.h"

#include <FreeImage.h>

#include <bit>
#include <cctype>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>

#include "link/Protocol.h"

namespace velarix {

namespace {

// The screen's 0x00RRGGBB words are FreeImage's own blue-green-red-x byte
// order only on a little-endian machine.
static_assert(std::endian::native == std::endian::little,
              "the screen buffer is handed to FreeImage as BGRx bytes");

struct DibDeleter {
    void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using DibPtr = std::unique_ptr<FIBITMAP, DibDeleter>;

bool IsSeparator(char c, PathStyle style) {
    return c == '/' || (style == PathStyle::Windows && c == '\\');
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

// The white space scanf skips before a number, in the "C" locale.
bool IsScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a number at the start of `text` the way scanf's "%d" does: white space
// skipped, an optional sign, at least one digit. A number beyond the range of
// an int is held at INT_MAX or INT_MIN, as strtol holds its own range, rather
// than overflowing.
std::optional<int> ScanDecimal(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsScanSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t firstDigit = pos;
    // The magnitude stops growing once it is past every int, so it never wraps.
    constexpr std::int64_t kPastInt = std::int64_t{INT_MAX} + 2;
    std::int64_t magnitude = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (magnitude < kPastInt) magnitude = magnitude * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos == firstDigit) return std::nullopt;
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// The platform's form of a UTF-8 name, or nothing when it has none.
std::optional<std::filesystem::path> ToFsPath(const std::string& utf8) {
    try {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    } catch (...) {
        return std::nullopt;
    }
}

// A name that can be handed to the file system whole: it fits a path buffer
// with its terminator and carries no terminator inside, which would silently
// name another file.
bool IsUsablePath(const std::string& path) {
    return !path.empty() && path.size() < kMaxPathBytes && path.find('\0') == std::string::npos &&
           ToFsPath(path).has_value();
}

// Whether anything, file or folder, already goes by that name. A status query
// that fails for another reason (no access) counts the name as free, as the
// later write will then report.
bool NameTaken(const std::string& path) {
    const auto fsPath = ToFsPath(path);
    if (!fsPath) return true;
    std::error_code ec;
    // A dangling link is an entry too: writing through it would create its target.
    return std::filesystem::exists(std::filesystem::symlink_status(*fsPath, ec));
}

bool PromptIsSet(const SettingsStore& store) {
    return Read(store, setting::kShotPrompt) == 1;
}

FREE_IMAGE_FORMAT FreeImageTypeOf(int format) {
    switch (format) {
        case kFormatJpeg:
            return FIF_JPEG;
        case kFormatPng:
            return FIF_PNG;
        default:
            return FIF_BMP;
    }
}

}  // namespace

PathParts SplitPath(std::string_view path, PathStyle style) {
    PathParts parts;
    if (style == PathStyle::Windows && path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsSeparator(path[i], style)) nameStart = i + 1;
    }
    parts.dir = path.substr(0, nameStart);
    const std::string_view name = path.substr(nameStart);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        parts.base = name;
    } else {
        parts.base = name.substr(0, dot);
        parts.ext = name.substr(dot);
    }
    return parts;
}

int ImageFormatOfName(std::string_view path, int fallback) {
    for (int i = 0; i < kImageFormatCount; ++i) {
        const ImageFormat& row = kImageFormats[static_cast<std::size_t>(i)];
        const std::string_view ext = row.Extension();
        if (row.pattern.size() < path.size() &&
            EqualsIgnoringCase(path.substr(path.size() - ext.size()), ext)) {
            return i;
        }
    }
    return fallback;
}

int ClampImageFormat(std::uint32_t format) {
    // The setup page stores -1 when its list has no selection; BMP keeps the
    // generated name and the file's format in step.
    return format < static_cast<std::uint32_t>(kImageFormatCount) ? static_cast<int>(format)
                                                                  : kFormatBmp;
}

std::optional<std::string> SuggestNextName(const SettingsStore& store, std::string_view section,
                                           int maxAttempts) {
    const std::string last = store.GetString(section, kKeyLast, "");
    const PathParts parts = SplitPath(last);
    const bool needsDrive = kNativePathStyle == PathStyle::Windows;
    if ((needsDrive && parts.drive.empty()) || parts.dir.empty() || parts.base.empty() ||
        parts.ext.size() != 4) {
        return std::nullopt;
    }
    const std::string folder = parts.drive + parts.dir;
    const std::string& base = parts.base;

    // A number at the very first character is part of the name ("7up"), so the
    // search starts at the second.
    std::size_t numberAt = 0;
    std::optional<int> number;
    for (std::size_t i = 1; i < base.size() && !number; ++i) {
        number = ScanDecimal(std::string_view(base).substr(i));
        numberAt = i;
    }
    if (!number) {
        // A first numbered name is offered as it is, whether taken or not; the
        // dialog asks before it overwrites.
        std::string path = folder + base + "1" + parts.ext;
        if (!IsUsablePath(path)) return std::nullopt;
        return path;
    }

    int n = *number;
    const std::string head = base.substr(0, numberAt);
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        if (n == INT_MAX) return std::nullopt;
        ++n;
        std::string path = folder + head + std::to_string(n) + parts.ext;
        if (!IsUsablePath(path)) return std::nullopt;
        if (!NameTaken(path)) return path;
    }
    return std::nullopt;
}

std::optional<std::string> MakeScreenshotName(const SettingsStore& store, int maxAttempts) {
    if (PromptIsSet(store)) return SuggestNextName(store, kSectionScreenshot, maxAttempts);

    // The count restarts at 1 each time, so the first gap in the series is
    // filled first; the settings are read afresh for every name tried.
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        const int counter = attempt + 1;
        std::string path = store.GetString(kSectionScreenshot, kKeyPath, "");
        if (!path.empty() && !IsSeparator(path.back(), kNativePathStyle)) path += kPathSeparator;
        const int format = ClampImageFormat(Read(store, setting::kShotFormat));
        path += store.GetString(kSectionScreenshot, kKeyPrefix, "");
        path += std::to_string(counter);
        path += store.GetString(kSectionScreenshot, kKeySuffix, "");
        path += kImageFormats[static_cast<std::size_t>(format)].Extension();
        if (!IsUsablePath(path)) return std::nullopt;
        if (!NameTaken(path)) return path;
    }
    return std::nullopt;
}

bool WriteScreenshot(std::span<const std::uint32_t> screen, const std::string& path) {
    if (screen.size() != kScreenPixels || !IsUsablePath(path)) return false;

    // FreeImage only reads the bits; its interface just is not const-correct.
    // Not top-down: the buffer's first row is the bottom screen line, which is
    // also the bottom row of a FreeImage bitmap, so the picture comes out upright.
    auto* bits = reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(screen.data()));
    DibPtr raw(FreeImage_ConvertFromRawBits(bits, kScreenWidth, kScreenHeight, 4 * kScreenWidth, 32,
                                            FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK,
                                            FALSE));
    if (!raw) return false;
    DibPtr rgb(FreeImage_ConvertTo24Bits(raw.get()));
    raw.reset();
    if (!rgb) return false;

    const FREE_IMAGE_FORMAT type = FreeImageTypeOf(ImageFormatOfName(path, kFormatBmp));
#ifdef _WIN32
    const std::wstring wide = ToFsPath(path)->wstring();
    return FreeImage_SaveU(type, rgb.get(), wide.c_str(), 0) != FALSE;
#else
    return FreeImage_Save(type, rgb.get(), path.c_str(), 0) != FALSE;
#endif
}

bool SaveScreenshot(const SettingsStore& store, std::span<const std::uint32_t> screen,
                    const SaveDialogFn& dialog, const ConfirmReplaceFn& confirm,
                    std::string* savedPath) {
    const std::optional<std::string> name = MakeScreenshotName(store);
    std::string path;
    if (PromptIsSet(store)) {
        SaveDialogRequest request;
        if (name) {
            request.initialName = *name;
            // The offered name's own type, whatever "Format" says.
            request.typeIndex = ImageFormatOfName(*name, kFormatBmp);
        } else {
            request.typeIndex = ClampImageFormat(Read(store, setting::kShotFormat));
        }
        request.initialDir = store.GetString(kSectionScreenshot, kKeyLastDir, "");
        if (!dialog) return false;
        const std::optional<SaveDialogResult> chosen = dialog(request);
        if (!chosen || chosen->path.empty()) return false;
        path = chosen->path;
        // A typed extension decides the format; otherwise the selected type
        // adds its own, even after another extension ("shot.jpeg.jpg").
        if (ImageFormatOfName(path, -1) == -1) {
            const int type = ClampImageFormat(static_cast<std::uint32_t>(chosen->typeIndex));
            path += kImageFormats[static_cast<std::size_t>(type)].Extension();
            // The dialog asked about the name without the extension, if at all.
            if (NameTaken(path) && !(confirm && confirm(path))) return false;
        }
    } else {
        if (!name) return false;
        path = *name;
    }

    if (!WriteScreenshot(screen, path)) return false;
    if (savedPath) *savedPath = path;

    // Only names the user chose seed the next suggestion. "Prompt" is read
    // again: the dialog may have run long enough for the setting to change.
    if (PromptIsSet(store)) {
        store.WriteString(kSectionScreenshot, kKeyLast, path);
        const PathParts parts = SplitPath(path);
        store.WriteString(kSectionScreenshot, kKeyLastDir, parts.drive + parts.dir);
    }
    return true;
}

}  // namespace velarix
