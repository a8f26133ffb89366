// Text rules of the setup pages that need no window: the folder a page shows
// and stores, and numbers read from edit boxes as scanf's "%d" reads them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "capture/Screenshots.h"

namespace velarix {

// Whether a path names an existing file-system object.
using PathExistsFn = std::function<bool(const std::string& path)>;
// The process's current directory, or nothing when it cannot be had.
using CurrentDirFn = std::function<std::optional<std::string>()>;

// Normalises a page's folder in place:
//  1. white space is removed at both ends;
//  2. a trailing separator goes, except from a root (Windows: a three-character
//     drive root such as "C:\"; POSIX: "/");
//  3. a root is kept as it is (Windows: any three-character text), and so is a
//     non-empty text that names an existing object;
//  4. anything else (empty, or not existing) becomes the current directory,
//     when that can be had and is shorter than 260 bytes; otherwise the text
//     stays as it is.
void NormalizeFolder(std::string& text, PathStyle style, const PathExistsFn& exists,
                     const CurrentDirFn& currentDir);
// The same on the real file system, in the platform's path style.
void NormalizeFolder(std::string& text);

// A number at the start of `text` as "%d" reads it: white space skipped, an
// optional sign, at least one digit; held at the int range. Nothing when the
// text does not start with a number.
std::optional<int> ScanInt(std::string_view text);

// "%d" of a stored integer as the settings hand it out (unsigned 32 bits).
std::string FormatStoredInt(std::uint32_t value);

}  // namespace velarix
