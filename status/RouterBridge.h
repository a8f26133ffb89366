// The bridge to mRouter, the phone suite's connectivity software, which runs
// the local relay the link connects to. The program asks it for the relay's
// TCP port each time it needs one and can open its connection box; nothing
// else of mRouter is used.
//
// On Windows both are mRouter's own COM objects, activated out of process.
// Elsewhere the relay (the phone simulator, or anything standing in for
// mRouter) publishes its port in decimal in a file, and there is no box.
#pragma once

#include <cstdint>
#include <string>

namespace velarix {

inline constexpr const char* kRelayAddress = "127.0.0.1";

struct RouterPortQuery {
    // True when mRouter could be asked at all (the port object exists).
    bool ok = false;
    // The relay's port on kRelayAddress; 0 when mRouter has none to offer.
    std::uint16_t port = 0;
};

// Asks mRouter for the relay's port. Only `port` matters to the caller: 0
// means that mRouter is not available.
RouterPortQuery QueryRouterPort();

// Opens mRouter's connection box. True when its object could be created and
// asked; the only caller ignores the result.
bool OpenRouterBox();

#ifndef _WIN32
// Where a relay publishes its port: $XDG_RUNTIME_DIR/mrouter/relay.port, or
// /tmp/mrouter-<uid>/relay.port when XDG_RUNTIME_DIR is unset or empty.
std::string RelayPortFilePath();

// Reads a published port. A missing file means no relay: {false, 0}. A file
// that exists but cannot be read, is a symbolic link, is not a regular file,
// belongs to another user, or holds anything but one decimal number from 1 to
// 65535 (white space around it allowed) means a relay that cannot be used:
// {true, 0}. At most a few bytes are read.
RouterPortQuery ReadRelayPortFile(const std::string& path);
#endif

// Keeps COM initialised for the GUI thread (single-threaded apartment) from
// before the main frame is created until the program ends. Nothing to do
// where there is no COM.
class ComInit {
public:
    ComInit();
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    ~ComInit();

    // False when COM could not be initialised; the port query then fails and
    // the status page shows mRouter as unavailable.
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace velarix
