#include "delivery/sockets/event_socket.h"

#include <algorithm>

#include "foundation/api_error.h"
#include "foundation/message_pump.h"

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

WaitEnd EventSocket::waitUntil(Clock::time_point deadline, WSANETWORKEVENTS& seen,
                               const std::function<bool()>& stop) const {
    HANDLE event = event_.get();
    for (;;) {
        if (stop && stop()) return WaitEnd::Stopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // Whatever ran in the messages may have outlasted the deadline: what
        // arrived meanwhile still counts.
        const DWORD wait = static_cast<DWORD>(std::max<long long>(left, 0));
        const DWORD woke = quitSeen_ ? WaitForSingleObject(event, wait)
                                     : MsgWaitForMultipleObjectsEx(1, &event, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            seen = {};
            WSAEnumNetworkEvents(socket_.get(), event_.get(), &seen);
            return WaitEnd::NetworkEvent;
        }
        if (woke == WAIT_TIMEOUT || left <= 0) return WaitEnd::TimedOut;
        if (woke != WAIT_OBJECT_0 + 1)
            throw apiError(static_cast<long>(GetLastError()), L"Waiting for the network failed");
        // A quit stays in the queue for the thread's loop, and would wake every
        // wait at once; a wait that can stop, stops for it.
        quitSeen_ = pumpWaitingMessages();
        if (quitSeen_ && stop) return WaitEnd::Stopped;
    }
}

long EventSocket::connect(const sockaddr* address, int length, Clock::time_point deadline) const {
    if (::connect(get(), address, length) == 0) return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    for (;;) {
        WSANETWORKEVENTS seen;
        if (waitUntil(deadline, seen) != WaitEnd::NetworkEvent) return WSAETIMEDOUT;
        if (seen.lNetworkEvents & FD_CONNECT) return seen.iErrorCode[FD_CONNECT_BIT];
    }
}

}  // namespace kt
