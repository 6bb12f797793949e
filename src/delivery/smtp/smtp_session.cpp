#include "delivery/smtp/smtp_session.h"

#include <algorithm>
#include <future>
#include <optional>
#include <sstream>
#include <utility>

#include "foundation/base64.h"
#include "delivery/mail_error.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

// What one reply may hold; a server that sends more is broken or hostile.
constexpr std::size_t kLongestReplyLine = 64 * 1024;
constexpr std::size_t kLongestReply = 1024 * 1024;
constexpr std::size_t kMostReplyLines = 1000;

using Clock = std::chrono::steady_clock;

// How long a refusal that came during the message may take to be read in
// full, and the goodbye after an accepted message.
constexpr std::chrono::seconds kEarlyVerdictTime{2};
constexpr std::chrono::seconds kLeaveTime{5};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A failure of the transport, told with what the dialogue was waiting for.
ComponentError whileDoing(const ComponentError& error, const std::string& step) {
    return ComponentError(error.number(), error.source(), error.description() + L" (" + fromUtf8(step) + L")");
}

class Dialogue {
public:
    Dialogue(Transport& transport, const ReplyTimeouts& timeouts)
        : transport_(transport), replies_(transport), timeouts_(timeouts) {}

    // The reply to a command, within the time the command's kind has.
    SmtpReply reply(const std::string& awaited) { return reply(awaited, timeouts_.command); }
    SmtpReply reply(const std::string& awaited, std::chrono::milliseconds timeout) {
        try {
            return replies_.read(timeout);
        } catch (const DeliveryStopped&) {
            throw;
        } catch (const ComponentError& error) {
            throw whileDoing(error, "waiting for the reply to " + awaited);
        }
    }

    void send(std::string_view bytes, const std::string& what) {
        try {
            transport_.send(bytes);
        } catch (const DeliveryStopped&) {
            throw;
        } catch (const ComponentError& error) {
            throw whileDoing(error, "sending " + what);
        }
    }

    // Sends a command line and returns the reply; failures name it `what`,
    // which never holds what a sign-in sends.
    SmtpReply ask(const std::string& line, const std::string& what) {
        send(line + "\r\n", what);
        return reply(what);
    }

    // Sends a line that carries a secret.
    SmtpReply askSecret(SecretText line, const std::string& what) {
        line += "\r\n";
        send(line, what);
        return reply(what);
    }

    // Sends a command and returns the reply, which must be of the expected class.
    SmtpReply command(const std::string& line, int expectedClass) {
        return expect(ask(line, line), expectedClass, line);
    }

    SmtpReply expect(const SmtpReply& reply, int expectedClass, const std::string& what) {
        if (reply.code / 100 != expectedClass) refuse(reply, what);
        return reply;
    }

    // A refusal the server sent before it was asked, if one came.
    std::optional<SmtpReply> earlyVerdict() {
        try {
            const SmtpReply verdict = replies_.read(kEarlyVerdictTime);
            if (verdict.code >= 400) return verdict;
        } catch (const ComponentError&) {
        }
        return std::nullopt;
    }

    [[noreturn]] void refuse(const SmtpReply& reply, const std::string& what) {
        politeQuit();
        throw refusedReplyError(reply.code, what, reply.text());
    }

    // EHLO, or HELO for a server from before ESMTP, which offers nothing.
    ServerOffers hello(const std::string& client) {
        const SmtpReply answer = ask("EHLO " + client, "EHLO");
        if (answer.code / 100 != 5) return serverOffers(expect(answer, 2, "EHLO " + client));
        command("HELO " + client, 2);
        return {};
    }

    void startTls(const std::string& host) {
        try {
            transport_.startTls(host, timeouts_.command);
        } catch (const ClosedDuringHandshake&) {
            throw mailError(MailFailure::ConnectionClosed,
                            L"The SMTP server closed the connection during the TLS handshake.");
        }
    }
    bool hasUnreadBytes() const { return replies_.hasUnreadBytes(); }

    // Takes leave after a refusal; the server's answer no longer matters.
    void politeQuit() noexcept {
        try {
            transport_.send("QUIT\r\n");
        } catch (...) {
        }
    }

    const ReplyTimeouts& timeouts() const { return timeouts_; }

private:
    Transport& transport_;
    SmtpReplyReader replies_;
    const ReplyTimeouts& timeouts_;
};

std::string upperCase(std::string text) {
    for (auto& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// A size as people read it: "12.3 MB", "250 kB" (a thousand bytes to the kB,
// as servers count), rounded.
std::wstring sizeInWords(unsigned long long bytes) {
    const unsigned long long kilobytes = (bytes + 500) / 1000;
    if (kilobytes < 1000) return std::to_wstring(kilobytes) + L" kB";
    const unsigned long long tenths = (bytes + 50000) / 100000;
    return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L" MB";
}

// Two sizes told apart: in bytes where rounding makes them look alike.
std::pair<std::wstring, std::wstring> sizesInWords(unsigned long long larger, unsigned long long smaller) {
    std::pair<std::wstring, std::wstring> words{sizeInWords(larger), sizeInWords(smaller)};
    if (words.first == words.second)
        words = {std::to_wstring(larger) + L" bytes", std::to_wstring(smaller) + L" bytes"};
    return words;
}

// An enhanced status code of class 5.7 (RFC 3463): refused for security or policy.
bool isSecurityRefusal(const SmtpReply& reply) {
    return reply.code / 100 == 5 && !reply.lines.empty() && reply.lines.front().compare(0, 4, "5.7.") == 0;
}

// A line that carries base64 of a secret.
SecretText secretLine(const std::string& start, std::string_view secret) {
    SecretText text(start);
    appendBase64(text, secret);
    return text;
}

// Signs in with a bearer token: a refusal comes as 334 and an error in JSON,
// which the client answers before the server ends with 535.
SmtpReply signInWithToken(Dialogue& smtp, const ServerOffers& offers, const SignIn& account,
                          const std::string& server) {
    if (!offers.xoauth2 && !offers.oauthBearer) {
        smtp.politeQuit();
        throw mailError(MailFailure::SignInFailed,
                        L"The SMTP server " + fromUtf8(server) +
                            L" offers no sign-in with a token (XOAUTH2 or OAUTHBEARER), which its provider's "
                            L"sign-in gives.");
    }
    const std::string mechanism = offers.xoauth2 ? "AUTH XOAUTH2" : "AUTH OAUTHBEARER";
    SmtpReply reply = smtp.askSecret(secretLine(mechanism + " ", bearerResponse(offers.xoauth2, account)), mechanism);
    if (reply.code == 334) reply = smtp.ask(offers.xoauth2 ? "" : "AQ==", mechanism);  // AQ== is 0x01
    return reply;
}

// Signs in with PLAIN (RFC 4616), or LOGIN when the server offers only that;
// with a token where the account is a provider's.
void signIn(Dialogue& smtp, const ServerOffers& offers, const SignIn& account, const std::string& server) {
    const std::string mechanism =
        account.bearer ? (offers.xoauth2 ? "AUTH XOAUTH2" : "AUTH OAUTHBEARER") : offers.plain ? "AUTH PLAIN" : "AUTH LOGIN";
    SmtpReply reply;
    if (account.bearer) {
        reply = signInWithToken(smtp, offers, account, server);
    } else if (offers.plain) {
        SecretText plain(1, '\0');
        plain.append(account.user).append(1, '\0').append(account.password);
        reply = smtp.askSecret(secretLine(mechanism + " ", plain), mechanism);
    } else {
        reply = smtp.ask(mechanism, mechanism);
        for (const std::string_view answer : {std::string_view(account.user), account.password.view()}) {
            if (reply.code != 334) break;  // the prompts' text does not matter, only their order
            reply = smtp.askSecret(secretLine("", answer), mechanism);
        }
    }
    if (reply.code == 535) {
        smtp.politeQuit();
        throw SignInDemanded(refusedReplyError(reply.code, mechanism, reply.text()), true);
    }
    smtp.expect(reply, 2, mechanism);
}

}  // namespace

const MailAddress* Envelope::needingSmtpUtf8() const {
    if (reversePath.needsSmtpUtf8()) return &reversePath;
    for (const auto& recipient : recipients)
        if (recipient.needsSmtpUtf8()) return &recipient;
    return nullptr;
}

std::string SmtpReply::text() const {
    std::string joined = std::to_string(code);
    for (const auto& line : lines)
        if (!line.empty()) joined += " " + line;
    return joined;
}

std::string SmtpReplyReader::readLine(Clock::time_point deadline) {
    for (;;) {
        const auto end = buffer_.find('\n');
        if (std::min(end, buffer_.size()) > kLongestReplyLine)
            throw mailError(MailFailure::ProtocolViolation, L"The SMTP server sent a reply line that never ends.");
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        // However much arrives, the reply must be complete by the deadline.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const std::string arrived = transport_.receive(std::max(left, std::chrono::milliseconds(0)));
        if (arrived.empty())
            throw mailError(MailFailure::ConnectionClosed, L"The SMTP server closed the connection.");
        buffer_ += arrived;
    }
}

SmtpReply SmtpReplyReader::read(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    SmtpReply reply;
    std::size_t size = 0;
    for (;;) {
        const std::string line = readLine(deadline);
        size += line.size();
        if (size > kLongestReply || reply.lines.size() >= kMostReplyLines)
            throw mailError(MailFailure::ProtocolViolation, L"The SMTP server sent a reply that never ends.");
        const bool wellFormed = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && isDigit(line[1]) &&
                                isDigit(line[2]) &&
                                (line.size() == 3 || line[3] == ' ' || line[3] == '-');
        if (!wellFormed)
            throw mailError(MailFailure::ProtocolViolation,
                            L"The SMTP server sent a malformed reply: " + serverText(line.substr(0, 200)));
        const int code = std::stoi(line.substr(0, 3));
        if (!reply.lines.empty() && code != reply.code)
            throw mailError(MailFailure::ProtocolViolation,
                            L"The SMTP server changed the reply code within a reply: " + serverText(line.substr(0, 200)));
        reply.code = code;
        reply.lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
        if (line.size() == 3 || line[3] == ' ') return reply;
    }
}

void DataSection::add(const std::string& piece) {
    if (piece.empty()) return;
    // A line that starts with a dot gets another; as a rule none does.
    const bool dotAtStart = atLineStart_ && piece[0] == '.';
    std::size_t dot = piece.find("\n.");
    atLineStart_ = piece.back() == '\n';
    last_[0] = piece.size() > 1 ? piece[piece.size() - 2] : last_[1];
    last_[1] = piece.back();
    if (!dotAtStart && dot == std::string::npos && piece.size() >= kWriteSize) {
        // A large piece as it is goes as it is, not copied.
        sendPending();
        send_(piece);
        return;
    }
    std::size_t from = 0;
    if (dotAtStart) pending_ += '.';
    for (; dot != std::string::npos; dot = piece.find("\n.", dot + 1)) {
        pending_.append(piece, from, dot + 1 - from).push_back('.');
        from = dot + 1;
    }
    pending_.append(piece, from, std::string::npos);
    if (pending_.size() >= kWriteSize) sendPending();
}

void DataSection::sendPending() {
    if (pending_.empty()) return;
    send_(pending_);
    pending_.clear();
}

void DataSection::finish() {
    const bool endsWithLineBreak = last_[0] == '\r' && last_[1] == '\n';
    pending_ += endsWithLineBreak ? ".\r\n" : "\r\n.\r\n";
    sendPending();
}

ServerOffers serverOffers(const SmtpReply& hello) {
    ServerOffers offers;
    for (std::size_t i = 1; i < hello.lines.size(); ++i) {
        std::string line = upperCase(hello.lines[i]);
        std::replace(line.begin(), line.end(), '=', ' ');  // "AUTH=LOGIN", as older servers write it
        std::istringstream words(line);
        std::string keyword, mechanism;
        words >> keyword;
        if (keyword == "STARTTLS") offers.startTls = true;
        if (keyword == "PIPELINING") offers.pipelining = true;
        if (keyword == "8BITMIME") offers.eightBitMime = true;
        if (keyword == "SMTPUTF8") offers.smtpUtf8 = true;
        if (keyword == "SIZE") {
            offers.size = true;
            words >> offers.sizeLimit;  // none given, or 0: no limit named
        }
        while (keyword == "AUTH" && words >> mechanism) {
            offers.plain = offers.plain || mechanism == "PLAIN";
            offers.login = offers.login || mechanism == "LOGIN";
            offers.xoauth2 = offers.xoauth2 || mechanism == "XOAUTH2";
            offers.oauthBearer = offers.oauthBearer || mechanism == "OAUTHBEARER";
        }
    }
    return offers;
}

namespace {

// The sender and the recipients: where the server takes pipelining, in
// batches written at once, each batch's replies read before the next; a 530,
// or a recipient refused for security, may ask for a sign-in.
void sendEnvelope(Dialogue& smtp, const std::vector<std::string>& commands, bool pipelining,
                  const std::function<void(const ComponentError&)>& demandSignIn) {
    const std::size_t batch = pipelining ? kPipelineBatch : 1;
    for (std::size_t first = 0; first < commands.size(); first += batch) {
        const std::size_t end = std::min(commands.size(), first + batch);
        std::string lines;
        for (std::size_t i = first; i < end; ++i) lines += commands[i] + "\r\n";
        smtp.send(lines, commands[first]);
        for (std::size_t i = first; i < end; ++i) {
            const SmtpReply reply = smtp.reply(commands[i]);
            if (reply.code == 530 || (i > 0 && isSecurityRefusal(reply)))
                demandSignIn(refusedReplyError(reply.code, commands[i], reply.text()));
            smtp.expect(reply, 2, commands[i]);
        }
    }
}

// The message's size counted on a thread of its own, in the form the first
// greeting points to, while TLS is made and the sign-in given: time the
// count would otherwise add before MAIL. (A Stop meanwhile waits for the
// count; where no thread can be had, it is made when asked for.)
class SizeCountedAhead {
public:
    SizeCountedAhead(const OutgoingMessage& message, const MessageForm& form)
        : message_(message), form_(form),
          counted_(std::async(std::launch::async | std::launch::deferred,
                              [&message, form] { return message.size(form); })) {}
    SizeCountedAhead(const SizeCountedAhead&) = delete;
    SizeCountedAhead& operator=(const SizeCountedAhead&) = delete;

    // The size in `form`; counted again when the server now offers another.
    std::size_t in(const MessageForm& form) {
        const bool same = form == form_;
        // Waited for first either way: the count and the message share what they have worked out.
        try {
            const std::size_t ahead = counted_.get();
            if (same) return ahead;
        } catch (...) {
            if (same) throw;
        }
        return message_.size(form);
    }

private:
    const OutgoingMessage& message_;
    MessageForm form_;
    std::future<std::size_t> counted_;  // waited for on every way out
};

}  // namespace

void deliverOverSmtp(Transport& transport, const Envelope& envelope, const OutgoingMessage& message,
                     const ReplyTimeouts& timeouts, const SessionSecurity& security, DeliveryProgress* watched) {
    DeliveryProgress unwatched;
    DeliveryProgress& progress = watched ? *watched : unwatched;
    Dialogue smtp(transport, timeouts);
    if (security.implicitTls) {
        progress.enter(DeliveryStep::Securing);
        smtp.startTls(security.host);
    }
    smtp.expect(smtp.reply("the greeting", timeouts.greeting), 2, "");

    const std::string client = transport.localAddressLiteral();
    ServerOffers offers = smtp.hello(client);
    // An address beyond ASCII before its @ goes with SMTPUTF8, or not at all.
    const MailAddress* international = envelope.needingSmtpUtf8();
    const auto formFor = [&](const ServerOffers& offered) {
        return MessageForm{offered.eightBitMime && message.fitsEightBit() ? BodyEncoding::EightBit
                                                                          : BodyEncoding::QuotedPrintable,
                           international != nullptr, offered.sizeLimit};
    };
    // Counting the size takes a pass over the message: for SIZE, or for showing.
    std::optional<SizeCountedAhead> sizeAhead;
    if (offers.size || progress.watched()) sizeAhead.emplace(message, formFor(offers));
    if (!transport.encrypted() && offers.startTls) {
        progress.enter(DeliveryStep::Securing);
        // The go-ahead is 220 and nothing else (RFC 3207).
        const SmtpReply goAhead = smtp.ask("STARTTLS", "STARTTLS");
        if (goAhead.code != 220) smtp.refuse(goAhead, "STARTTLS");
        // Anything after the go-ahead came in the clear, where anyone on the way could have added it.
        if (smtp.hasUnreadBytes())
            throw mailError(MailFailure::ProtocolViolation,
                            L"The SMTP server sent more than its go-ahead for TLS, as an attacker in the middle "
                            L"would; the connection was ended.");
        smtp.startTls(security.host);
        offers = smtp.hello(client);
    }

    const std::wstring server = fromUtf8(security.host);
    // A password goes over TLS alone; a server that offers a sign-in without
    // TLS but needs none gets the message without one.
    const bool givesPassword = security.signIn && offers.signIn() && transport.encrypted();
    const auto requireTls = [&](const std::wstring& why) {
        if (transport.encrypted()) return;
        smtp.politeQuit();
        throw mailError(MailFailure::TlsRequired, why + L" The server offers no TLS (STARTTLS), and a password or "
                                                        L"a message for mail submission never goes without it.");
    };
    if (security.submission) requireTls(L"The mail submission server " + server + L" wants TLS.");
    if (givesPassword) {
        progress.enter(DeliveryStep::SigningIn);
        signIn(smtp, offers, *security.signIn, security.host);
        if (security.signInAccepted) security.signInAccepted();
    }

    // A server that wants a sign-in it offers, not given yet, gets one asked
    // for: only over TLS.
    const auto demandSignIn = [&](const ComponentError& refusal) {
        if (givesPassword || !offers.signIn()) return;
        requireTls(refusal.description() + L".");
        smtp.politeQuit();
        throw SignInDemanded(refusal, false);
    };
    if (security.submission)
        demandSignIn(mailError(MailFailure::SignInRequired, L"The mail submission server " + server +
                                                                L" expects a sign-in"));
    if (international && !offers.smtpUtf8) {
        smtp.politeQuit();
        throw mailError(MailFailure::NeedsSmtpUtf8,
                        L"The address " + fromUtf8(international->unicode()) +
                            L" has letters beyond ASCII before its @, and the SMTP server " + server +
                            L" cannot take such an address (it offers no SMTPUTF8); nothing was sent.");
    }
    const MessageForm form = formFor(offers);
    const auto pathOf = [&](const MailAddress& address) { return form.smtpUtf8 ? address.unicode() : address.ascii(); };
    const std::size_t size = sizeAhead ? sizeAhead->in(form) : offers.size ? message.size(form) : 0;
    std::string mailFrom = "MAIL FROM:<" + pathOf(envelope.reversePath) + ">";
    if (form.smtpUtf8) mailFrom += " SMTPUTF8";
    if (form.encoding == BodyEncoding::EightBit || form.smtpUtf8) mailFrom += " BODY=8BITMIME";
    if (offers.size) {
        if (offers.sizeLimit > 0 && size > offers.sizeLimit) {
            smtp.politeQuit();
            const auto [ours, limit] = sizesInWords(size, offers.sizeLimit);
            throw mailError(MailFailure::MessageTooLarge, L"The message is " + ours + L", more than the " + limit +
                                                              L" that the SMTP server " + server +
                                                              L" takes; nothing was sent.");
        }
        mailFrom += " SIZE=" + std::to_string(size);
    }
    progress.enter(DeliveryStep::Sending);
    std::vector<std::string> commands{mailFrom};
    for (const auto& recipient : envelope.recipients) commands.push_back("RCPT TO:<" + pathOf(recipient) + ">");
    sendEnvelope(smtp, commands, offers.pipelining, demandSignIn);
    smtp.send("DATA\r\n", "DATA");
    smtp.expect(smtp.reply("DATA", timeouts.dataStart), 3, "DATA");
    progress.sendingData(size);
    try {
        DataSection data([&](const std::string& piece) { smtp.send(piece, "the message"); });
        message.write(form, [&](const std::string& piece) { data.add(piece); });
        data.finish();
    } catch (const DeliveryStopped&) {
        throw;
    } catch (const ComponentError&) {
        // A server that refuses the message before its end (too large, not
        // wanted) says why, then hangs up or stops reading: no QUIT follows.
        if (const auto verdict = smtp.earlyVerdict())
            throw refusedReplyError(verdict->code, "the message", verdict->text());
        throw;
    }
    progress.enter(DeliveryStep::AwaitingAcceptance);
    smtp.expect(smtp.reply("the end of the message data", timeouts.dataEnd), 2, "the message");
    progress.enter(DeliveryStep::Accepted);

    // The message is accepted; how the server takes leave changes nothing,
    // and it is not waited for long.
    try {
        smtp.send("QUIT\r\n", "QUIT");
        smtp.reply("QUIT", kLeaveTime);
    } catch (const ComponentError&) {
    }
}

}  // namespace kt
