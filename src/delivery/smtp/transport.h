#pragma once
// A connection to an SMTP server, as the session uses it. The socket layer
// differs by platform (Winsock, POSIX); the dialogue does not.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace kt {

class Transport {
public:
    virtual ~Transport() = default;

    // Sends every byte or throws.
    virtual void send(const std::string& bytes) = 0;
    // Bytes that arrived within the timeout; empty when the server closed the
    // connection. Throws on a time-out or a network failure.
    virtual std::string receive(std::chrono::milliseconds timeout) = 0;
    // This end's address as an SMTP address literal, for EHLO: "[127.0.0.1]".
    virtual std::string localAddressLiteral() const = 0;
};

using TransportFactory = std::function<std::unique_ptr<Transport>(
    const std::string& host, unsigned short port, std::chrono::milliseconds connectTimeout)>;

}  // namespace kt
