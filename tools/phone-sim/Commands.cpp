#include "Commands.h"

#include <cerrno>
#include <cstdlib>
#include <iterator>

namespace phonesim {

namespace {

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Decimal, or hexadecimal with a 0x prefix.
std::optional<std::uint32_t> ParseNumber(std::string_view text) {
    const std::string s(Trim(text));
    if (s.empty() || s[0] == '-' || s[0] == '+') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || end != s.c_str() + s.size() || v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

// TEXT as given, or without one pair of surrounding double quotes.
std::string Unquote(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return std::string(text);
}

// The phone's 8-bit text is Windows-1252. Code points 0x80 to 0x9F of that
// page, in byte order; the five bytes it leaves undefined stand for the C1
// control of their own number.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char Windows1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (std::size_t i = 0; i < std::size(kWindows1252High); ++i) {
        if (kWindows1252High[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// TEXT as typed on the terminal (UTF-8) in the phone's code page: one byte per
// character, '?' for a character the page lacks and for each byte of a
// malformed sequence.
std::string Utf8ToWindows1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        char32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
        bool ok = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; ok && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values above U+10FFFF are malformed too.
        ok = ok && !(length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) &&
             !(length == 4 && (c < 0x10000 || c > 0x10FFFF));
        out.push_back(ok ? Windows1252Byte(c) : '?');
        i += ok ? length : 1;
    }
    return out;
}

}  // namespace

std::optional<Command> ParseCommand(std::string_view line, std::string* error) {
    if (error) error->clear();
    line = Trim(line);
    if (line.empty() || line.front() == '#') return std::nullopt;
    const auto space = line.find_first_of(" \t");
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? "" : Trim(line.substr(space));

    const auto fail = [&](std::string why) -> std::optional<Command> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    const std::string quotedWord = std::string("'").append(word).append("'");
    const auto simple = [&](CommandKind kind) -> std::optional<Command> {
        if (!rest.empty()) return fail(quotedWord + " takes no argument");
        return Command{kind, 0, false, {}};
    };
    const auto numbered = [&](CommandKind kind, std::uint32_t max) -> std::optional<Command> {
        const auto n = ParseNumber(rest);
        if (!n || *n > max) {
            return fail(quotedWord + " needs a number up to " + std::to_string(max));
        }
        return Command{kind, *n, false, {}};
    };
    const auto onOff = [&](CommandKind kind, std::string_view yes,
                           std::string_view no) -> std::optional<Command> {
        if (rest == yes) return Command{kind, 0, true, {}};
        if (rest == no) return Command{kind, 0, false, {}};
        return fail(quotedWord + " needs " + std::string(yes) + " or " + std::string(no));
    };

    if (word == "call") return simple(CommandKind::kCall);
    if (word == "sms") return simple(CommandKind::kSms);
    if (word == "event") return numbered(CommandKind::kEvent, 255);
    if (word == "status-word") return numbered(CommandKind::kStatusWord, 0xFFFFFFFFu);
    if (word == "status-value") return numbered(CommandKind::kStatusValue, 0xFFFFFFFFu);
    if (word == "flip") return onOff(CommandKind::kFlip, "close", "open");
    if (word == "bye") return simple(CommandKind::kBye);
    if (word == "bye-payload") return simple(CommandKind::kByePayload);
    if (word == "garbage") return simple(CommandKind::kGarbage);
    if (word == "clip")
        return Command{CommandKind::kClip, 0, false, Utf8ToWindows1252(Unquote(rest))};
    if (word == "full") return simple(CommandKind::kFull);
    if (word == "stream") return onOff(CommandKind::kStream, "on", "off");
    if (word == "ping") return simple(CommandKind::kPing);
    if (word == "sleep") return numbered(CommandKind::kSleep, 3600000);
    if (word == "text")
        return Command{CommandKind::kText, 0, false, Utf8ToWindows1252(Unquote(rest))};
    if (word == "clear") return simple(CommandKind::kClear);
    if (word == "disconnect") return simple(CommandKind::kDisconnect);
    if (word == "quit" || word == "exit") return simple(CommandKind::kQuit);
    if (word == "help" || word == "?") return simple(CommandKind::kHelp);
    return fail("unknown command '" + std::string(word) + "' (try 'help')");
}

std::vector<std::string> SplitCommandList(std::string_view list) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == '\\' && i + 1 < list.size() && list[i + 1] == ';') {
            out.back().push_back(';');
            ++i;
        } else if (list[i] == ';') {
            out.emplace_back();
        } else {
            out.back().push_back(list[i]);
        }
    }
    return out;
}

const char* CommandHelp() {
    return R"(Commands (one per line on standard input; in --after-sync separated by ';',
with "\;" for a literal ';'; blank lines and lines starting with '#' are ignored;
N is decimal or 0x-prefixed hexadecimal):
  call                 send PhoneEvent 0 (incoming call)
  sms                  send PhoneEvent 1 (incoming SMS)
  event N              send PhoneEvent with code N (0..255)
  status-word N        send StatusWord N (bit 0x20: the phone can send 65536 colours)
  status-value N       send StatusValue N (the viewer shows N >> 10)
  flip close|open      close or open the flip; frames carry the new flip byte
  bye                  send Bye without payload (the viewer closes the connection)
  bye-payload          send Bye with one payload byte (the viewer drops the sync only)
  garbage              send the length 0x7FFFFFFF (a framing error on the viewer's side)
  clip TEXT            set the phone clipboard to TEXT and send it as ClipboardText
  full                 resend the whole screen with the next sample
  stream on|off        resume or pause screen updates (pings go on)
  ping                 send a Ping now
  sleep MS             wait MS milliseconds before running the next command
  text TEXT            type TEXT on the phone (appears on its text line)
  clear                wipe the stylus strokes and the text line
  disconnect           close the viewer's connection (the next one is accepted)
  quit                 end the simulator
  help                 this list
TEXT may be wrapped in double quotes to keep leading or trailing spaces. It is read
as UTF-8 and reaches the phone in its Windows-1252 code page ('?' for what the page lacks).
Commands that send something do nothing while no viewer is synced.
)";
}

}  // namespace phonesim
