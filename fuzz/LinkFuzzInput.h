// The layout of a fuzz_link input, shared by the fuzzer and the seed generator.
//
// Byte 0 configures the view's sync callback (kSync* bits) and the transport's
// first partial-send size (bits 6-7). The rest is a list of steps, each opened
// by one step byte:
//
//   0x00 .. 0xEF  a read of (byte + 1) stream bytes, which follow the step byte
//   0xF0 .. 0xFF  one of the events below; some take argument bytes
//
// Stream bytes go to the link as they are, so an input carries the sync
// pattern and the phone's messages itself, cut into reads wherever the step
// bytes say, down to one byte per read.
#pragma once

#include <cstdint>

namespace velarix::fuzz {

// Reads of up to this many bytes need no argument besides the step byte.
inline constexpr unsigned kShortReadLimit = 0xF0;

enum LinkStep : std::uint8_t {
    kLongRead = 0xF0,         // BE16 n: a read of n + 1 stream bytes
    kRepeatRead = 0xF1,       // BE16 n: the last read again, n + 1 times
    kPartialSends = 0xF2,     // n: the transport takes at most n bytes a call (0: all)
    kToggleFailSends = 0xF3,  // the transport starts or stops failing every send
    kDetachView = 0xF4,
    kAttachView = 0xF5,
    kEmptyRead = 0xF6,     // the socket reports data but has none: the peer closed
    kReadFailed = 0xF7,    // a read on the socket fails
    kPeerClose = 0xF8,     // e: the socket reports a close with error e % 6
    kReconnect = 0xF9,     // c: a new connection (bit 0: with its connect notification)
    kPcSends = 0xFA,       // m, ...: the PC sends message m % 10, arguments follow
    kResizeScreen = 0xFB,  // s: the view's screen becomes s/255 of its size
    kResetSync = 0xFC,
    kPcCloses = 0xFD,
    kPumpOnSend = 0xFE,    // p: the next send runs the event loop, which delivers p % 4
                           // (0 the next read, 1 an empty read, 2 a close, 3 a failed read)
    kRecreateLink = 0xFF,  // the link goes away and a new one takes the view
};

// What the view does when the link syncs, byte 0 of the input.
inline constexpr std::uint8_t kSyncSendsOptions = 0x01;   // as the real view does
inline constexpr std::uint8_t kSyncFeedsNextRead = 0x02;  // the next read arrives meanwhile
inline constexpr std::uint8_t kSyncFailsSends = 0x04;     // the transport fails from then on
inline constexpr std::uint8_t kSyncDetachesView = 0x08;
inline constexpr std::uint8_t kSyncClosesLink = 0x10;
inline constexpr std::uint8_t kConnectNotified = 0x20;  // the first connection reports its connect

}  // namespace velarix::fuzz
