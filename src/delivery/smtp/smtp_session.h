#pragma once
// The SMTP dialogue (RFC 5321) for one message: greeting, EHLO (HELO when the
// server does not know EHLO), STARTTLS whenever the server offers it (RFC
// 3207), a sign-in (RFC 4954: PLAIN, or LOGIN) only over TLS, MAIL FROM (with
// the message's size where the server takes SIZE, and no further when the
// message is larger than it takes; with SMTPUTF8 where an address needs it,
// and no further where the server does not take it), one RCPT TO per
// recipient (in batches of writes where the server offers PIPELINING), DATA
// with dot-stuffing (8-bit text where it offers 8BITMIME), QUIT. Every reply
// is checked; the first refusal, time-out or broken connection ends the
// delivery with nothing sent.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "delivery/message/address_rules.h"
#include "delivery/message/body_encoder.h"
#include "delivery/message/mime_writer.h"
#include "delivery/sign_in.h"
#include "delivery/sockets/transport.h"
#include "foundation/component_error.h"

namespace kt {

struct SmtpReply {
    int code = 0;
    std::vector<std::string> lines;  // the text of each line, without the code
    std::string text() const;        // code and lines, as one line
};

// Reads replies from what arrives; accepts multi-line replies.
class SmtpReplyReader {
public:
    explicit SmtpReplyReader(Transport& transport) : transport_(transport) {}
    // Throws on a time-out, a closed connection or a malformed reply.
    SmtpReply read(std::chrono::milliseconds timeout);
    // Bytes that arrived after the last reply read.
    bool hasUnreadBytes() const { return !buffer_.empty(); }

private:
    std::string readLine(std::chrono::steady_clock::time_point deadline);

    Transport& transport_;
    std::string buffer_;
};

struct Envelope {
    MailAddress reversePath;               // MAIL FROM
    std::vector<MailAddress> recipients;  // RCPT TO

    // An address beyond ASCII before its @: SMTPUTF8 or nothing.
    const MailAddress* needingSmtpUtf8() const;
};

// The message as the session hands it to the server after DATA.
class OutgoingMessage {
public:
    virtual ~OutgoingMessage() = default;
    // Whether the message may go as 8-bit text to a server that takes it.
    virtual bool fitsEightBit() const = 0;
    // How many bytes write() hands on in the given form.
    virtual std::size_t size(const MessageForm& form) const = 0;
    // The message's bytes, header block then body, in the given form.
    virtual void write(const MessageForm& form, const BytesSink& sink) const = 0;
};

// The message data as DATA sends it, given in pieces: a line that starts with
// "." gets another one, and CR LF "." CR LF ends it. Small pieces go out
// together in writes of about a megabyte; a larger piece that needs no dot
// goes as it is, without a copy.
class DataSection {
public:
    explicit DataSection(BytesSink send) : send_(std::move(send)) { pending_.reserve(kWriteSize + (64 << 10)); }
    void add(const std::string& piece);
    void finish();

private:
    static constexpr std::size_t kWriteSize = std::size_t{1} << 20;
    void sendPending();

    BytesSink send_;
    std::string pending_;
    bool atLineStart_ = true;
    char last_[2] = {0, 0};  // the last two bytes given
};

// What a server offers in its reply to EHLO, of what the session uses.
struct ServerOffers {
    bool startTls = false;
    bool pipelining = false;
    bool eightBitMime = false;
    bool smtpUtf8 = false;             // SMTPUTF8 (RFC 6531): addresses and headers beyond ASCII
    bool size = false;                 // SIZE (RFC 1870): MAIL names the message's size
    unsigned long long sizeLimit = 0;  // the largest message it takes; 0 when it names none
    bool plain = false;        // AUTH PLAIN
    bool login = false;        // AUTH LOGIN
    bool xoauth2 = false;      // AUTH XOAUTH2: a provider's bearer token
    bool oauthBearer = false;  // AUTH OAUTHBEARER (RFC 7628)
    bool signIn() const { return plain || login || xoauth2 || oauthBearer; }
};
ServerOffers serverOffers(const SmtpReply& hello);

// How long the server may take for each reply: its full due by RFC 5321
// (4.5.3.2), since the user can stop a delivery at will.
struct ReplyTimeouts {
    std::chrono::milliseconds greeting{std::chrono::minutes(5)};
    // EHLO, STARTTLS and the handshake, AUTH, MAIL, RCPT, QUIT.
    std::chrono::milliseconds command{std::chrono::minutes(5)};
    std::chrono::milliseconds dataStart{std::chrono::minutes(2)};  // DATA's go-ahead
    std::chrono::milliseconds dataEnd{std::chrono::minutes(10)};   // the verdict on the message

    static ReplyTimeouts all(std::chrono::milliseconds timeout) { return {timeout, timeout, timeout, timeout}; }
};

struct SessionSecurity {
    std::string host;                // the name the server's certificate must carry
    bool implicitTls = false;        // TLS from the first byte
    bool submission = false;         // mail submission: TLS required, a sign-in expected
    const SignIn* signIn = nullptr;  // a sign-in to give, should the server offer one
    std::function<void()> signInAccepted;
};

// The server wants a sign-in that the session did not give: it demanded one
// (530, a 5.7.x refusal of a recipient, a submission server) or refused the
// password given (535). Only over TLS; the description is the server's refusal.
class SignInDemanded : public ComponentError {
public:
    SignInDemanded(const ComponentError& refusal, bool passwordRefused)
        : ComponentError(refusal), passwordRefused_(passwordRefused) {}
    bool passwordRefused() const noexcept { return passwordRefused_; }

private:
    bool passwordRefused_;
};

// Pipelined commands go in batches of this many at most: a batch and its
// replies fit in the sockets' buffers, so a server that answers one command
// at a time never waits for a client that is still writing.
constexpr std::size_t kPipelineBatch = 64;

// Runs the whole dialogue; returns when the server accepted the message.
void deliverOverSmtp(Transport& transport, const Envelope& envelope, const OutgoingMessage& message,
                     const ReplyTimeouts& timeouts, const SessionSecurity& security = {},
                     DeliveryProgress* progress = nullptr);

}  // namespace kt
