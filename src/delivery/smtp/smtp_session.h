#pragma once
// The SMTP dialogue (RFC 5321) for one message: greeting, EHLO (HELO when the
// server does not know EHLO), MAIL FROM, one RCPT TO per recipient, DATA with
// dot-stuffing, QUIT. Every reply is checked; the first refusal, time-out or
// broken connection ends the delivery with nothing sent.

#include <chrono>
#include <string>
#include <vector>

#include "delivery/smtp/transport.h"

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

private:
    std::string readLine(std::chrono::steady_clock::time_point deadline);

    Transport& transport_;
    std::string buffer_;
};

struct Envelope {
    std::string reversePath;              // MAIL FROM
    std::vector<std::string> recipients;  // RCPT TO
};

// The message as DATA sends it: lines that start with "." get another one,
// and CR LF "." CR LF ends it.
std::string dataSection(const std::string& message);

// Runs the whole dialogue; returns when the server accepted the message.
void deliverOverSmtp(Transport& transport, const Envelope& envelope, const std::string& message,
                     std::chrono::milliseconds replyTimeout);

}  // namespace kt
