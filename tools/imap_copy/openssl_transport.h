#pragma once
// A transport with TLS for the native tests: the component's POSIX sockets
// have none, and a test of the IMAP dialogue needs a server that signs in.

#include <memory>
#include <string>

#include "delivery/sockets/transport.h"

namespace kt {

// Connects to host:port; TLS trusts the certificate authority in `caFile` alone.
std::unique_ptr<Transport> connectWithOpenSsl(const std::string& host, unsigned short port, const std::string& caFile,
                                              const ConnectionTimeouts& timeouts);

}  // namespace kt
