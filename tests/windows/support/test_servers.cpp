#include "support/test_servers.h"

#include <ws2tcpip.h>

namespace kt::test {
namespace {

sockaddr_in loopback(unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

Listener::Listener(int backlog) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopback(0);
    int length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener_, backlog);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

Listener::~Listener() { closesocket(listener_); }

void SilentServer::hangUp() const {
    fd_set waiting;
    FD_ZERO(&waiting);
    FD_SET(listener_, &waiting);
    timeval fiveSeconds{5, 0};
    if (select(0, &waiting, nullptr, nullptr, &fiveSeconds) == 1) closesocket(accept(listener_, nullptr, nullptr));
}

DroppingServer::DroppingServer() : Listener(0) {
    queued_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in address = loopback(port_);
    connect(queued_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

DroppingServer::~DroppingServer() { closesocket(queued_); }

ResolvedAddress loopbackAddress(unsigned short port) {
    const sockaddr_in address = loopback(port);
    return {AF_INET, std::string(reinterpret_cast<const char*>(&address), sizeof address)};
}

}  // namespace kt::test
