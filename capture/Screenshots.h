// Saving the phone screen as a BMP, JPEG or PNG file: the format table, the
// naming of screenshot files (also used for video names, section "AVI"), the
// conversion of the screen buffer through FreeImage, and the whole "Save
// screenshot" command with its file dialog handed in from outside, so that it
// runs without a window system.
//
// Paths are UTF-8 strings throughout; they are turned into the platform's own
// form only where a file is touched. No function here throws or shows a
// message: every failure is a result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

namespace velarix {

inline constexpr std::string_view kSectionScreenshot = setting::kShotPrompt.section;
inline constexpr std::string_view kKeyPrompt = setting::kShotPrompt.key;
inline constexpr std::string_view kKeyPath = setting::kShotPath.key;
inline constexpr std::string_view kKeyPrefix = setting::kShotPrefix.key;
inline constexpr std::string_view kKeySuffix = setting::kShotSuffix.key;
inline constexpr std::string_view kKeyFormat = setting::kShotFormat.key;
inline constexpr std::string_view kKeyLast = setting::kShotLast.key;
inline constexpr std::string_view kKeyLastDir = setting::kShotLastDir.key;

// One row of the image format table; its index is the "Format" value and the
// position of its file type in the save dialog.
struct ImageFormat {
    std::string_view dialogType;  // the file type as the dialog lists it
    std::string_view pattern;     // wildcard; the extension is this without the '*'

    constexpr std::string_view Extension() const { return pattern.substr(1); }
};

inline constexpr int kFormatBmp = 0;
inline constexpr int kFormatJpeg = 1;
inline constexpr int kFormatPng = 2;
inline constexpr std::array<ImageFormat, 3> kImageFormats = {{
    {"BMP (*.bmp)", "*.bmp"},
    {"JPEG (*.jpg)", "*.jpg"},
    {"PNG (*.png)", "*.png"},
}};
inline constexpr int kImageFormatCount = static_cast<int>(kImageFormats.size());

// The dialog's file types in the "|"-separated form of the platform's dialog.
inline constexpr std::string_view kImageFilter =
    "BMP (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg|PNG (*.png)|*.png||";

// Path buffers of the platform hold 259 bytes and the terminator: a name of
// this many bytes or more is refused rather than cut.
inline constexpr std::size_t kMaxPathBytes = 260;

// How many names the search for a free one tries before it gives up, so a
// folder full of screenshots cannot stall the program.
inline constexpr int kMaxNameAttempts = 100000;

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

enum class PathStyle { Windows, Posix };
#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

// A path cut as the platform's splitter cuts it. Windows: drive letter with its
// colon, directory with its trailing separator ('\\' or '/'), base name,
// extension from the last dot of the file name on. POSIX: no drive, '/' only.
struct PathParts {
    std::string drive;
    std::string dir;
    std::string base;
    std::string ext;
};
PathParts SplitPath(std::string_view path, PathStyle style = kNativePathStyle);

// The format row whose extension ends `path` (ignoring case), or `fallback`.
// A name only as long as a pattern ("a.png") has no extension in this sense.
int ImageFormatOfName(std::string_view path, int fallback);

// The format of a stored "Format" value; anything outside the table is BMP.
int ClampImageFormat(std::uint32_t format);

// The next free numbered name after section/"Last": the number found in its
// base name plus one (or more, past existing files), or the base name with a
// "1" added when it holds no number. Nothing when "Last" gives no sound
// starting point, the next number does not fit an int, the name would not
// fit a path buffer, or `maxAttempts` names are all taken.
std::optional<std::string> SuggestNextName(const SettingsStore& store, std::string_view section,
                                           int maxAttempts = kMaxNameAttempts);

// The name to offer in the dialog ("Prompt" 1) or to save under at once: the
// first free Path/Prefix<n>Suffix.ext for n = 1, 2, ...
std::optional<std::string> MakeScreenshotName(const SettingsStore& store,
                                              int maxAttempts = kMaxNameAttempts);

// Writes the screen (kScreenWidth x kScreenHeight pixels 0x00RRGGBB, rows
// bottom-up) as a 24-bit image in the format the name's extension gives (BMP
// when none). False when the screen has the wrong size or anything fails.
bool WriteScreenshot(std::span<const std::uint32_t> screen, const std::string& path);

// What the save dialog starts with. `typeIndex` is the 0-based row of the
// format table to preselect; `initialName` and `initialDir` may be empty.
struct SaveDialogRequest {
    std::string initialName;
    int typeIndex = 0;
    std::string initialDir;
};

// What the user chose: the full path as typed and the row of the file type
// selected when the dialog closed.
struct SaveDialogResult {
    std::string path;
    int typeIndex = 0;
};

// Runs the dialog; nothing when the user cancels.
using SaveDialogFn = std::function<std::optional<SaveDialogResult>(const SaveDialogRequest&)>;

// Asks whether the existing file `path` may be replaced; true for yes.
using ConfirmReplaceFn = std::function<bool(const std::string& path)>;

// The "Save screenshot" command. With "Prompt" 1 the dialog is asked for the
// name and a successful save is remembered in "Last" and "LastDir"; otherwise
// the screen is saved under a generated name and the dialog is never called.
// The dialog's own question covers only the name as typed: when the type's
// extension is added and the resulting file exists, `confirm` is asked, and
// without a yes (or without `confirm`) nothing is written.
// True when a file was written; its full name then goes to `savedPath`.
bool SaveScreenshot(const SettingsStore& store, std::span<const std::uint32_t> screen,
                    const SaveDialogFn& dialog, const ConfirmReplaceFn& confirm = {},
                    std::string* savedPath = nullptr);

}  // namespace velarix
