// The Winsock layer of the mail component keeps the thread's messages moving
// while it waits for a server, and gives up after the reply time-out.

#include <gtest/gtest.h>
#include <winsock2.h>

#include "delivery/smtp/smtp_mailer.h"
#include "delivery/sockets/socket_transport.h"
#include "foundation/component_error.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

TEST(WinsockTransport, WaitingForASilentServerPumpsMessagesAndEndsAtTheTimeout) {
    // A server that takes connections into its backlog and never says a word.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET silent = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(silent, reinterpret_cast<sockaddr*>(&address), length);
    listen(silent, 4);
    getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);

    int ticks = 0;
    StepsOnTimer counting(std::deque<std::function<void()>>(200, [&] { ++ticks; }), 10);
    SmtpMailer mailer(connectSocket, SmtpTimeouts{{1000ms, 1000ms}, 800ms});
    mailer.Server(L"127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)));
    mailer.FromAddress(L"me@example.com");
    mailer.AddTo(L"ann@example.com");
    const auto started = std::chrono::steady_clock::now();
    try {
        mailer.Send();
        ADD_FAILURE() << "a silent server took the message";
    } catch (const ComponentError& error) {
        EXPECT_EQ(error.number(), kApiErrorBase + WSAETIMEDOUT);
        EXPECT_NE(error.description().find(L"the greeting"), std::wstring::npos);
    }
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 700ms);
    EXPECT_LT(waited, 5s);
    EXPECT_GT(ticks, 10) << "the window's messages waited with the delivery";
    closesocket(silent);
    WSACleanup();
}

}  // namespace
}  // namespace kt::test
