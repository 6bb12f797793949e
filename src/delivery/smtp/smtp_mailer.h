#pragma once
// The SMTP mail component: collects one message through the operations of
// MailComponent and delivers it on Send over a transport it opens then.

#include <chrono>

#include "delivery/smtp/mail_component.h"
#include "delivery/smtp/mail_message.h"
#include "delivery/smtp/transport.h"

namespace kt {

struct SmtpTimeouts {
    ConnectionTimeouts connection;
    std::chrono::milliseconds reply{60000};  // for each reply of the server, however much it sends
};

// Where to connect: "host", "host:port", "[IPv6]" or "[IPv6]:port". A port in
// the text overrides the Port property.
struct ServerAddress {
    std::string host;
    unsigned short port = 25;
};
ServerAddress parseServerAddress(const std::wstring& server, unsigned short defaultPort);

class SmtpMailer final : public MailComponent {
public:
    explicit SmtpMailer(TransportFactory connect, SmtpTimeouts timeouts = {});

    void Server(const std::wstring& server) override;
    void Port(long port) override;
    void IsHTML(bool html) override;
    void FromAddress(const std::wstring& address) override;
    void FromName(const std::wstring& name) override;
    void AddTo(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) override;
    void AddCc(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) override;
    void AddBcc(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) override;
    void Subject(const std::wstring& subject) override;
    void Body(std::wstring body) override;
    void Send() override;

private:
    TransportFactory connect_;
    SmtpTimeouts timeouts_;
    std::wstring server_;
    unsigned short port_ = 25;
    std::optional<std::wstring> fromName_;
    MailMessage message_;
};

}  // namespace kt
