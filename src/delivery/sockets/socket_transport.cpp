#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include <algorithm>

#include "delivery/sockets/socket_transport.h"

namespace kt {

std::vector<ResolvedAddress> resolvedAddresses(const addrinfo* found) {
    std::vector<ResolvedAddress> addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next)
        addresses.push_back({entry->ai_family, std::string(reinterpret_cast<const char*>(entry->ai_addr),
                                                           static_cast<std::size_t>(entry->ai_addrlen))});
    return addresses;
}

std::vector<ResolvedAddress> interleavedByFamily(std::vector<ResolvedAddress> addresses) {
    if (addresses.empty()) return addresses;
    const int preferred = addresses.front().family;
    std::vector<ResolvedAddress> first, second, ordered;
    for (auto& address : addresses) (address.family == preferred ? first : second).push_back(std::move(address));
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size()) ordered.push_back(std::move(first[i]));
        if (i < second.size()) ordered.push_back(std::move(second[i]));
    }
    return ordered;
}

bool SendRoom::took(std::size_t written, Clock::time_point now) {
    if (pacedSince_ == Clock::time_point{}) return false;
    pacedBytes_ += written;
    const double seconds = std::chrono::duration<double>(now - pacedSince_).count();
    if (seconds < 0.002) return false;  // too soon to tell the pace
    const double quarterSecond = std::min(static_cast<double>(pacedBytes_) / seconds / 4, double{kMost});
    if (quarterSecond < 2.0 * bytes_) return false;
    bytes_ = static_cast<int>(quarterSecond);
    return true;
}

std::unique_ptr<Transport> connectSocket(const std::string& host, unsigned short port,
                                         const ConnectionTimeouts& timeouts, DeliveryProgress& progress) {
    return connectLookingUpWith(systemLookup, host, port, timeouts, progress);
}

TransportFactory socketsLookingUpWith(AddressLookup lookup) {
    return [lookup = std::move(lookup)](const std::string& host, unsigned short port,
                                        const ConnectionTimeouts& timeouts, DeliveryProgress& progress) {
        return connectLookingUpWith(lookup, host, port, timeouts, progress);
    };
}

}  // namespace kt
