#include "delivery/sockets/event_socket.h"

#include <algorithm>

#include "foundation/api_error.h"

namespace kt {

WinsockStartup::WinsockStartup() {
    WSADATA data;
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0) throw apiError(result, L"Starting Windows Sockets failed");
}

WinsockStartup::~WinsockStartup() { WSACleanup(); }

EventSocket::EventSocket(UniqueSocket socket) : socket_(std::move(socket)), event_(WSACreateEvent()) {}

std::unique_ptr<EventSocket> EventSocket::open(int family, int type, int protocol, long& error) {
    UniqueSocket socket(::socket(family, type, protocol));
    if (!socket) {
        error = WSAGetLastError();
        return nullptr;
    }
    return adopt(std::move(socket), error);
}

std::unique_ptr<EventSocket> EventSocket::adopt(UniqueSocket socket, long& error) {
    auto watched = std::unique_ptr<EventSocket>(new EventSocket(std::move(socket)));
    // Every event any socket of ours waits for; the event also makes the socket non-blocking.
    if (!watched->event_ || WSAEventSelect(watched->get(), watched->event_.get(),
                                           FD_ACCEPT | FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        error = WSAGetLastError();
        return nullptr;
    }
    return watched;
}

WSANETWORKEVENTS EventSocket::networkEvents() const {
    WSANETWORKEVENTS seen{};
    WSAEnumNetworkEvents(socket_.get(), event_.get(), &seen);
    return seen;
}

WaitEnd EventSocket::waitUntil(Clock::time_point deadline, WSANETWORKEVENTS& seen, const StopSignal* stop) const {
    const WaitEnd end = waitLettingMessagesThrough({event_.get()}, deadline, stop).end;
    if (end == WaitEnd::Signalled) seen = networkEvents();
    return end;
}

long EventSocket::startConnecting(const sockaddr* address, int length) const {
    return ::connect(get(), address, length) == 0 ? 0 : WSAGetLastError();
}

void EventSocket::resetOnClose() const {
    const linger abortive{1, 0};
    setsockopt(get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
}

}  // namespace kt
