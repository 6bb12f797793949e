#pragma once
// Winsock as the socket layer's parts share it: the library held while a
// socket lives, and a non-blocking socket whose every wait lets the thread's
// messages through, so that the windows keep repainting and answering.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>

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

// How a wait ended.
enum class WaitEnd { NetworkEvent, TimedOut, Stopped };

class EventSocket {
public:
    // Null when no socket of the family can be made; `error` says why.
    static std::unique_ptr<EventSocket> open(int family, int type, int protocol, long& error);
    // Takes a socket made elsewhere (an accepted one); null when it cannot be watched.
    static std::unique_ptr<EventSocket> adopt(UniqueSocket socket, long& error);

    SOCKET get() const { return socket_.get(); }

    // Waits for network events until the deadline; the events seen are in
    // `seen`. The thread's messages go through meanwhile, until the thread is
    // told to quit; after each, `stop` (when given) may end the wait, as the
    // quit does then.
    WaitEnd waitUntil(Clock::time_point deadline, WSANETWORKEVENTS& seen,
                      const std::function<bool()>& stop = nullptr) const;

    // Connects within the deadline; 0, or the error code when it fails.
    long connect(const sockaddr* address, int length, Clock::time_point deadline) const;

private:
    explicit EventSocket(UniqueSocket socket);

    UniqueSocket socket_;
    UniqueHandle<HandleTraits<WSAEVENT, &WSACloseEvent>> event_;
    mutable bool quitSeen_ = false;
};

}  // namespace kt
