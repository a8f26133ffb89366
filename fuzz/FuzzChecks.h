// What the fuzzers hold the link and the decoders to, whatever the input: the
// screen only ever holds 0x00RRGGBB pixels or the white fill, repaint bands
// stay on the screen, and what the PC sends the phone is always a stream of
// whole messages the phone can read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "LinkDoubles.h"
#include "link/Protocol.h"

// A broken rule stops the run where libFuzzer sees it as a crash and keeps the input.
#define FUZZ_CHECK(cond)                                                                        \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            __builtin_trap();                                                                   \
        }                                                                                       \
    } while (0)

namespace velarix::fuzz {

inline constexpr std::uint32_t kWhite = 0xFFFFFFFFu;

// Every pixel is either written by a decoder (top byte 0) or still the white fill.
// The loop runs over whole screens for every input: it stays out of the
// sanitizers' and the coverage's instrumentation (it reads only inside the
// span), which made it the costliest line of the harness.
__attribute__((no_sanitize("address", "undefined", "coverage"))) inline void CheckPixels(
    std::span<const std::uint32_t> screen) {
    // Plain pointers: an instrumented iterator could not be inlined here.
    const std::uint32_t* pixel = screen.data();
    const std::size_t count = screen.size();
    bool ok = true;
    for (std::size_t i = 0; i < count; ++i) ok &= (pixel[i] >> 24) == 0 || pixel[i] == kWhite;
    FUZZ_CHECK(ok);
}

// Screen lines that differ between two screens of 208 × 320 pixels, rows bottom-up.
inline std::vector<bool> ChangedLines(std::span<const std::uint32_t> before,
                                      std::span<const std::uint32_t> after) {
    std::vector<bool> changed(kScreenHeight, false);
    for (int line = 0; line < kScreenHeight; ++line) {
        const std::size_t row = std::size_t(kScreenHeight - 1 - line) * kScreenWidth;
        for (std::size_t x = 0; x < kScreenWidth; ++x) {
            if (before[row + x] != after[row + x]) {
                changed[std::size_t(line)] = true;
                break;
            }
        }
    }
    return changed;
}

// A repaint band covers whole screen lines from the left edge, inside the screen.
inline void CheckRepaints(const std::vector<test::Repaint>& repaints) {
    for (const test::Repaint& r : repaints) {
        FUZZ_CHECK(r.left == 0);
        FUZZ_CHECK(r.right > 0 && r.right <= kScreenWidth);
        FUZZ_CHECK(r.top >= 0 && r.top <= r.bottom && r.bottom <= kScreenHeight);
    }
}

// Reads what the PC sent on one connection. The phone knows each message's
// size from its type byte, so one stray or missing byte would put every later
// message out of step: the stream must consist of whole, known messages, and
// each SyncAck must follow a Hello sent since the previous SyncAck.
class PcStreamChecker {
public:
    // A new connection; `helloAlreadySent` is the link's own record, which
    // carries over when the PC closed the previous connection itself.
    void Start(bool helloAlreadySent) {
        pending_.clear();
        helloSinceAck_ = helloAlreadySent;
    }

    void Add(const std::vector<std::uint8_t>& bytes) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        std::size_t pos = 0;
        for (;;) {
            const std::size_t size = MessageSize(pos);
            if (size == 0 || pos + size > pending_.size()) break;
            Check(pos);
            pos += size;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    }

    // Everything sent so far must have been whole messages. A connection that
    // closed in the middle of a send may end in part of one.
    void CheckWhole(bool connectionOpen) const { FUZZ_CHECK(!connectionOpen || pending_.empty()); }

private:
    // Size of the message starting at `pos`, or 0 while its size is unknown.
    std::size_t MessageSize(std::size_t pos) const {
        const std::size_t left = pending_.size() - pos;
        if (left == 0) return 0;
        switch (static_cast<PcMsg>(pending_[pos])) {
            case PcMsg::Hello:
                return 16;
            case PcMsg::SyncAck:
            case PcMsg::PingReply:
            case PcMsg::GetPhoneClipboard:
            case PcMsg::Bye:
                return 1;
            case PcMsg::KeyEvent:
            case PcMsg::PointerEvent:
                return 6;
            case PcMsg::CharEvent:
                return 14;
            case PcMsg::Options:
                return 8;
            case PcMsg::TypeText:
            case PcMsg::SetPhoneClipboard:
                if (left < 3) return 0;
                return 3 + ReadBe16(&pending_[pos + 1]);
        }
        // A message type the phone does not know.
        FUZZ_CHECK(false);
        return 0;
    }

    void Check(std::size_t pos) {
        switch (static_cast<PcMsg>(pending_[pos])) {
            case PcMsg::Hello:
                for (std::size_t i = 0; i < 16; ++i) FUZZ_CHECK(pending_[pos + i] == 0x55);
                helloSinceAck_ = true;
                break;
            case PcMsg::SyncAck:
                FUZZ_CHECK(helloSinceAck_);
                helloSinceAck_ = false;
                break;
            default:
                break;
        }
    }

    std::vector<std::uint8_t> pending_;
    bool helloSinceAck_ = false;
};

}  // namespace velarix::fuzz
