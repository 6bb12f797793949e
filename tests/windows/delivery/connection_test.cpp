// Reaching a server without holding the window's thread: the waits let its
// messages through and end at their deadlines, and an address that drops
// packets holds the next one up by a quarter of a second, not the deadline.

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "delivery/smtp/smtp_mailer.h"
#include "delivery/sockets/socket_transport.h"
#include "foundation/component_error.h"
#include "support/test_servers.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

// Sends from me to Ann: the error number Send ended with (0: none) and how long it took.
auto deliver(TransportFactory network, SmtpTimeouts timeouts, const std::wstring& server,
             const std::wstring& subject = L"A subject") {
    SmtpMailer mailer(std::move(network), timeouts);
    mailer.Server(server);
    mailer.FromAddress(L"me@example.com");
    mailer.AddTo(L"ann@example.com");
    mailer.Subject(subject);
    const auto started = std::chrono::steady_clock::now();
    long number = 0;
    try {
        mailer.Send();
    } catch (const ComponentError& error) {
        number = error.number();
    }
    return std::pair{number, std::chrono::steady_clock::now() - started};
}

TEST(Connection, WaitingForASilentServerPumpsMessagesAndEndsAtTheTimeout) {
    const SilentServer silent;
    // Waiting for the greeting, and for the answer to TLS's first words.
    for (const std::wstring& server : {silent.server(), L"smtps://" + silent.server()}) {
        int ticks = 0;
        StepsOnTimer counting([&] { ++ticks; }, 10);
        EXPECT_EQ(deliver(connectSocket, {{1000ms, 1000ms}, ReplyTimeouts::all(800ms)}, server).first,
                  kApiErrorBase + WSAETIMEDOUT);
        EXPECT_GT(ticks, 10) << "the window's messages waited with the delivery";
    }
}

TEST(Connection, AnAddressThatDropsPacketsHoldsTheNextOneUpByAQuarterSecond) {
    const DroppingServer dropping;
    const Catcher catcher("catcher");
    const auto sendTo = [](std::vector<ResolvedAddress> addresses, const std::wstring& subject) {
        return deliver(socketsLookingUpWith([=](const std::string&, unsigned short) { return addresses; }),
                       {{3000ms}}, L"mail.example.com", subject);
    };
    // Alone, it is never reached: its attempt lasts until the deadline.
    const auto [alone, waited] = sendTo({loopbackAddress(dropping.port())}, uniqueSubject(L"Dropped"));
    EXPECT_EQ(alone, kApiErrorBase + WSAETIMEDOUT);
    EXPECT_GE(waited, 2900ms);
    // Before a good address, it costs the delay before the next attempt.
    const std::wstring subject = uniqueSubject(L"Raced");
    const auto [number, took] =
        sendTo({loopbackAddress(dropping.port()), loopbackAddress(static_cast<unsigned short>(catcher.port))}, subject);
    EXPECT_EQ(number, 0);
    EXPECT_GE(took, 240ms);
    EXPECT_LT(took, 2000ms);
    EXPECT_EQ(catcher.caught(subject).size(), 1u);
}

}  // namespace
}  // namespace kt::test
