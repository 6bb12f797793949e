#pragma once
// Where and how to reach the SMTP server, read from the text the host gives:
//   host, host:port, [IPv6], [IPv6]:port   (the port given, or the default)
//   smtp://host[:port]                     (25 unless given)
//   smtps://host[:port]                    (TLS from the first byte; 465 unless given)
// Port 465 means TLS from the first byte without the scheme too. Any other
// text is refused before it reaches a resolver.

#include <string>

namespace kt {

constexpr unsigned short kSmtpPort = 25;
constexpr unsigned short kImplicitTlsPort = 465;
constexpr unsigned short kSubmissionPort = 587;  // mail submission: TLS and a sign-in expected

struct ServerAddress {
    std::string host;
    unsigned short port = kSmtpPort;
    bool implicitTls = false;

    // The host as sign-ins know it: a host name knows no case, so one
    // profile and one stored sign-in serve it however it was written.
    std::string signInHost() const;
};

ServerAddress parseServerAddress(const std::wstring& server, unsigned short defaultPort);

}  // namespace kt
