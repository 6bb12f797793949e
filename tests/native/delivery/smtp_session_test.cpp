// The parts of the dialogue that need no server: reading replies as they
// arrive in pieces, and the data section with its dot-stuffing. The dialogue itself runs against real
// servers in tests/support.

#include "delivery/smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <deque>

#include "foundation/component_error.h"

namespace kt {
namespace {

// What arrives from a server, piece by piece.
class ArrivingBytes final : public Transport {
public:
    explicit ArrivingBytes(std::deque<std::string> pieces) : pieces_(std::move(pieces)) {}
    void send(const std::string&) override {}
    std::string receive(std::chrono::milliseconds) override {
        if (pieces_.empty()) return {};
        std::string piece = pieces_.front();
        pieces_.pop_front();
        return piece;
    }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }
    void startTls(const std::string&, std::chrono::milliseconds) override {}
    bool encrypted() const override { return false; }

private:
    std::deque<std::string> pieces_;
};

constexpr std::chrono::milliseconds kTimeout{1000};

}  // namespace

TEST(SmtpReplies, MultiLineRepliesInPieces) {
    ArrivingBytes server({"250-mail.exa", "mple.com\r\n250-PIPE", "LINING\r\n250 8BITMIME\r\n220 next\r\n"});
    SmtpReplyReader reader(server);
    const SmtpReply reply = reader.read(kTimeout);
    EXPECT_EQ(reply.code, 250);
    EXPECT_EQ(reply.lines, (std::vector<std::string>{"mail.example.com", "PIPELINING", "8BITMIME"}));
    EXPECT_EQ(reader.read(kTimeout).code, 220);
}

TEST(SmtpReplies, BareLineFeedsAndCodeOnlyLines) {
    ArrivingBytes server({"354\n"});
    const SmtpReply reply = SmtpReplyReader(server).read(kTimeout);
    EXPECT_EQ(reply.code, 354);
    EXPECT_EQ(reply.text(), "354");
}

TEST(SmtpReplies, MalformedRepliesAndClosedConnectionsFail) {
    for (const char* bad : {"hello\r\n", "25\r\n", "250x\r\n", "250-a\r\n251 b\r\n"}) {
        ArrivingBytes server({bad});
        EXPECT_THROW(SmtpReplyReader(server).read(kTimeout), ComponentError) << bad;
    }
    ArrivingBytes closed({"250-partial\r\n"});
    EXPECT_THROW(SmtpReplyReader(closed).read(kTimeout), ComponentError);
    ArrivingBytes endless({std::string(70000, 'x')});
    EXPECT_THROW(SmtpReplyReader(endless).read(kTimeout), ComponentError);
}

}  // namespace kt
