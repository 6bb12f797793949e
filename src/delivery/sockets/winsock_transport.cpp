#include <algorithm>
#include <cstring>

#include "delivery/smtp/utf8.h"
#include "delivery/sockets/event_socket.h"
#include "delivery/sockets/socket_transport.h"
#include "foundation/api_error.h"
#include "tls/tls_channel.h"

namespace kt {
namespace {

using UniqueAddressInfo = UniqueHandle<HandleTraits<addrinfo*, &freeaddrinfo>>;

// The connection to the SMTP server: plain, or TLS once it is started.
class WinsockTransport final : public Transport, private RawConnection {
public:
    WinsockTransport(std::unique_ptr<WinsockStartup> startup, std::unique_ptr<EventSocket> socket,
                     std::chrono::milliseconds sendTimeout)
        : startup_(std::move(startup)), socket_(std::move(socket)), sendTimeout_(sendTimeout) {}

    void send(const std::string& bytes) override { tls_ ? tls_->send(bytes) : sendRaw(bytes); }

    std::string receive(std::chrono::milliseconds timeout) override {
        if (timeout.count() <= 0) throw apiError(WSAETIMEDOUT, L"The SMTP server did not answer in time");
        const auto deadline = Clock::now() + timeout;
        return tls_ ? tls_->receive(deadline) : receiveRaw(deadline);
    }

    std::string localAddressLiteral() const override {
        sockaddr_storage address{};
        int length = sizeof address;
        char text[NI_MAXHOST] = "127.0.0.1";
        if (getsockname(socket_->get(), reinterpret_cast<sockaddr*>(&address), &length) == 0)
            getnameinfo(reinterpret_cast<sockaddr*>(&address), length, text, sizeof text, nullptr, 0,
                        NI_NUMERICHOST);
        if (char* zone = std::strchr(text, '%')) *zone = '\0';  // a scope is no part of an address literal
        return address.ss_family == AF_INET6 ? std::string("[IPv6:") + text + "]" : std::string("[") + text + "]";
    }

    void startTls(const std::string& hostName, std::chrono::milliseconds timeout) override {
        tls_ = std::make_unique<TlsChannel>(static_cast<RawConnection&>(*this), hostName, Clock::now() + timeout);
    }
    bool encrypted() const override { return tls_ != nullptr; }

private:
    void sendRaw(const std::string& bytes) override {
        const auto deadline = writeDeadline(sendTimeout_, bytes.size());
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int chunk = static_cast<int>(bytes.size() - sent < (1u << 20) ? bytes.size() - sent : (1u << 20));
            const int n = ::send(socket_->get(), bytes.data() + sent, chunk, 0);
            if (n != SOCKET_ERROR) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) throw apiError(error, L"Sending to the SMTP server failed");
            WSANETWORKEVENTS seen;
            if (socket_->waitUntil(std::min(deadline, Clock::now() + sendTimeout_), seen) != WaitEnd::NetworkEvent)
                throw apiError(WSAETIMEDOUT, L"The SMTP server took nothing more");
        }
    }

    void sendRawAtOnce(const std::string& bytes) noexcept override {
        ::send(socket_->get(), bytes.data(), static_cast<int>(bytes.size()), 0);
    }

    std::string receiveRaw(Clock::time_point deadline) override {
        for (;;) {
            char buffer[16384];
            const int n = ::recv(socket_->get(), buffer, sizeof buffer, 0);
            if (n >= 0) return std::string(buffer, static_cast<std::size_t>(n));
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) throw apiError(error, L"Receiving from the SMTP server failed");
            WSANETWORKEVENTS seen;
            if (socket_->waitUntil(deadline, seen) != WaitEnd::NetworkEvent)
                throw apiError(WSAETIMEDOUT, L"The SMTP server did not answer in time");
        }
    }

    std::unique_ptr<WinsockStartup> startup_;  // outlives the socket
    std::unique_ptr<EventSocket> socket_;
    std::chrono::milliseconds sendTimeout_;
    std::unique_ptr<TlsChannel> tls_;  // ends before the socket it uses
};

}  // namespace

std::unique_ptr<Transport> connectSocket(const std::string& host, unsigned short port,
                                         const ConnectionTimeouts& timeouts) {
    auto startup = std::make_unique<WinsockStartup>();
    const auto deadline = Clock::now() + timeouts.connect;
    const std::wstring where = fromUtf8(host) + L":" + std::to_wstring(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    UniqueAddressInfo addresses;
    const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, addresses.put());
    if (lookup != 0) throw apiError(lookup, L"Looking up " + where + L" failed");

    long lastError = WSAECONNREFUSED;
    for (const addrinfo* candidate = addresses.get(); candidate; candidate = candidate->ai_next) {
        if (Clock::now() >= deadline) {
            lastError = WSAETIMEDOUT;
            break;
        }
        auto socket = EventSocket::open(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol, lastError);
        if (!socket) continue;
        lastError = socket->connect(candidate->ai_addr, static_cast<int>(candidate->ai_addrlen), deadline);
        if (lastError == 0) {
            // The dialogue waits for every reply: small writes must not wait for acknowledgements.
            const BOOL noDelay = TRUE;
            setsockopt(socket->get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
            return std::make_unique<WinsockTransport>(std::move(startup), std::move(socket), timeouts.send);
        }
    }
    throw apiError(lastError, L"Connecting to " + where + L" failed");
}

}  // namespace kt
