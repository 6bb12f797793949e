#include <algorithm>
#include <cstring>

#include "foundation/utf8.h"
#include "delivery/sockets/background_lookup.h"
#include "delivery/sockets/event_socket.h"
#include "delivery/sockets/socket_transport.h"
#include "foundation/api_error.h"
#include "tls/tls_channel.h"

namespace kt {
namespace {

using UniqueAddressInfo = UniqueHandle<HandleTraits<addrinfo*, &freeaddrinfo>>;

// The wait before the next address is tried while the last still tries (RFC 8305, 5).
constexpr std::chrono::milliseconds kConnectionAttemptDelay{250};

void setSendRoom(SOCKET socket, const SendRoom& room) {
    const int bytes = room.bytes();
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

// The connection to a mail server: plain, or TLS once it is started.
class WinsockTransport final : public Transport, private RawConnection {
public:
    WinsockTransport(std::unique_ptr<WinsockStartup> startup, std::unique_ptr<EventSocket> socket,
                     const ConnectionTimeouts& timeouts, DeliveryProgress& progress)
        : startup_(std::move(startup)), socket_(std::move(socket)), timeouts_(timeouts), progress_(progress) {}

    void send(std::string_view bytes) override { tls_ ? tls_->send(bytes) : sendRaw(bytes, bytes.size()); }

    std::string receive(std::chrono::milliseconds timeout) override {
        if (timeout.count() <= 0) throw apiError(WSAETIMEDOUT, L"The server did not answer in time");
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
        tls_ = std::make_unique<TlsChannel>(static_cast<RawConnection&>(*this), hostName, Clock::now() + timeout,
                                            progress_);
    }
    bool encrypted() const override { return tls_ != nullptr; }

private:
    void sendRaw(std::string_view bytes, std::size_t carried) override {
        const auto deadline = writeDeadline(timeouts_, bytes.size());
        std::size_t sent = 0, told = 0;
        while (sent < bytes.size()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1u << 20));
            const int n = ::send(socket_->get(), bytes.data() + sent, chunk, 0);
            if (n != SOCKET_ERROR) {
                sent += static_cast<std::size_t>(n);
                if (room_.took(static_cast<std::size_t>(n), Clock::now())) setSendRoom(socket_->get(), room_);
                const std::size_t carriedSoFar = carried * sent / bytes.size();
                progress_.wrote(carriedSoFar - told);
                told = carriedSoFar;
                continue;
            }
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) throw apiError(error, L"Sending to the server failed");
            room_.waiting(Clock::now());
            WSANETWORKEVENTS seen;
            if (wait(std::min(deadline, Clock::now() + timeouts_.send), seen) != WaitEnd::Signalled)
                throw apiError(WSAETIMEDOUT, writeTimedOut(deadline));
            if (seen.lNetworkEvents & (FD_READ | FD_CLOSE)) throw ServerSpokeFirst();
        }
    }

    void sendRawAtOnce(std::string_view bytes) noexcept override {
        if (!stopped_) ::send(socket_->get(), bytes.data(), static_cast<int>(bytes.size()), 0);
    }

    std::string receiveRaw(Clock::time_point deadline) override {
        for (;;) {
            char buffer[16384];
            const int n = ::recv(socket_->get(), buffer, sizeof buffer, 0);
            if (n >= 0) return std::string(buffer, static_cast<std::size_t>(n));
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) throw apiError(error, L"Receiving from the server failed");
            WSANETWORKEVENTS seen;
            if (wait(deadline, seen) != WaitEnd::Signalled)
                throw apiError(WSAETIMEDOUT, L"The server did not answer in time");
        }
    }

    // A wait that a Stop ends, or a quit while the delivery can stop: the
    // connection is reset, so the server drops any part of the message it
    // got, and TLS says no goodbye. The verdict on a message is waited for.
    WaitEnd wait(Clock::time_point deadline, WSANETWORKEVENTS& seen) {
        const WaitEnd end = socket_->waitUntil(deadline, seen, &progress_);
        if (end != WaitEnd::Stopped) return end;
        stopped_ = true;
        socket_->resetOnClose();
        throw DeliveryStopped();
    }

    std::unique_ptr<WinsockStartup> startup_;  // outlives the socket
    std::unique_ptr<EventSocket> socket_;
    ConnectionTimeouts timeouts_;
    DeliveryProgress& progress_;
    SendRoom room_;
    bool stopped_ = false;
    std::unique_ptr<TlsChannel> tls_;  // ends before the socket it uses
};

// The system's addresses for a TCP connection to host and port; 0, or the lookup's error.
int addressInfo(const std::string& host, unsigned short port, int flags, UniqueAddressInfo& found) {
    addrinfo hints{};
    hints.ai_flags = flags;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    return getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, found.put());
}

// Connects to one of the addresses by the deadline, racing them (RFC 8305):
// the next starts 250 ms after the one before, or at once when that one
// failed; the first to connect wins and the others are closed. Null when
// none connected; `lastError` says why.
std::unique_ptr<EventSocket> connectRacing(const std::vector<ResolvedAddress>& addresses, Clock::time_point deadline,
                                           const StopSignal& stop, long& lastError) {
    std::vector<std::unique_ptr<EventSocket>> attempts;
    std::size_t next = 0;
    auto nextStart = Clock::now();
    for (;;) {
        if (Clock::now() >= deadline) {
            lastError = WSAETIMEDOUT;
            return nullptr;
        }
        if (next < addresses.size() && Clock::now() >= nextStart) {
            const ResolvedAddress& address = addresses[next++];
            auto socket = EventSocket::open(address.family, SOCK_STREAM, IPPROTO_TCP, lastError);
            const long started = socket ? socket->startConnecting(
                                              reinterpret_cast<const sockaddr*>(address.socketAddress.data()),
                                              static_cast<int>(address.socketAddress.size()))
                                        : lastError;
            if (started == 0) return socket;
            if (started == WSAEWOULDBLOCK) {
                attempts.push_back(std::move(socket));
                nextStart = Clock::now() + kConnectionAttemptDelay;
            } else {
                lastError = started;
            }
            continue;
        }
        if (attempts.empty()) {
            if (next == addresses.size()) return nullptr;
            nextStart = Clock::now();  // the last attempt failed at once: the next one now
            continue;
        }
        std::vector<HANDLE> events;
        for (const auto& attempt : attempts) events.push_back(attempt->event());
        const auto until = next < addresses.size() ? std::min(deadline, nextStart) : deadline;
        const WaitResult woke = waitLettingMessagesThrough(events, until, &stop);
        if (woke.end == WaitEnd::Stopped) throw DeliveryStopped();
        if (woke.end == WaitEnd::TimedOut) continue;  // time for the next attempt, or none left
        const WSANETWORKEVENTS seen = attempts[woke.index]->networkEvents();
        if (!(seen.lNetworkEvents & FD_CONNECT)) continue;
        if (seen.iErrorCode[FD_CONNECT_BIT] == 0) return std::move(attempts[woke.index]);
        lastError = seen.iErrorCode[FD_CONNECT_BIT];
        attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(woke.index));
        nextStart = Clock::now();
    }
}

}  // namespace

std::unique_ptr<Transport> connectLookingUpWith(const AddressLookup& lookup, const std::string& host,
                                                unsigned short port, const ConnectionTimeouts& timeouts,
                                                DeliveryProgress& progress) {
    auto startup = std::make_unique<WinsockStartup>();
    const auto deadline = Clock::now() + timeouts.connect;
    progress.enter(DeliveryStep::LookingUp);
    // A numeric address needs no lookup, nor a thread for one.
    UniqueAddressInfo numeric;
    const auto addresses = interleavedByFamily(addressInfo(host, port, AI_NUMERICHOST, numeric) == 0
                                                   ? resolvedAddresses(numeric.get())
                                                   : lookUpInBackground(lookup, host, port, deadline, progress));
    progress.enter(DeliveryStep::Connecting);
    long lastError = WSAECONNREFUSED;
    auto socket = connectRacing(addresses, deadline, progress, lastError);
    if (!socket)
        throw apiError(lastError, L"Connecting to " + fromUtf8(host) + L":" + std::to_wstring(port) + L" failed");
    // The dialogue waits for every reply: small writes must not wait for acknowledgements.
    const BOOL noDelay = TRUE;
    setsockopt(socket->get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    setSendRoom(socket->get(), SendRoom());
    return std::make_unique<WinsockTransport>(std::move(startup), std::move(socket), timeouts, progress);
}

std::vector<ResolvedAddress> systemLookup(const std::string& host, unsigned short port) {
    const WinsockStartup startup;
    UniqueAddressInfo found;
    const int lookup = addressInfo(host, port, 0, found);
    if (lookup != 0)
        throw apiError(lookup, L"Looking up " + fromUtf8(host) + L":" + std::to_wstring(port) + L" failed");
    return resolvedAddresses(found.get());
}

}  // namespace kt
