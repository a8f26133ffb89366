// Hostile input through the real main frame: a relay over loopback plays one
// scenario of bad input (a re-sync storm, floods, a JPEG scan bomb, a slow
// loris, ...) after a normal sync, while a heartbeat timer on the GUI thread
// measures the longest stall. The settings live in a real per-user file, so
// work that input makes the settings do shows. Used by the responsiveness
// test (which asserts survival, untouched files and a generous stall bound)
// and by the stall benchmark (which prints the figures).
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "StreamBuilder.h"

namespace velarix::test {

struct HostileScenario {
    std::string name;
    // Everything the relay sends after the sync. It ends with a Ping the
    // view must answer once it has handled the rest.
    std::function<ByteVec()> bytes;
    // 0: all at once; otherwise one byte every this many milliseconds.
    int trickleMs = 0;
};

const std::vector<HostileScenario>& HostileScenarios();

inline void PrintTo(const HostileScenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

struct HostileRun {
    bool answered = false;             // the closing Ping got its reply
    bool settingsUntouched = false;    // the settings file kept its bytes and identity
    bool reconnected = false;          // a new connection synced afterwards
    std::int64_t longestStallMs = -1;  // longest gap between heartbeats while handling
    std::int64_t handledMs = -1;       // first byte sent to the Ping's reply
    std::string detail;                // what went wrong, for the failure message
};

// Plays one scenario against a fresh main frame; `timeoutMs` bounds the wait
// for the closing Ping's reply.
HostileRun PlayHostile(const HostileScenario& scenario, int timeoutMs);

}  // namespace velarix::test
