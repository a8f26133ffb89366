// The connection under the link: the socket adapter implements it. The link
// core never sees a socket.
#pragma once

#include "link/Protocol.h"

namespace velarix {

class ILinkTransport {
public:
    // Sends from the start of `bytes` and returns how many went out; a result
    // below 1 is a failed send. The link calls again for the rest.
    virtual long Send(Bytes bytes) = 0;
    // Closes the connection. It must not call back into the link: the link
    // has already settled its own state when it asks for this.
    virtual void Close() = 0;

protected:
    ~ILinkTransport() = default;
};

// What the socket layer reports for a failed connect or a closed connection.
enum class SocketError {
    None,
    ConnectionRefused,
    NetworkUnreachable,
    NetworkDown,
    ConnectionAborted,
    Other,
};

}  // namespace velarix
