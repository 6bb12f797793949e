#include "delivery/smtp/winsock_transport.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "controls/handles.h"
#include "controls/message_loop.h"
#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/utf8.h"
#include "settings/api_error.h"

namespace kt {
namespace {

using Clock = std::chrono::steady_clock;

std::wstring systemText(long code) {
    std::wstring text = GetApiErrorText(static_cast<unsigned long>(code));
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
    return text;
}

ComponentError socketError(long code, const std::wstring& doing) { return networkError(code, doing, systemText(code)); }

class WinsockStartup {
public:
    WinsockStartup() {
        WSADATA data;
        const int result = WSAStartup(MAKEWORD(2, 2), &data);
        if (result != 0) throw socketError(result, L"Starting Windows Sockets failed");
    }
    WinsockStartup(const WinsockStartup&) = delete;
    WinsockStartup& operator=(const WinsockStartup&) = delete;
    ~WinsockStartup() { WSACleanup(); }
};

using UniqueSocket = UniqueHandle<HandleTraits<SOCKET, &closesocket, INVALID_SOCKET>>;
using UniqueAddressInfo = UniqueHandle<HandleTraits<addrinfo*, &freeaddrinfo>>;

// A socket with its network-event object; the socket is non-blocking and
// every wait pumps the thread's messages.
class EventSocket {
public:
    explicit EventSocket(const addrinfo& address)
        : socket_(::socket(address.ai_family, address.ai_socktype, address.ai_protocol)),
          event_(WSACreateEvent()) {
        if (!socket_) throw socketError(WSAGetLastError(), L"Creating a socket failed");
        if (!event_) throw socketError(WSAGetLastError(), L"Creating a socket event failed");
        if (WSAEventSelect(socket_.get(), event_.get(), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0)
            throw socketError(WSAGetLastError(), L"Preparing the socket failed");
    }

    SOCKET get() const { return socket_.get(); }

    // Waits for network events until the deadline; false on time-out. The
    // events seen are returned in `seen`.
    bool waitUntil(Clock::time_point deadline, WSANETWORKEVENTS& seen) const {
        HANDLE event = event_.get();
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            const DWORD woke = MsgWaitForMultipleObjectsEx(1, &event, static_cast<DWORD>(left), QS_ALLINPUT,
                                                           MWMO_INPUTAVAILABLE);
            if (woke == WAIT_OBJECT_0) {
                seen = {};
                WSAEnumNetworkEvents(socket_.get(), event_.get(), &seen);
                return true;
            }
            if (woke == WAIT_OBJECT_0 + 1) {
                pumpWaitingMessages();
                continue;
            }
            if (woke == WAIT_TIMEOUT) return false;
            throw socketError(static_cast<long>(GetLastError()), L"Waiting for the SMTP server failed");
        }
    }

private:
    UniqueSocket socket_;
    UniqueKernelHandle event_;
};

class WinsockTransport final : public Transport {
public:
    WinsockTransport(std::unique_ptr<WinsockStartup> startup, std::unique_ptr<EventSocket> socket,
                     std::chrono::milliseconds sendTimeout)
        : startup_(std::move(startup)), socket_(std::move(socket)), sendTimeout_(sendTimeout) {}

    void send(const std::string& bytes) override {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int chunk = static_cast<int>(bytes.size() - sent < (1u << 20) ? bytes.size() - sent : (1u << 20));
            const int n = ::send(socket_->get(), bytes.data() + sent, chunk, 0);
            if (n != SOCKET_ERROR) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) throw socketError(error, L"Sending to the SMTP server failed");
            WSANETWORKEVENTS seen;
            if (!socket_->waitUntil(Clock::now() + sendTimeout_, seen))
                throw socketError(WSAETIMEDOUT, L"The SMTP server took nothing more");
        }
    }

    std::string receive(std::chrono::milliseconds timeout) override {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            char buffer[16384];
            const int n = ::recv(socket_->get(), buffer, sizeof buffer, 0);
            if (n >= 0) return std::string(buffer, static_cast<std::size_t>(n));
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) throw socketError(error, L"Receiving from the SMTP server failed");
            WSANETWORKEVENTS seen;
            if (!socket_->waitUntil(deadline, seen))
                throw socketError(WSAETIMEDOUT, L"The SMTP server did not answer in time");
        }
    }

    std::string localAddressLiteral() const override {
        sockaddr_storage address{};
        int length = sizeof address;
        char text[NI_MAXHOST] = "127.0.0.1";
        if (getsockname(socket_->get(), reinterpret_cast<sockaddr*>(&address), &length) == 0)
            getnameinfo(reinterpret_cast<sockaddr*>(&address), length, text, sizeof text, nullptr, 0,
                        NI_NUMERICHOST);
        return address.ss_family == AF_INET6 ? std::string("[IPv6:") + text + "]" : std::string("[") + text + "]";
    }

private:
    std::unique_ptr<WinsockStartup> startup_;  // outlives the socket
    std::unique_ptr<EventSocket> socket_;
    std::chrono::milliseconds sendTimeout_;
};

// Connects one candidate address; the error code when it fails.
long tryConnect(const EventSocket& socket, const addrinfo& address, Clock::time_point deadline) {
    if (::connect(socket.get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    for (;;) {
        WSANETWORKEVENTS seen;
        if (!socket.waitUntil(deadline, seen)) return WSAETIMEDOUT;
        if (seen.lNetworkEvents & FD_CONNECT) return seen.iErrorCode[FD_CONNECT_BIT];
    }
}

}  // namespace

std::unique_ptr<Transport> connectWinsock(const std::string& host, unsigned short port,
                                          std::chrono::milliseconds connectTimeout) {
    auto startup = std::make_unique<WinsockStartup>();
    const std::wstring where = fromUtf8(host) + L":" + std::to_wstring(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    UniqueAddressInfo addresses;
    const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, addresses.put());
    if (lookup != 0) throw socketError(lookup, L"Looking up " + where + L" failed");

    const auto deadline = Clock::now() + connectTimeout;
    long lastError = WSAECONNREFUSED;
    for (const addrinfo* candidate = addresses.get(); candidate; candidate = candidate->ai_next) {
        auto socket = std::make_unique<EventSocket>(*candidate);
        lastError = tryConnect(*socket, *candidate, deadline);
        if (lastError == 0) return std::make_unique<WinsockTransport>(std::move(startup), std::move(socket), connectTimeout);
    }
    throw socketError(lastError, L"Connecting to " + where + L" failed");
}

}  // namespace kt
