#include "delivery/smtp/server_address.h"

#include "foundation/characters.h"
#include "delivery/mail_error.h"

namespace kt {
namespace {

bool isHostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_';
}

// What an IPv6 address in brackets is written with (an IPv4 tail included).
bool isIpv6Character(wchar_t c) {
    return (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F') || (c >= L'0' && c <= L'9') || c == L':' ||
           c == L'.';
}

ComponentError invalidServer(const std::wstring& server) {
    return mailError(MailFailure::InvalidServer,
                     L"\"" + withControlsReplaced(server, L'?') +
                         L"\" is not an SMTP server. Write host, host:port, [IPv6 address]:port, "
                         L"smtp://host[:port] or smtps://host[:port].");
}

bool parsePort(const std::wstring& text, unsigned short& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<unsigned short>(value);
    return true;
}

// Removes the scheme (lower case) from the front of `text` when it is there, in any case.
bool takeScheme(std::wstring& text, const std::wstring& scheme) {
    if (asciiLowerCase(text.substr(0, scheme.size())) != scheme) return false;
    text.erase(0, scheme.size());
    return true;
}

}  // namespace

ServerAddress parseServerAddress(const std::wstring& server, unsigned short defaultPort) {
    std::wstring host = server;
    const bool implicitTls = takeScheme(host, L"smtps://");
    if (implicitTls) defaultPort = kImplicitTlsPort;
    else if (takeScheme(host, L"smtp://")) defaultPort = kSmtpPort;
    const bool schemeGiven = host.size() != server.size();

    unsigned short port = defaultPort;
    bool (*isAllowed)(wchar_t) = isHostCharacter;
    if (!host.empty() && host.front() == L'[') {
        const auto close = host.find(L']');
        if (close == std::wstring::npos) throw invalidServer(server);
        const std::wstring rest = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!rest.empty() && (rest[0] != L':' || !parsePort(rest.substr(1), port))) throw invalidServer(server);
        if (host.find(L':') == std::wstring::npos) throw invalidServer(server);  // brackets hold IPv6 alone
        isAllowed = isIpv6Character;
    } else if (const auto colon = host.find(L':'); colon != std::wstring::npos) {
        // One colon, before the port: an IPv6 address needs its brackets.
        if (!parsePort(host.substr(colon + 1), port)) throw invalidServer(server);
        host.erase(colon);
    }
    if (host.empty()) throw invalidServer(server);
    for (wchar_t c : host)
        if (!isAllowed(c)) throw invalidServer(server);
    return {std::string(host.begin(), host.end()), port, implicitTls || (!schemeGiven && port == kImplicitTlsPort)};
}

std::string ServerAddress::signInHost() const { return asciiLowerCase(host); }

}  // namespace kt
