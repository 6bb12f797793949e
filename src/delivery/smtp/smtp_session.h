#pragma once
// The SMTP dialogue (RFC 5321) for one message: greeting, EHLO (HELO when the
// server does not know EHLO), MAIL FROM, one RCPT TO per recipient, DATA with
// dot-stuffing, QUIT. Every reply is checked; the first refusal, time-out or
// broken connection ends the delivery with nothing sent.

#include <chrono>
#include <string>
#include <vector>

#include "delivery/smtp/body_encoder.h"
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

// The message as the session hands it to the server after DATA.
class OutgoingMessage {
public:
    virtual ~OutgoingMessage() = default;
    // Whether the message may go as 8-bit text to a server that takes it.
    virtual bool fitsEightBit() const = 0;
    // The message's bytes, header block then body, in the given encoding.
    virtual void write(BodyEncoding encoding, const BytesSink& sink) const = 0;
};

// The message data as DATA sends it, given in pieces: a line that starts with
// "." gets another one, and CR LF "." CR LF ends it. It goes out in writes of
// about a megabyte, the end of the data in the same write as its last part.
class DataSection {
public:
    explicit DataSection(BytesSink send) : send_(std::move(send)) { pending_.reserve(kWriteSize + (64 << 10)); }
    void add(const std::string& piece);
    void finish();

private:
    static constexpr std::size_t kWriteSize = std::size_t{1} << 20;
    void sendWhenFull();

    BytesSink send_;
    std::string pending_;
    bool atLineStart_ = true;
    char last_[2] = {0, 0};  // the last two bytes given
};

// Runs the whole dialogue; returns when the server accepted the message.
// Uses PIPELINING and 8BITMIME where the server offers them.
void deliverOverSmtp(Transport& transport, const Envelope& envelope, const OutgoingMessage& message,
                     std::chrono::milliseconds replyTimeout);

}  // namespace kt
