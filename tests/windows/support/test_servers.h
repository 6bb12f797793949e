#pragma once
// Servers on loopback that misbehave in ways no SMTP catcher does: one that
// takes connections and never says a word, and one whose address drops every
// connection attempt, as a host does behind a firewall that drops packets.

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "delivery/sockets/socket_transport.h"

namespace kt::test {

class Winsock {
public:
    Winsock() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    ~Winsock() { WSACleanup(); }
};

// A listener on 127.0.0.1 with the given backlog; it never accepts on its own.
class Listener {
public:
    explicit Listener(int backlog);
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener();
    unsigned short port() const { return port_; }
    std::wstring server() const { return L"127.0.0.1:" + std::to_wstring(port_); }

protected:
    Winsock winsock_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
};

// Takes connections into its backlog and never says a word.
class SilentServer : public Listener {
public:
    SilentServer() : Listener(4) {}
    // Takes the waiting connection and closes it at once.
    void hangUp() const;
};

// Its queue is full (backlog 0, taken by a connection of its own), so the
// system drops every further attempt to connect: the client hears nothing.
class DroppingServer : public Listener {
public:
    DroppingServer();
    ~DroppingServer();

private:
    SOCKET queued_ = INVALID_SOCKET;
};

// 127.0.0.1 at the port, as a lookup gives it.
ResolvedAddress loopbackAddress(unsigned short port);

}  // namespace kt::test
