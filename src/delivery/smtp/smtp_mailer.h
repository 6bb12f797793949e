#pragma once
// The SMTP mail component: collects one message through the operations of
// MailComponent and delivers it on Send over a transport it opens then. When
// the server wants a sign-in it has not had, the user is asked and the
// delivery tried again on a fresh connection. A watcher of the progress may
// stop the delivery.

#include <chrono>
#include <functional>
#include <memory>

#include "delivery/mail_component.h"
#include "delivery/message/mail_message.h"
#include "delivery/sign_in.h"
#include "delivery/smtp/smtp_session.h"
#include "delivery/message/text_part.h"
#include "delivery/sockets/transport.h"

namespace kt {

struct SmtpTimeouts {
    ConnectionTimeouts connection;
    ReplyTimeouts replies;  // for each reply of the server, however much it sends
};

class SmtpMailer final : public MailComponent {
public:
    // Without sign-ins, a server that wants one refuses the message.
    explicit SmtpMailer(TransportFactory connect, SmtpTimeouts timeouts = {},
                        std::shared_ptr<SignInProvider> signIns = nullptr,
                        std::shared_ptr<DeliveryProgress> progress = std::make_shared<DeliveryProgress>());

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
    std::vector<std::wstring> notices() const override { return signIns_ ? signIns_->notices() : std::vector<std::wstring>{}; }

    // Told once the server accepted the message, for the sender's own copy:
    // what makes the copy (what was sent, with a Bcc field naming the Bcc
    // recipients; the whole message, so made only when wanted), the sign-in's
    // scope and the sign-in given (null without one). What it throws is no
    // failure of the delivery.
    using CopyOfSent = std::function<std::string()>;
    using Accepted = std::function<void(const CopyOfSent& copy, const SignInScope& scope, const SignIn* given)>;
    void onAccepted(Accepted accepted) { accepted_ = std::move(accepted); }

    // The page that goes on after the body of an HTML message, kept as its
    // holder keeps it: a page of any size is never copied.
    void pageAfterBody(std::shared_ptr<const std::wstring> page) { pageAfterBody_ = std::move(page); }
    // The page's text made ahead, for a message that ends with the page.
    void pageTextAhead(std::shared_ptr<const PageTextAhead> ahead) { pageTextAhead_ = std::move(ahead); }
    // The page's pictures, which go inside the message where they fit.
    void pagePictures(std::shared_ptr<const PagePictures> pictures) { pagePictures_ = std::move(pictures); }

private:
    TransportFactory connect_;
    SmtpTimeouts timeouts_;
    std::shared_ptr<SignInProvider> signIns_;
    std::shared_ptr<DeliveryProgress> progress_;
    std::wstring server_;
    unsigned short port_ = 25;
    std::optional<std::wstring> fromName_;
    MailMessage message_;
    std::shared_ptr<const std::wstring> pageAfterBody_;
    std::shared_ptr<const PageTextAhead> pageTextAhead_;
    std::shared_ptr<const PagePictures> pagePictures_;
    Accepted accepted_;
};

}  // namespace kt
