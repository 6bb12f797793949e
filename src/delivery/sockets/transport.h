#pragma once
// A connection to an SMTP server, as the session uses it. The socket layer
// differs by platform (Winsock, POSIX); the dialogue does not.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "delivery/sockets/delivery_progress.h"
#include "foundation/component_error.h"

namespace kt {

// What startTls throws when the server answers TLS's first words in plain
// text: it speaks the protocol there without TLS.
class PlainTextAnswer : public ComponentError {
public:
    explicit PlainTextAnswer(const ComponentError& failure) : ComponentError(failure) {}
};

// What startTls throws when the server closes the connection during the handshake.
class ClosedDuringHandshake : public ComponentError {
public:
    explicit ClosedDuringHandshake(const ComponentError& failure) : ComponentError(failure) {}
};

// What send throws when the server speaks, or hangs up, while a write waits
// for it to take more: a server that refuses a message before its end does.
class ServerSpokeFirst : public ComponentError {
public:
    ServerSpokeFirst();
};

// Every wait of a transport ends at once with DeliveryStopped when its
// delivery's progress asks to stop; the connection is then reset, so that the
// server discards whatever part of the message it got.
class Transport {
public:
    virtual ~Transport() = default;

    // Sends every byte or throws; fails when the server takes nothing for
    // longer than the send time-out, or the whole write outlasts its
    // writeDeadline, and with ServerSpokeFirst. Tells the progress of each
    // part written.
    virtual void send(std::string_view bytes) = 0;
    // Bytes that arrived within the timeout; empty when the server closed the
    // connection. Throws on a time-out (at once when no time is left) or a
    // network failure.
    virtual std::string receive(std::chrono::milliseconds timeout) = 0;
    // This end's address as an SMTP address literal, for EHLO: "[127.0.0.1]".
    virtual std::string localAddressLiteral() const = 0;

    // Turns the connection into TLS (1.2 or later) within the time-out: the
    // handshake, then the server's certificate checked for `hostName`. Throws
    // when the server cannot be trusted or TLS is not available here,
    // PlainTextAnswer at once when the server answers in plain text, and
    // ClosedDuringHandshake when it hangs up.
    virtual void startTls(const std::string& hostName, std::chrono::milliseconds timeout) = 0;
    virtual bool encrypted() const = 0;
};

struct ConnectionTimeouts {
    // For the whole connection: every address of the server is tried in turn,
    // the next one when one fails, until one connects or this time is up.
    std::chrono::milliseconds connect{30000};
    // How long the server may take nothing of what is sent (RFC 5321
    // 4.5.3.2.5); a whole write may take as long again and a second for
    // every 10 KB.
    std::chrono::milliseconds send{std::chrono::minutes(3)};
    // No write lasts past this, however the server takes it: for work that
    // has a time in all, such as the Sent copy.
    std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max();
};

// When a write of this many bytes must be done: a server that takes a byte
// now and then cannot hold the delivery for ever.
inline std::chrono::steady_clock::time_point writeDeadline(const ConnectionTimeouts& timeouts, std::size_t bytes) {
    const auto now = std::chrono::steady_clock::now();
    const auto allowed = timeouts.send + std::chrono::milliseconds(bytes / 10);
    return timeouts.until - now > allowed ? now + allowed : timeouts.until;
}

// Why a write that waited in vain ended: the server took nothing for the
// send time-out, or the whole write outlasted `deadline` while it still took some.
inline const wchar_t* writeTimedOut(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::steady_clock::now() >= deadline ? L"The server did not take all of it in time"
                                                        : L"The server took nothing more";
}

// Opens a connection: looks the host up and connects, telling `progress`
// of both; the transport keeps `progress` for its writes and waits.
using TransportFactory = std::function<std::unique_ptr<Transport>(
    const std::string& host, unsigned short port, const ConnectionTimeouts& timeouts, DeliveryProgress& progress)>;

}  // namespace kt
