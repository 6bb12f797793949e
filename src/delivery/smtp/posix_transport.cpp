#include "delivery/smtp/posix_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/utf8.h"

namespace kt {
namespace {

std::wstring systemText(int code) { return fromUtf8(std::strerror(code)); }

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Waits until the socket is ready for `events`; false on time-out.
bool waitFor(int fd, short events, std::chrono::milliseconds timeout) {
    pollfd entry{fd, events, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) throw networkError(errno, L"Waiting for the SMTP server", systemText(errno));
    return ready > 0;
}

class PosixTransport final : public Transport {
public:
    PosixTransport(std::unique_ptr<Socket> socket, std::chrono::milliseconds sendTimeout)
        : socket_(std::move(socket)), sendTimeout_(sendTimeout) {}

    void send(const std::string& bytes) override {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(socket_->get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                if (!waitFor(socket_->get(), POLLOUT, sendTimeout_))
                    throw networkError(ETIMEDOUT, L"The SMTP server took nothing more", systemText(ETIMEDOUT));
            } else {
                throw networkError(errno, L"Sending to the SMTP server failed", systemText(errno));
            }
        }
    }

    std::string receive(std::chrono::milliseconds timeout) override {
        for (;;) {
            if (!waitFor(socket_->get(), POLLIN, timeout))
                throw networkError(ETIMEDOUT, L"The SMTP server did not answer in time", systemText(ETIMEDOUT));
            char buffer[16384];
            const ssize_t n = ::recv(socket_->get(), buffer, sizeof buffer, 0);
            if (n >= 0) return std::string(buffer, static_cast<std::size_t>(n));
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                throw networkError(errno, L"Receiving from the SMTP server failed", systemText(errno));
        }
    }

    std::string localAddressLiteral() const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        char text[INET6_ADDRSTRLEN] = "127.0.0.1";
        if (::getsockname(socket_->get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            if (address.ss_family == AF_INET6) {
                ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
                return std::string("[IPv6:") + text + "]";
            }
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text, sizeof text);
        }
        return std::string("[") + text + "]";
    }

private:
    std::unique_ptr<Socket> socket_;
    std::chrono::milliseconds sendTimeout_;
};

}  // namespace

std::unique_ptr<Transport> connectPosix(const std::string& host, unsigned short port,
                                        std::chrono::milliseconds connectTimeout) {
    const std::wstring where = fromUtf8(host) + L":" + std::to_wstring(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookup != 0)
        throw networkError(lookup == EAI_SYSTEM ? errno : EHOSTUNREACH, L"Looking up " + where + L" failed",
                           fromUtf8(::gai_strerror(lookup)));
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, ::freeaddrinfo);

    int lastError = ECONNREFUSED;
    for (const addrinfo* candidate = addresses.get(); candidate; candidate = candidate->ai_next) {
        auto socket = std::make_unique<Socket>(::socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC,
                                                        candidate->ai_protocol));
        if (socket->get() < 0) {
            lastError = errno;
            continue;
        }
        ::fcntl(socket->get(), F_SETFL, ::fcntl(socket->get(), F_GETFL) | O_NONBLOCK);
        if (::connect(socket->get(), candidate->ai_addr, candidate->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                lastError = errno;
                continue;
            }
            if (!waitFor(socket->get(), POLLOUT, connectTimeout)) {
                lastError = ETIMEDOUT;
                continue;
            }
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(socket->get(), SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                lastError = error;
                continue;
            }
        }
        return std::make_unique<PosixTransport>(std::move(socket), connectTimeout);
    }
    throw networkError(lastError, L"Connecting to " + where + L" failed", systemText(lastError));
}

}  // namespace kt
