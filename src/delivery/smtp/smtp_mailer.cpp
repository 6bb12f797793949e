#include "delivery/smtp/smtp_mailer.h"

#include <utility>

#include "delivery/message/address_rules.h"
#include "delivery/mail_error.h"
#include "delivery/message/mime_writer.h"
#include "delivery/smtp/server_address.h"
#include "delivery/smtp/smtp_session.h"
#include "foundation/utf8.h"
#include "foundation/scope_exit.h"

namespace kt {

namespace {

// The message, written as the session asks for it; a page with its
// plain-text part, made once (or mostly ahead), and the pictures that fit
// the server's limit inside it.
class WrittenMessage final : public OutgoingMessage {
public:
    WrittenMessage(const MailMessage& message, MessageStamp stamp, const PageTextAhead* ahead,
                   const PagePictures* pictures)
        : message_(message), stamp_(std::move(stamp)), text_(textPart(message, ahead)), pictures_(pictures) {}

    bool fitsEightBit() const override {
        return kt::fitsEightBit(message_.body) && (!message_.page || kt::fitsEightBit(*message_.page));
    }
    std::size_t size(const MessageForm& form) const override {
        return writeHeaders(message_, stamp_, form).size() +
               bodySize(message_, text_, stamp_, form.encoding, embeddingFor(form));
    }
    void write(const MessageForm& form, const BytesSink& sink) const override {
        sentForm_ = form;
        sink(writeHeaders(message_, stamp_, form));
        writeBody(message_, text_, stamp_, form.encoding, sink, embeddingFor(form));
    }
    // The bytes written last, the Bcc field added: the same writer, stamp and form give the same bytes.
    std::string keptCopy() const {
        std::string copy = withBccField(writeHeaders(message_, stamp_, sentForm_), message_, sentForm_);
        const Embedding& embedding = embeddingFor(sentForm_);
        copy.reserve(copy.size() + bodySize(message_, text_, stamp_, sentForm_.encoding, embedding));
        writeBody(message_, text_, stamp_, sentForm_.encoding, [&](const std::string& piece) { copy += piece; },
                  embedding);
        return copy;
    }

private:
    // The session counts the message, then writes it, in the same form.
    const Embedding& embeddingFor(const MessageForm& form) const {
        if (pictures_ && embeddedForm_ != form) {
            embedding_ = embeddingWithin(message_, text_, stamp_, form, *pictures_);
            embeddedForm_ = form;
        }
        return embedding_;
    }

    const MailMessage& message_;
    MessageStamp stamp_;
    TextPart text_;
    const PagePictures* pictures_;
    mutable std::optional<MessageForm> embeddedForm_;
    mutable Embedding embedding_;
    mutable MessageForm sentForm_;
};

// TLS from the first byte was asked of a server that speaks plain SMTP there.
ComponentError plainSmtpServer(const ServerAddress& server) {
    const std::wstring host = fromUtf8(server.host), port = std::to_wstring(server.port);
    const std::wstring hostAndPort = (host.find(L':') == std::wstring::npos ? host : L"[" + host + L"]") + L":" + port;
    return mailError(MailFailure::InvalidServer,
                     L"The server " + host + L" speaks plain SMTP on port " + port +
                         L", not TLS from the first byte: write smtp://" + hostAndPort +
                         L" to reach it (TLS then starts with STARTTLS where it offers it).");
}

}  // namespace

SmtpMailer::SmtpMailer(TransportFactory connect, SmtpTimeouts timeouts, std::shared_ptr<SignInProvider> signIns,
                       std::shared_ptr<DeliveryProgress> progress)
    : connect_(std::move(connect)), timeouts_(timeouts), signIns_(std::move(signIns)), progress_(std::move(progress)) {}

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
    const ScopeExit finished([this] { progress_->finish(); });
    if (!message_.from) throw mailError(MailFailure::NoSender, L"The message has no sender address.");
    Envelope envelope{message_.from->address, {}};
    for (const auto* list : {&message_.to, &message_.cc, &message_.bcc})
        for (const auto& mailbox : *list) envelope.recipients.push_back(mailbox.address);
    if (envelope.recipients.empty()) throw mailError(MailFailure::NoRecipients, L"The message has no recipients.");
    message_.page = message_.html ? pageAfterBody_ : nullptr;
    // A page that goes on within a line of the body encodes only with it.
    if (message_.page && !endsWithLineBreak(message_.body)) message_.body += *std::exchange(message_.page, nullptr);

    const WrittenMessage message(message_, stampMessage(message_.from->address), pageTextAhead_.get(),
                                 pagePictures_.get());
    const ServerAddress server = parseServerAddress(server_, port_);
    SessionSecurity security{server.host, server.implicitTls, server.port == kSubmissionPort};
    const SignInScope scope{server.signInHost(), message_.from->address.unicode()};
    progress_->server(server.host);
    std::optional<SignIn> signIn = signIns_ ? signIns_->stored(scope) : std::nullopt;
    security.signInAccepted = [&] { signIns_->answered(scope, true); };
    for (;;) {
        security.signIn = signIn ? &*signIn : nullptr;
        try {
            const auto transport = connect_(server.host, server.port, timeouts_.connection, *progress_);
            deliverOverSmtp(*transport, envelope, message, timeouts_.replies, security, progress_.get());
            if (accepted_) {
                try {
                    accepted_([&] { return message.keptCopy(); }, scope, signIn ? &*signIn : nullptr);
                } catch (...) {  // the message went all the same
                }
            }
            return;
        } catch (const PlainTextAnswer&) {
            if (!server.implicitTls) throw;
            throw plainSmtpServer(server);
        } catch (const SignInDemanded& demand) {
            if (!signIns_) throw;
            // A kept password that is refused is kept no longer: it would be tried on every send.
            if (signIn && demand.passwordRefused()) signIns_->answered(scope, false);
            signIn.reset();  // wiped before the next answer takes its place
            progress_->enter(DeliveryStep::SigningIn);
            signIn = signIns_->ask(scope, demand.passwordRefused());
            progress_->throwIfStopped();  // a Stop ends a sign-in that waited for the user
            if (!signIn)
                throw mailError(MailFailure::SignInCancelled, L"The sign-in to " + fromUtf8(server.host) +
                                                                  L" was cancelled; nothing was sent.");
        }
    }
}

}  // namespace kt
