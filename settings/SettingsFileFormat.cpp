#include "settings/SettingsFileFormat.h"

#include <limits>
#include <utility>
#include <vector>

namespace velarix::settings_format {
namespace {

constexpr std::string_view kNewFileComment =
    "# Velarix settings. Values are written as key=int:<decimal> or key=str:\"<text>\".";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AppendHexByte(std::string& out, unsigned char byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

// The byte from two hex digits at text[at], or -1.
int HexPair(std::string_view text, std::size_t at) {
    if (at + 2 > text.size()) return -1;
    const int high = HexValue(text[at]);
    const int low = HexValue(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool IsPlainNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

std::string EncodeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        if (IsPlainNameChar(c)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            AppendHexByte(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

std::optional<std::string> DecodeName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const int byte = HexPair(text, i + 1);
        if (byte < 0) return std::nullopt;
        out.push_back(static_cast<char>(byte));
        i += 2;
    }
    return out;
}

// The length of the well-formed UTF-8 sequence starting at text[at] with a
// byte >= 0x80, or 0 when there is none (overlong forms, surrogates and code
// points above U+10FFFF are not well-formed).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

std::string QuoteString(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out.push_back('"');
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            if (const std::size_t length = Utf8SequenceLength(value, i); length > 0) {
                out.append(value.substr(i, length));
                i += length;
                continue;
            }
        }
        ++i;
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7F) {
                    out += "\\x";
                    AppendHexByte(out, byte);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
    return out;
}

std::optional<std::string> UnquoteString(std::string_view text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 1; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            // Anything after the closing quote means the line is not ours.
            if (i + 1 != text.size()) return std::nullopt;
            return out;
        }
        if (c != '\\') {
            out.push_back(c);
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        switch (text[i + 1]) {
            case '\\':
                out.push_back('\\');
                break;
            case '"':
                out.push_back('"');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'x': {
                const int byte = HexPair(text, i + 2);
                if (byte < 0) return std::nullopt;
                out.push_back(static_cast<char>(byte));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
        i += 2;
    }
    return std::nullopt;  // no closing quote: cut short
}

struct ParsedLine {
    enum class Kind { Other, Header, BrokenHeader, Entry };
    Kind kind = Kind::Other;
    std::string name;        // section of a header, key of an entry
    std::string_view value;  // value text of an entry
};

ParsedLine ParseLine(std::string_view raw) {
    using Kind = ParsedLine::Kind;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') return {};
    if (line.front() == '[') {
        if (line.size() >= 2 && line.back() == ']') {
            if (auto name = DecodeName(Trim(line.substr(1, line.size() - 2)))) {
                return {Kind::Header, std::move(*name), {}};
            }
        }
        return {Kind::BrokenHeader, {}, {}};
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return {};
    auto key = DecodeName(Trim(line.substr(0, equals)));
    if (!key) return {};
    return {Kind::Entry, std::move(*key), Trim(line.substr(equals + 1))};
}

// The file cut into lines without their '\n'. A last line without one is
// kept apart: it is what remains when a file is cut short, and a number cut
// short ("int:12" of "int:12345") would otherwise read as a wrong value.
struct SplitFile {
    std::vector<std::string_view> lines;
    std::optional<std::string_view> unterminated;
};

SplitFile SplitLines(std::string_view content) {
    SplitFile split;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        if (end == std::string_view::npos) {
            split.unterminated = content;
            break;
        }
        split.lines.push_back(content.substr(0, end));
        content.remove_prefix(end + 1);
    }
    return split;
}

}  // namespace

std::string IntValueText(std::uint32_t value) {
    return std::string(kIntPrefix) + std::to_string(value);
}

std::string StringValueText(std::string_view value) {
    return std::string(kStrPrefix) + QuoteString(value);
}

std::optional<std::uint32_t> ParseIntValue(std::string_view valueText) {
    if (!valueText.starts_with(kIntPrefix)) return std::nullopt;
    const std::string_view digits = Trim(valueText.substr(kIntPrefix.size()));
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::string> ParseStringValue(std::string_view valueText) {
    if (!valueText.starts_with(kStrPrefix)) return std::nullopt;
    return UnquoteString(Trim(valueText.substr(kStrPrefix.size())));
}

SettingsEntries ParseEntries(std::string_view content) {
    using Kind = ParsedLine::Kind;
    SettingsEntries entries;
    std::optional<std::string> section;  // none under a header that does not parse
    for (const std::string_view line : SplitLines(content).lines) {
        ParsedLine parsed = ParseLine(line);
        switch (parsed.kind) {
            case Kind::Header:
                section = std::move(parsed.name);
                break;
            case Kind::BrokenHeader:
                section.reset();
                break;
            case Kind::Entry:
                // Entries above the first header belong to no section either.
                if (section)
                    entries[{*section, std::move(parsed.name)}] = std::string(parsed.value);
                break;
            case Kind::Other:
                break;
        }
    }
    return entries;
}

// The file with `key` in `section` set to `valueText`; every line that is not
// about that key is carried over unchanged.
std::string UpdateContent(std::string_view content, std::string_view section, std::string_view key,
                          std::string_view valueText) {
    using Kind = ParsedLine::Kind;
    const SplitFile split = SplitLines(content);
    const std::vector<std::string_view>& lines = split.lines;
    std::vector<std::size_t> matches;
    // The last header or entry of the section's last block: where a new key goes,
    // so it lands after its neighbours but before comments about the next section.
    std::optional<std::size_t> blockEnd;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = ParseLine(lines[i]);
        switch (parsed.kind) {
            case Kind::Header:
                inSection = parsed.name == section;
                if (inSection) blockEnd = i;
                break;
            case Kind::BrokenHeader:
                inSection = false;
                break;
            case Kind::Entry:
                if (inSection) {
                    blockEnd = i;
                    if (parsed.name == key) matches.push_back(i);
                }
                break;
            case Kind::Other:
                break;
        }
    }

    const std::string newLine = EncodeName(key) + "=" + std::string(valueText);
    std::string out;
    out.reserve(content.size() + newLine.size() + section.size() + 8);
    bool lastBlank = true;  // so a new section is set off by one blank line
    const auto emit = [&out, &lastBlank](std::string_view line) {
        out.append(line);
        out.push_back('\n');
        lastBlank = Trim(line).empty();
    };
    std::size_t nextMatch = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (nextMatch < matches.size() && matches[nextMatch] == i) {
            // The first occurrence takes the new value; later duplicates,
            // which would shadow it, go.
            if (nextMatch == 0) emit(newLine);
            ++nextMatch;
            continue;
        }
        emit(lines[i]);
        if (matches.empty() && blockEnd == i) emit(newLine);
    }
    if (split.unterminated) {
        // Kept for whoever looks at the file, but as a comment: once it had a
        // line end it would read as a value, possibly a wrong one.
        const bool blank = Trim(*split.unterminated).empty();
        emit(blank ? std::string() : std::string("#").append(*split.unterminated));
    }
    if (matches.empty() && !blockEnd) {
        if (lines.empty() && !split.unterminated) {
            emit(kNewFileComment);
        } else if (!lastBlank) {
            emit({});
        }
        emit(std::string("[").append(EncodeName(section)).append("]"));
        emit(newLine);
    }
    return out;
}

bool HoldsValue(std::string_view content, std::string_view section, std::string_view key,
                std::string_view valueText) {
    const SettingsEntries entries = ParseEntries(content);
    const auto found = entries.find({std::string(section), std::string(key)});
    if (found == entries.end()) return false;
    if (const auto number = ParseIntValue(valueText)) return ParseIntValue(found->second) == number;
    const auto text = ParseStringValue(valueText);
    return text && ParseStringValue(found->second) == text;
}

}  // namespace velarix::settings_format
