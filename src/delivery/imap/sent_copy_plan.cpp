#include "delivery/imap/sent_copy_plan.h"

#include <algorithm>

#include "delivery/imap/imap_session.h"
#include "delivery/mail_error.h"
#include "foundation/characters.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

constexpr unsigned short kImapsPort = 993;
constexpr unsigned short kImapPort = 143;

const FilingProvider* filingProvider(const std::string& smtpHost) {
    for (const auto& provider : kFilingProviders)
        if (smtpHost == provider.smtpHost) return &provider;
    return nullptr;
}

bool isIpAddress(const std::string& host) {
    return host.find(':') != std::string::npos ||
           std::all_of(host.begin(), host.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// A host with no port named: TLS from the first byte, else STARTTLS on the
// port for it (a host that cannot be reached on one may be on the other).
std::vector<ImapServer> bothPorts(const std::string& host) {
    return {{host, kImapsPort, true}, {host, kImapPort, false}};
}

// "host", "host:port", "[IPv6]" or "[IPv6]:port"; port 993 means TLS from
// the first byte, any other STARTTLS.
std::vector<ImapServer> serversNamed(const std::wstring& setting) {
    const std::string text = toUtf8(withoutOuterBlanks(setting));
    const auto refuse = [&] {
        return mailError(MailFailure::InvalidServer, L"The IMAP server " + setting +
                                                         L" set for the Sent copy is no host or host:port.");
    };
    std::string host = text, port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) throw refuse();
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') throw refuse();
            port = text.substr(close + 2);
        }
    } else if (const auto colon = text.find(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    const bool hostOk = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == ':' || static_cast<unsigned char>(c) >= 0x80;
    });
    if (!hostOk) throw refuse();
    if (text.find(':') != std::string::npos && text.front() != '[' && port.empty()) throw refuse();
    if (port.empty()) return bothPorts(asciiLowerCase(host));
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw refuse();
    const unsigned long number = std::stoul(port);
    if (number < 1 || number > 65535) throw refuse();
    return {{asciiLowerCase(host), static_cast<unsigned short>(number), number == kImapsPort}};
}

}  // namespace

const std::vector<FilingProvider> kFilingProviders{
    {"Gmail", "smtp.gmail.com", "imap.gmail.com"},
    {"Gmail", "smtp.googlemail.com", "imap.gmail.com"},
    {"Outlook.com", "smtp-mail.outlook.com", "outlook.office365.com"},
    {"Microsoft 365", "smtp.office365.com", "outlook.office365.com"},
    {"Zoho", "smtp.zoho.com", "imap.zoho.com"},
    {"Zoho", "smtppro.zoho.com", "imappro.zoho.com"},
    {"Zoho", "smtp.zoho.eu", "imap.zoho.eu"},
    {"Zoho", "smtppro.zoho.eu", "imappro.zoho.eu"},
};

SentCopyMode sentCopyMode(const std::wstring& text) {
    const std::wstring word = asciiLowerCase(withoutOuterBlanks(text));
    if (word == L"always") return SentCopyMode::Always;
    if (word == L"never") return SentCopyMode::Never;
    return SentCopyMode::Auto;
}

std::optional<SentCopyPlan> sentCopyPlan(const std::string& smtpHost, const SentCopySettings& settings) {
    const SentCopyMode mode = sentCopyMode(settings.mode);
    const FilingProvider* provider = filingProvider(smtpHost);
    if (mode == SentCopyMode::Never || (mode == SentCopyMode::Auto && provider)) return std::nullopt;
    SentCopyPlan plan;
    plan.folder = imapMailboxName(withoutOuterBlanks(settings.folder));
    if (!withoutOuterBlanks(settings.server).empty()) {
        plan.servers = serversNamed(settings.server);
    } else if (provider) {
        plan.servers = {{provider->imapHost, kImapsPort, true}};
    } else {
        // An address or a name without a domain ("localhost") tells no IMAP
        // host: a copy is placed there only where the settings name one.
        const auto dot = smtpHost.find('.');
        if (isIpAddress(smtpHost) || dot == std::string::npos) {
            if (mode == SentCopyMode::Auto) return std::nullopt;
            throw mailError(MailFailure::InvalidServer,
                            L"no IMAP server can be told from the SMTP server " + fromUtf8(smtpHost) +
                                L"; the settings name none.");
        }
        // The SMTP host's domain: its first name goes where there is more than a domain.
        const bool domainAlone = smtpHost.find('.', dot + 1) == std::string::npos;
        plan.servers = bothPorts("imap." + (domainAlone ? smtpHost : smtpHost.substr(dot + 1)));
    }
    return plan;
}

}  // namespace kt
