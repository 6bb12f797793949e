#pragma once
// The transport over the platform's sockets: Winsock on Windows, where every
// wait lets the thread's messages through so that the windows keep
// repainting, and the name lookup runs on a thread of its own; POSIX sockets
// elsewhere.

#include <string>
#include <vector>

#include "delivery/smtp/transport.h"

struct addrinfo;

namespace kt {

// One address of a server: its family (AF_INET, AF_INET6) and the bytes of
// its socket address, the port included.
struct ResolvedAddress {
    int family = 0;
    std::string socketAddress;
};

// Looks a host up: its addresses for the port in the system's order of
// preference; throws when it has none.
using AddressLookup = std::function<std::vector<ResolvedAddress>(const std::string& host, unsigned short port)>;
std::vector<ResolvedAddress> systemLookup(const std::string& host, unsigned short port);

// The order to try addresses in (RFC 8305, 4): the families take turns,
// the system's preferred one first.
std::vector<ResolvedAddress> interleavedByFamily(std::vector<ResolvedAddress> addresses);

// What the system may hold of what is written to a connection: enough to
// keep a fast link busy, and little enough that bytes written are on their
// way, as the progress shown says. Left to itself a system may hold megabytes.
constexpr int kSendBuffer = 256 * 1024;

// Looks the host up within the connection's time-out, then connects to one
// of its addresses: several at a time where they are slow to answer (on
// Windows the next one starts 250 ms after the one before).
std::unique_ptr<Transport> connectSocket(const std::string& host, unsigned short port,
                                         const ConnectionTimeouts& timeouts, DeliveryProgress& progress);

// The same, looking hosts up with `lookup`.
TransportFactory socketsLookingUpWith(AddressLookup lookup);

// The platform's part of both.
std::unique_ptr<Transport> connectLookingUpWith(const AddressLookup& lookup, const std::string& host,
                                                unsigned short port, const ConnectionTimeouts& timeouts,
                                                DeliveryProgress& progress);

// The addresses of a list that getaddrinfo gave.
std::vector<ResolvedAddress> resolvedAddresses(const addrinfo* found);

}  // namespace kt
