#pragma once
// The transport over the platform's sockets: Winsock on Windows, where every
// wait lets the thread's messages through so that the windows keep
// repainting; POSIX sockets elsewhere.

#include "delivery/smtp/transport.h"

namespace kt {

std::unique_ptr<Transport> connectSocket(const std::string& host, unsigned short port,
                                         const ConnectionTimeouts& timeouts);

}  // namespace kt
