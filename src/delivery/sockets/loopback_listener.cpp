#include "delivery/sockets/loopback_listener.h"

#include "delivery/sockets/event_socket.h"
#include "foundation/api_error.h"
#include "foundation/scope_exit.h"

namespace kt {
namespace {

constexpr std::size_t kLongestRequestHead = 16 * 1024;
// A browser sends its request at once; a connection it opened ahead and
// sends nothing on is dropped soon, lest it hold up the one that matters.
constexpr std::chrono::seconds kRequestTime{2};

}  // namespace

struct LoopbackListener::Sockets {
    WinsockStartup startup;  // outlives the sockets
    std::unique_ptr<EventSocket> listening;
    std::unique_ptr<EventSocket> request;  // the connection of the request last taken
    unsigned short port = 0;
};

LoopbackListener::LoopbackListener() : sockets_(std::make_unique<Sockets>()) {
    long error = 0;
    sockets_->listening = EventSocket::open(AF_INET, SOCK_STREAM, IPPROTO_TCP, error);
    if (!sockets_->listening) throw apiError(error, L"Listening for the browser's answer failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    const SOCKET socket = sockets_->listening->get();
    // No other program may take over the port and hear the answer.
    const BOOL exclusive = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    if (bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(socket, SOMAXCONN) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw apiError(WSAGetLastError(), L"Listening for the browser's answer failed");
    sockets_->port = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() = default;

unsigned short LoopbackListener::port() const { return sockets_->port; }

std::optional<SecretText> LoopbackListener::nextRequest(Clock::time_point deadline, const StopSignal& stop) {
    for (;;) {
        sockets_->request.reset();
        WSANETWORKEVENTS seen;
        const WaitEnd end = sockets_->listening->waitUntil(deadline, seen, &stop);
        if (end != WaitEnd::Signalled) return std::nullopt;
        if (!(seen.lNetworkEvents & FD_ACCEPT)) continue;
        UniqueSocket accepted(accept(sockets_->listening->get(), nullptr, nullptr));
        long error = 0;
        if (!accepted || !(sockets_->request = EventSocket::adopt(std::move(accepted), error))) continue;

        // The head, up to its empty line; a connection that sends none in time is dropped.
        SecretText head;
        head.reserve(kLongestRequestHead + 4096);  // never moved: nothing left behind unwiped
        const auto requestDeadline = std::min(deadline, Clock::now() + kRequestTime);
        char buffer[4096];
        const ScopeExit wipeBuffer([&] { SecureZeroMemory(buffer, sizeof buffer); });
        while (head.find("\r\n\r\n") == SecretText::npos && head.size() < kLongestRequestHead) {
            const int n = recv(sockets_->request->get(), buffer, sizeof buffer, 0);
            if (n > 0) {
                head.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK ||
                sockets_->request->waitUntil(requestDeadline, seen, &stop) != WaitEnd::Signalled)
                break;
        }
        if (stop.stopRequested()) return std::nullopt;
        if (head.find("\r\n\r\n") != SecretText::npos) return head;
    }
}

void LoopbackListener::answer(const std::string& html) {
    if (!sockets_->request) return;
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                 std::to_string(html.size()) + "\r\nConnection: close\r\n\r\n" + html;
    // A page of a few hundred bytes goes into the socket's buffer at once;
    // should the browser be gone, it has nothing to show it in anyway.
    send(sockets_->request->get(), response.data(), static_cast<int>(response.size()), 0);
    shutdown(sockets_->request->get(), SD_SEND);
    sockets_->request.reset();
}

}  // namespace kt
