// The simulator's log on standard error: one line per event, "<-" for what the viewer sent,
// "->" for what the phone sends, "--" for everything else. With timestamps enabled every line
// starts with the CLOCK_MONOTONIC time in microseconds, the same clock that Python's
// time.monotonic() and most benchmark harnesses read, so latencies can be measured across
// processes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace phonesim {

class Log {
public:
    Log(bool timestamps, bool quiet) : timestamps_(timestamps), quiet_(quiet) {}

    void Received(std::string_view text) const;  // "<- ..."
    void Sent(std::string_view text) const;      // "-> ...", suppressed by --quiet
    void Info(std::string_view text) const;      // "-- ..."
    // A frame's last byte was handed to the kernel; printed only with timestamps enabled.
    void FrameSent(std::uint32_t frameValue, std::string_view what, std::int64_t usec) const;

    bool Timestamps() const { return timestamps_; }

private:
    void Write(std::string_view prefix, std::string_view text, std::int64_t usec) const;

    bool timestamps_;
    bool quiet_;
};

// CLOCK_MONOTONIC in microseconds.
std::int64_t MonotonicMicros();

// Quotes a byte string for the log: printable ASCII as it is, everything else escaped, long
// texts shortened.
std::string QuoteForLog(std::string_view text);

}  // namespace phonesim
