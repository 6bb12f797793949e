#include "delivery/page/network_reach.h"

namespace kt {

NetworkReach reachOf(const std::array<std::uint8_t, 4>& ip) {
    if (ip[0] == 127 || ip[0] == 0) return NetworkReach::Local;
    if (ip[0] == 10 || (ip[0] == 172 && (ip[1] & 0xF0) == 16) || (ip[0] == 192 && ip[1] == 168) ||
        (ip[0] == 169 && ip[1] == 254) || (ip[0] == 100 && (ip[1] & 0xC0) == 64))
        return NetworkReach::Private;
    return NetworkReach::Public;
}

NetworkReach reachOf(const std::array<std::uint8_t, 16>& ip) {
    bool zeroUpTo15 = true;
    for (int i = 0; i < 15; ++i) zeroUpTo15 &= ip[i] == 0;
    if (zeroUpTo15 && (ip[15] == 1 || ip[15] == 0)) return NetworkReach::Local;
    bool mapped = ip[10] == 0xFF && ip[11] == 0xFF;
    for (int i = 0; i < 10; ++i) mapped &= ip[i] == 0;
    if (mapped) return reachOf(std::array<std::uint8_t, 4>{ip[12], ip[13], ip[14], ip[15]});
    if ((ip[0] & 0xFE) == 0xFC || (ip[0] == 0xFE && (ip[1] & 0xC0) == 0x80)) return NetworkReach::Private;
    return NetworkReach::Public;
}

}  // namespace kt
