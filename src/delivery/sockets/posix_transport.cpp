#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/utf8.h"
#include "delivery/sockets/socket_transport.h"
#include "foundation/component_error.h"
#include "foundation/unique_handle.h"

namespace kt {
namespace {

using Clock = std::chrono::steady_clock;

// A failed call with the system's text for its code, or with `text` when given.
ComponentError socketError(int code, const std::wstring& doing, const char* text = nullptr) {
    return systemCallError(code, std::wstring(kComponentName) + L".Posix", fromUtf8(text ? text : std::strerror(code)),
                           doing);
}

using Socket = UniqueHandle<HandleTraits<int, &::close, -1>>;
using UniqueAddressInfo = UniqueHandle<HandleTraits<addrinfo*, &::freeaddrinfo>>;

// Waits until the socket is ready for some of `events` or the deadline
// passes; those it is ready for, none on time-out.
short waitUntil(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return 0;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) return entry.revents;
        if (ready < 0 && errno != EINTR) throw socketError(errno, L"Waiting for the server failed");
    }
}

// Connects within the deadline; 0, or the error code when it fails.
int connectWithin(const Socket& socket, const ResolvedAddress& address, Clock::time_point deadline) {
    ::fcntl(socket.get(), F_SETFL, ::fcntl(socket.get(), F_GETFL) | O_NONBLOCK);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(address.socketAddress.data()),
                  static_cast<socklen_t>(address.socketAddress.size())) == 0)
        return 0;
    if (errno != EINPROGRESS) return errno;
    if (!waitUntil(socket.get(), POLLOUT, deadline)) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    return error;
}

void setSendRoom(int socket, const SendRoom& room) {
    const int bytes = room.bytes();
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

// A thread without messages: a Stop can only have come before a wait.
class PosixTransport final : public Transport {
public:
    PosixTransport(Socket socket, const ConnectionTimeouts& timeouts, DeliveryProgress& progress)
        : socket_(std::move(socket)), timeouts_(timeouts), progress_(progress) {}

    void send(std::string_view bytes) override {
        const auto deadline = writeDeadline(timeouts_, bytes.size());
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(socket_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                progress_.wrote(static_cast<std::size_t>(n));
                if (room_.took(static_cast<std::size_t>(n), Clock::now())) setSendRoom(socket_.get(), room_);
            } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                progress_.throwIfStopped();
                room_.waiting(Clock::now());
                const short ready = waitUntil(socket_.get(), POLLOUT | POLLIN, std::min(deadline, Clock::now() + timeouts_.send));
                if (!ready) throw socketError(ETIMEDOUT, writeTimedOut(deadline));
                if (ready & (POLLIN | POLLHUP)) throw ServerSpokeFirst();
            } else {
                throw socketError(errno, L"Sending to the server failed");
            }
        }
    }

    std::string receive(std::chrono::milliseconds timeout) override {
        if (timeout.count() <= 0) throw socketError(ETIMEDOUT, L"The server did not answer in time");
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            char buffer[16384];
            const ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
            if (n >= 0) return std::string(buffer, static_cast<std::size_t>(n));
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                throw socketError(errno, L"Receiving from the server failed");
            progress_.throwIfStopped();
            if (!waitUntil(socket_.get(), POLLIN, deadline))
                throw socketError(ETIMEDOUT, L"The server did not answer in time");
        }
    }

    std::string localAddressLiteral() const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        char text[INET6_ADDRSTRLEN] = "127.0.0.1";
        if (::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            if (address.ss_family == AF_INET6) {
                ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
                return std::string("[IPv6:") + text + "]";
            }
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text, sizeof text);
        }
        return std::string("[") + text + "]";
    }

    // TLS is the Windows socket layer's; this one serves plain SMTP and the tests.
    void startTls(const std::string& hostName, std::chrono::milliseconds) override {
        throw socketError(EPROTONOSUPPORT, L"TLS with " + fromUtf8(hostName) + L" is not available on this system");
    }
    bool encrypted() const override { return false; }

private:
    Socket socket_;
    ConnectionTimeouts timeouts_;
    DeliveryProgress& progress_;
    SendRoom room_;
};

}  // namespace

std::unique_ptr<Transport> connectLookingUpWith(const AddressLookup& lookup, const std::string& host,
                                                unsigned short port, const ConnectionTimeouts& timeouts,
                                                DeliveryProgress& progress) {
    const auto deadline = Clock::now() + timeouts.connect;
    progress.enter(DeliveryStep::LookingUp);
    const auto addresses = interleavedByFamily(lookup(host, port));
    progress.enter(DeliveryStep::Connecting);
    int lastError = ECONNREFUSED;
    for (const ResolvedAddress& address : addresses) {
        if (Clock::now() >= deadline) {
            lastError = ETIMEDOUT;
            break;
        }
        progress.throwIfStopped();
        Socket socket(::socket(address.family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        lastError = socket ? connectWithin(socket, address, deadline) : errno;
        if (lastError == 0) {
            // The dialogue waits for every reply: small writes must not wait for acknowledgements.
            const int noDelay = 1;
            ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            setSendRoom(socket.get(), SendRoom());
            return std::make_unique<PosixTransport>(std::move(socket), timeouts, progress);
        }
    }
    throw socketError(lastError, L"Connecting to " + fromUtf8(host) + L":" + std::to_wstring(port) + L" failed");
}

std::vector<ResolvedAddress> systemLookup(const std::string& host, unsigned short port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    UniqueAddressInfo found;
    const int lookup = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, found.put());
    if (lookup != 0)
        throw socketError(lookup == EAI_SYSTEM ? errno : EHOSTUNREACH,
                          L"Looking up " + fromUtf8(host) + L":" + std::to_wstring(port) + L" failed",
                          ::gai_strerror(lookup));
    return resolvedAddresses(found.get());
}

}  // namespace kt
