#include "delivery/smtp/smtp_mailer.h"

#include "delivery/smtp/address_rules.h"
#include "delivery/smtp/characters.h"
#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/mime_writer.h"
#include "delivery/smtp/smtp_session.h"

namespace kt {
namespace {

bool isHostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_' || c == L':';
}

ComponentError invalidServer(const std::wstring& server) {
    return mailError(MailFailure::InvalidServer,
                     L"\"" + withControlsReplaced(server, L'?') + L"\" is not an SMTP server name.");
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

// The message, written as the session asks for it.
class WrittenMessage final : public OutgoingMessage {
public:
    WrittenMessage(const MailMessage& message, MessageStamp stamp) : message_(message), stamp_(std::move(stamp)) {}

    bool fitsEightBit() const override { return kt::fitsEightBit(message_.body); }
    void write(BodyEncoding encoding, const BytesSink& sink) const override {
        sink(writeHeaders(message_, stamp_, encoding));
        encodeBody(message_.body, encoding, sink);
    }

private:
    const MailMessage& message_;
    MessageStamp stamp_;
};

}  // namespace

ServerAddress parseServerAddress(const std::wstring& server, unsigned short defaultPort) {
    std::wstring host = server;
    unsigned short port = defaultPort;
    if (!host.empty() && host.front() == L'[') {
        const auto close = host.find(L']');
        if (close == std::wstring::npos) throw invalidServer(server);
        const std::wstring rest = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!rest.empty() && (rest[0] != L':' || !parsePort(rest.substr(1), port))) throw invalidServer(server);
    } else if (host.find(L':') == host.rfind(L':') && host.find(L':') != std::wstring::npos) {
        const auto colon = host.find(L':');
        if (!parsePort(host.substr(colon + 1), port)) throw invalidServer(server);
        host.erase(colon);
    }
    if (host.empty()) throw invalidServer(server);
    for (wchar_t c : host)
        if (!isHostCharacter(c)) throw invalidServer(server);
    return {std::string(host.begin(), host.end()), port};
}

SmtpMailer::SmtpMailer(TransportFactory connect, SmtpTimeouts timeouts)
    : connect_(std::move(connect)), timeouts_(timeouts) {}

void SmtpMailer::Server(const std::wstring& server) {
    parseServerAddress(server, port_);  // refuses what could never be a server now, not at Send
    server_ = server;
}

void SmtpMailer::Port(long port) {
    if (port < 1 || port > 65535)
        throw mailError(MailFailure::InvalidServer, L"The port " + std::to_wstring(port) + L" does not exist.");
    port_ = static_cast<unsigned short>(port);
}

void SmtpMailer::IsHTML(bool html) { message_.html = html; }

void SmtpMailer::FromAddress(const std::wstring& address) {
    message_.from = Mailbox{checkedAddress(address), fromName_};
}

void SmtpMailer::FromName(const std::wstring& name) {
    fromName_ = name;
    if (message_.from) message_.from->name = name;
}

void SmtpMailer::AddTo(const std::wstring& address, const std::optional<std::wstring>& name) {
    message_.to.push_back({checkedAddress(address), name});
}

void SmtpMailer::AddCc(const std::wstring& address, const std::optional<std::wstring>& name) {
    message_.cc.push_back({checkedAddress(address), name});
}

void SmtpMailer::AddBcc(const std::wstring& address, const std::optional<std::wstring>& name) {
    message_.bcc.push_back({checkedAddress(address), name});
}

void SmtpMailer::Subject(const std::wstring& subject) { message_.subject = subject; }

void SmtpMailer::Body(std::wstring body) { message_.body = std::move(body); }

void SmtpMailer::Send() {
    if (!message_.from) throw mailError(MailFailure::NoSender, L"The message has no sender address.");
    Envelope envelope{message_.from->address, {}};
    for (const auto* list : {&message_.to, &message_.cc, &message_.bcc})
        for (const auto& mailbox : *list) envelope.recipients.push_back(mailbox.address);
    if (envelope.recipients.empty()) throw mailError(MailFailure::NoRecipients, L"The message has no recipients.");

    const WrittenMessage message(message_, stampMessage(message_.from->address));
    const ServerAddress server = parseServerAddress(server_, port_);
    const auto transport = connect_(server.host, server.port, timeouts_.connection);
    deliverOverSmtp(*transport, envelope, message, timeouts_.reply);
}

}  // namespace kt
