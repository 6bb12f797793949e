#include "delivery/smtp/smtp_session.h"

#include <algorithm>

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

std::string dataSection(const std::string& message) {
    std::string data;
    data.reserve(message.size() + message.size() / 64 + 8);
    std::size_t start = 0;
    while (start < message.size()) {
        const std::size_t end = message.find('\n', start);
        const std::size_t next = end == std::string::npos ? message.size() : end + 1;
        if (message[start] == '.') data += '.';
        data.append(message, start, next - start);
        start = next;
    }
    if (data.size() < 2 || data.compare(data.size() - 2, 2, "\r\n") != 0) data += "\r\n";
    return data += ".\r\n";
}

void deliverOverSmtp(Transport& transport, const Envelope& envelope, const std::string& message,
                     std::chrono::milliseconds replyTimeout) {
    Dialogue smtp(transport, replyTimeout);
    smtp.expect(smtp.reply("the greeting"), 2, "");

    const std::string client = transport.localAddressLiteral();
    smtp.send("EHLO " + client + "\r\n", "EHLO");
    const SmtpReply hello = smtp.reply("EHLO");
    if (hello.code / 100 == 5)
        smtp.command("HELO " + client, 2);  // a server from before ESMTP
    else
        smtp.expect(hello, 2, "EHLO " + client);

    smtp.command("MAIL FROM:<" + envelope.reversePath + ">", 2);
    for (const auto& recipient : envelope.recipients) smtp.command("RCPT TO:<" + recipient + ">", 2);
    smtp.command("DATA", 3);
    smtp.send(dataSection(message), "the message");
    smtp.expect(smtp.reply("the end of the message data"), 2, "the message");

    // The message is accepted; how the server takes leave changes nothing.
    try {
        smtp.send("QUIT\r\n", "QUIT");
        smtp.reply("QUIT");
    } catch (const ComponentError&) {
    }
}

}  // namespace kt
