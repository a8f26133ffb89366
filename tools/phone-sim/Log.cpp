#include "Log.h"

#include <time.h>

#include <cstdio>

namespace phonesim {

std::int64_t MonotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void Log::Write(std::string_view prefix, std::string_view text, std::int64_t usec) const {
    std::string line;
    if (timestamps_) {
        line.append("[").append(std::to_string(usec < 0 ? MonotonicMicros() : usec)).append("] ");
    }
    line.append(prefix);
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void Log::Received(std::string_view text) const {
    Write("<- ", text, -1);
}

void Log::Sent(std::string_view text) const {
    if (!quiet_) Write("-> ", text, -1);
}

void Log::Info(std::string_view text) const {
    Write("-- ", text, -1);
}

void Log::FrameSent(std::uint32_t frameValue, std::string_view what, std::int64_t usec) const {
    if (!timestamps_) return;
    Write("@ ", "frame " + std::to_string(frameValue) + " on the wire: " + std::string(what), usec);
}

std::string QuoteForLog(std::string_view text) {
    constexpr std::size_t kShown = 200;
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    out.push_back('"');
    if (text.size() > kShown) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace phonesim
