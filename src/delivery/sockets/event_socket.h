#pragma once
// Winsock as the socket layer's parts share it: the library held while a
// socket lives, and a non-blocking socket whose every wait lets the thread's
// messages through, so that the windows keep repainting and answering.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <memory>

#include "foundation/message_pump.h"
#include "foundation/unique_handle.h"

namespace kt {

using Clock = std::chrono::steady_clock;

class WinsockStartup {
public:
    WinsockStartup();
    WinsockStartup(const WinsockStartup&) = delete;
    WinsockStartup& operator=(const WinsockStartup&) = delete;
    ~WinsockStartup();
};

using UniqueSocket = UniqueHandle<HandleTraits<SOCKET, &closesocket, INVALID_SOCKET>>;

class EventSocket {
public:
    // Null when no socket of the family can be made; `error` says why.
    static std::unique_ptr<EventSocket> open(int family, int type, int protocol, long& error);
    // Takes a socket made elsewhere (an accepted one); null when it cannot be watched.
    static std::unique_ptr<EventSocket> adopt(UniqueSocket socket, long& error);

    SOCKET get() const { return socket_.get(); }
    // Signalled when network events came; networkEvents() takes them and resets it.
    HANDLE event() const { return event_.get(); }
    WSANETWORKEVENTS networkEvents() const;

    // Waits for network events until the deadline; the events seen are in
    // `seen` (Signalled). The thread's messages go through meanwhile; `stop`
    // may end the wait (see waitLettingMessagesThrough).
    WaitEnd waitUntil(Clock::time_point deadline, WSANETWORKEVENTS& seen, const StopSignal* stop = nullptr) const;

    // Starts connecting: 0 when connected at once, WSAEWOULDBLOCK while it
    // goes on (FD_CONNECT tells its end), or the error.
    long startConnecting(const sockaddr* address, int length) const;

    // Closing resets the connection instead of ending it in order: the
    // server drops whatever part of a message it got.
    void resetOnClose() const;

private:
    explicit EventSocket(UniqueSocket socket);

    UniqueSocket socket_;
    UniqueHandle<HandleTraits<WSAEVENT, &WSACloseEvent>> event_;
};

}  // namespace kt
