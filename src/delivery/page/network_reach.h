#pragma once
// How far a network address reaches, as browsers rank them for a page's
// requests: a page on the public internet may not make this computer or the
// private network behind it answer (with the user's standing there), while a
// page that lives on such a network may reach its own kind and the public.

#include <array>
#include <cstdint>

namespace kt {

enum class NetworkReach { Public, Private, Local };

// 127/8 and 0/8 local; 10/8, 172.16/12, 192.168/16, 169.254/16 and the shared
// 100.64/10 private; the rest public.
NetworkReach reachOf(const std::array<std::uint8_t, 4>& ipv4);
// ::1 and :: local; fc00::/7 and fe80::/10 private; an IPv4-mapped address
// as its IPv4 address; the rest public.
NetworkReach reachOf(const std::array<std::uint8_t, 16>& ipv6);

// Whether a page whose address reaches `page` may fetch from one that reaches `target`.
constexpr bool mayFetch(NetworkReach page, NetworkReach target) {
    return static_cast<int>(target) <= static_cast<int>(page);
}

}  // namespace kt
