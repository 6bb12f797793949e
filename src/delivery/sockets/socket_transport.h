#pragma once
// The transport over the platform's sockets: Winsock on Windows, where every
// wait lets the thread's messages through so that the windows keep
// repainting, and the name lookup runs on a thread of its own; POSIX sockets
// elsewhere.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "delivery/sockets/transport.h"

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

// The room the system keeps for what is written to a connection: about a
// quarter of a second of what the connection takes, at least 256 KB and at
// most 8 MB. What the progress shows then never runs far ahead of the bytes
// on their way, and a fast link still has room to stay busy. (Left to itself
// a system may hold megabytes for a slow link too.)
class SendRoom {
public:
    static constexpr int kLeast = 256 * 1024;
    static constexpr int kMost = 8 * 1024 * 1024;
    using Clock = std::chrono::steady_clock;

    int bytes() const noexcept { return bytes_; }
    // The writer waits for room: from the first wait on, what the system
    // takes comes at the connection's pace.
    void waiting(Clock::time_point now) {
        if (pacedSince_ == Clock::time_point{}) pacedSince_ = now;
    }
    // The system took `written` more bytes; true when the room is to grow to bytes().
    bool took(std::size_t written, Clock::time_point now);

private:
    int bytes_ = kLeast;
    Clock::time_point pacedSince_{};
    std::uint64_t pacedBytes_ = 0;
};

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
