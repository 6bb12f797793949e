#include "delivery/smtp/smtp_session.h"

#include <algorithm>
#include <cctype>

#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/utf8.h"

namespace kt {
namespace {

// What one reply may hold; a server that sends more is broken or hostile.
constexpr std::size_t kLongestReplyLine = 64 * 1024;
constexpr std::size_t kLongestReply = 1024 * 1024;
constexpr std::size_t kMostReplyLines = 1000;

using Clock = std::chrono::steady_clock;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A failure of the transport, told with what the dialogue was waiting for.
ComponentError whileDoing(const ComponentError& error, const std::string& step) {
    return ComponentError(error.number(), error.source(), error.description() + L" (" + fromUtf8(step) + L")");
}

class Dialogue {
public:
    Dialogue(Transport& transport, std::chrono::milliseconds replyTimeout)
        : transport_(transport), replies_(transport), replyTimeout_(replyTimeout) {}

    SmtpReply reply(const std::string& awaited) {
        try {
            return replies_.read(replyTimeout_);
        } catch (const ComponentError& error) {
            throw whileDoing(error, "waiting for the reply to " + awaited);
        }
    }

    void send(const std::string& bytes, const std::string& what) {
        try {
            transport_.send(bytes);
        } catch (const ComponentError& error) {
            throw whileDoing(error, "sending " + what);
        }
    }

    // Sends a command and returns the reply, which must be of the expected class.
    SmtpReply command(const std::string& line, int expectedClass) {
        send(line + "\r\n", line);
        return expect(reply(line), expectedClass, line);
    }

    SmtpReply expect(const SmtpReply& reply, int expectedClass, const std::string& what) {
        if (reply.code / 100 == expectedClass) return reply;
        politeQuit();
        throw refusedReplyError(reply.code, what, reply.text());
    }

    // Takes leave after a refusal; the server's answer no longer matters.
    void politeQuit() noexcept {
        try {
            transport_.send("QUIT\r\n");
        } catch (...) {
        }
    }

private:
    Transport& transport_;
    SmtpReplyReader replies_;
    std::chrono::milliseconds replyTimeout_;
};

}  // namespace

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
        const bool wellFormed = line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) &&
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
    std::size_t from = 0;
    if (atLineStart_ && piece[0] == '.') pending_ += '.';
    for (std::size_t at = piece.find("\n."); at != std::string::npos; at = piece.find("\n.", at + 1)) {
        pending_.append(piece, from, at + 1 - from).push_back('.');
        from = at + 1;
    }
    pending_.append(piece, from, std::string::npos);
    atLineStart_ = piece.back() == '\n';
    last_[0] = piece.size() > 1 ? piece[piece.size() - 2] : last_[1];
    last_[1] = piece.back();
    sendWhenFull();
}

void DataSection::sendWhenFull() {
    if (pending_.size() < kWriteSize) return;
    send_(pending_);
    pending_.clear();
}

void DataSection::finish() {
    const bool endsWithLineBreak = last_[0] == '\r' && last_[1] == '\n';
    pending_ += endsWithLineBreak ? ".\r\n" : "\r\n.\r\n";
    send_(pending_);
    pending_.clear();
}

namespace {

// Whether an EHLO reply names a service extension (the first word of a line after the first).
bool offers(const SmtpReply& hello, const std::string& keyword) {
    for (std::size_t i = 1; i < hello.lines.size(); ++i) {
        const std::string& line = hello.lines[i];
        const std::string word = line.substr(0, line.find(' '));
        if (word.size() == keyword.size() &&
            std::equal(word.begin(), word.end(), keyword.begin(),
                       [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
            return true;
    }
    return false;
}

}  // namespace

void deliverOverSmtp(Transport& transport, const Envelope& envelope, const OutgoingMessage& message,
                     std::chrono::milliseconds replyTimeout) {
    Dialogue smtp(transport, replyTimeout);
    smtp.expect(smtp.reply("the greeting"), 2, "");

    const std::string client = transport.localAddressLiteral();
    smtp.send("EHLO " + client + "\r\n", "EHLO");
    SmtpReply hello = smtp.reply("EHLO");
    if (hello.code / 100 == 5)
        hello = smtp.command("HELO " + client, 2);  // a server from before ESMTP
    else
        smtp.expect(hello, 2, "EHLO " + client);

    const BodyEncoding encoding = offers(hello, "8BITMIME") && message.fitsEightBit() ? BodyEncoding::EightBit
                                                                                       : BodyEncoding::QuotedPrintable;
    std::vector<std::string> commands{"MAIL FROM:<" + envelope.reversePath + ">" +
                                      (encoding == BodyEncoding::EightBit ? " BODY=8BITMIME" : "")};
    for (const auto& recipient : envelope.recipients) commands.push_back("RCPT TO:<" + recipient + ">");
    if (offers(hello, "PIPELINING")) {
        // The sender and the recipients in one write; their replies in order.
        std::string batch;
        for (const auto& command : commands) batch += command + "\r\n";
        smtp.send(batch, commands.front());
        for (const auto& command : commands) smtp.expect(smtp.reply(command), 2, command);
    } else {
        for (const auto& command : commands) smtp.command(command, 2);
    }
    smtp.command("DATA", 3);
    DataSection data([&](const std::string& piece) { smtp.send(piece, "the message"); });
    message.write(encoding, [&](const std::string& piece) { data.add(piece); });
    data.finish();
    smtp.expect(smtp.reply("the end of the message data"), 2, "the message");

    // The message is accepted; how the server takes leave changes nothing.
    try {
        smtp.send("QUIT\r\n", "QUIT");
        smtp.reply("QUIT");
    } catch (const ComponentError&) {
    }
}

}  // namespace kt
