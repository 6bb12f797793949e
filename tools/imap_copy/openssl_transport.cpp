#include "openssl_transport.h"

#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/unique_handle.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

using Socket = UniqueHandle<HandleTraits<int, &::close, -1>>;
using UniqueAddressInfo = UniqueHandle<HandleTraits<addrinfo*, &::freeaddrinfo>>;
using UniqueSslContext = UniqueHandle<HandleTraits<SSL_CTX*, &::SSL_CTX_free>>;
using UniqueSsl = UniqueHandle<HandleTraits<SSL*, &::SSL_free>>;

ComponentError failed(const std::string& what) {
    const unsigned long code = ERR_get_error();
    char text[256] = "";
    if (code) ERR_error_string_n(code, text, sizeof text);
    return ComponentError(kApiErrorBase + (code ? 1 : errno), L"imap_copy.OpenSSL",
                          fromUtf8(what + ": " + (code ? text : std::strerror(errno))));
}

class OpenSslTransport final : public Transport {
public:
    OpenSslTransport(Socket socket, std::string caFile, std::chrono::steady_clock::time_point until)
        : socket_(std::move(socket)), caFile_(std::move(caFile)), until_(until) {}

    void send(std::string_view bytes) override {
        while (!bytes.empty()) {
            // Each write waits at most 10 s, and none past the connection's end.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) throw ComponentError(kApiErrorBase + ETIMEDOUT, L"imap_copy", L"The server took nothing more");
            timeOut(SO_SNDTIMEO, std::min<std::chrono::milliseconds>(left, std::chrono::seconds(10)));
            const int n = ssl_ ? SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size()))
                               : static_cast<int>(::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL));
            if (n <= 0) throw failed("Sending to the server failed");
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    std::string receive(std::chrono::milliseconds timeout) override {
        if (timeout.count() <= 0) throw ComponentError(kApiErrorBase + ETIMEDOUT, L"imap_copy", L"The server did not answer in time");
        timeOut(SO_RCVTIMEO, timeout);
        char buffer[16384];
        const int n = ssl_ ? SSL_read(ssl_.get(), buffer, sizeof buffer)
                           : static_cast<int>(::recv(socket_.get(), buffer, sizeof buffer, 0));
        if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
        if (n == 0 || (ssl_ && SSL_get_error(ssl_.get(), n) == SSL_ERROR_ZERO_RETURN)) return {};
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            throw ComponentError(kApiErrorBase + ETIMEDOUT, L"imap_copy", L"The server did not answer in time");
        throw failed("Receiving from the server failed");
    }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }
    void startTls(const std::string& hostName, std::chrono::milliseconds timeout) override {
        context_.reset(SSL_CTX_new(TLS_client_method()));
        SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
        if (SSL_CTX_load_verify_locations(context_.get(), caFile_.c_str(), nullptr) != 1)
            throw failed("Reading the certificate authority failed");
        SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
        ssl_.reset(SSL_new(context_.get()));
        SSL_set_fd(ssl_.get(), socket_.get());
        SSL_set_tlsext_host_name(ssl_.get(), hostName.c_str());
        SSL_set1_host(ssl_.get(), hostName.c_str());
        timeOut(SO_RCVTIMEO, timeout);
        if (SSL_connect(ssl_.get()) != 1) {
            ssl_.reset();
            throw failed("The TLS handshake failed");
        }
    }
    bool encrypted() const override { return static_cast<bool>(ssl_); }

private:
    void timeOut(int option, std::chrono::milliseconds timeout) {
        timeval limit{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
        ::setsockopt(socket_.get(), SOL_SOCKET, option, &limit, sizeof limit);
    }

    Socket socket_;
    std::string caFile_;
    std::chrono::steady_clock::time_point until_;
    UniqueSslContext context_;
    UniqueSsl ssl_;
};

}  // namespace

std::unique_ptr<Transport> connectWithOpenSsl(const std::string& host, unsigned short port, const std::string& caFile,
                                              const ConnectionTimeouts& timeouts) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    UniqueAddressInfo found;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, found.put()) != 0)
        throw ComponentError(kApiErrorBase + EHOSTUNREACH, L"imap_copy", L"Looking up " + fromUtf8(host) + L" failed");
    for (const addrinfo* entry = found.get(); entry; entry = entry->ai_next) {
        Socket socket(::socket(entry->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        timeval limit{static_cast<time_t>(timeouts.connect.count() / 1000), 0};
        ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (socket && ::connect(socket.get(), entry->ai_addr, entry->ai_addrlen) == 0)
            return std::make_unique<OpenSslTransport>(std::move(socket), caFile, timeouts.until);
    }
    throw failed("Connecting to " + host + ":" + std::to_string(port) + " failed");
}

}  // namespace kt
