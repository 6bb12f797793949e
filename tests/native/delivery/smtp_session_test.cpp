// Reading a server's replies as they arrive in pieces, and the error each
// broken one ends the delivery with. The dialogue itself runs against real
// servers in tests/support.

#include "delivery/smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <deque>

#include "delivery/smtp/mail_error.h"

namespace kt {
namespace {

// What arrives from a server, piece by piece; then the connection closes.
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

private:
    std::deque<std::string> pieces_;
};

constexpr std::chrono::milliseconds kTimeout{1000};

std::string repeated(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

}  // namespace

TEST(SmtpReplies, MultiLineRepliesInPiecesAndBareLineFeeds) {
    ArrivingBytes server({"250-mail.exa", "mple.com\r\n250-PIPE", "LINING\r\n250 8BITMIME\r\n354\n"});
    SmtpReplyReader reader(server);
    const SmtpReply reply = reader.read(kTimeout);
    EXPECT_EQ(reply.code, 250);
    EXPECT_EQ(reply.lines, (std::vector<std::string>{"mail.example.com", "PIPELINING", "8BITMIME"}));
    EXPECT_EQ(reader.read(kTimeout).text(), "354");
}

TEST(SmtpReplies, BrokenRepliesEndWithTheErrorThatSaysWhy) {
    const long violation = kMailErrorBase + 5, closed = kMailErrorBase + 6;
    const struct {
        std::string arriving;
        long number;
        const wchar_t* text;
    } cases[] = {
        {"hello\r\n", violation, L"The SMTP server sent a malformed reply: hello"},
        {"25\r\n", violation, L"The SMTP server sent a malformed reply: 25"},
        {"250x\r\n", violation, L"The SMTP server sent a malformed reply: 250x"},
        {"250-a\r\n251 b\r\n", violation, L"The SMTP server changed the reply code within a reply: 251 b"},
        {"250-partial\r\n", closed, L"The SMTP server closed the connection."},
        {"220 " + std::string(70000, 'x'), violation, L"The SMTP server sent a reply line that never ends."},
        {repeated("250-" + std::string(60000, 'x') + "\r\n", 18), violation,
         L"The SMTP server sent a reply that never ends."},
        {repeated("250-more\r\n", 1000) + "250 last\r\n", violation, L"The SMTP server sent a reply that never ends."},
    };
    for (const auto& c : cases) {
        ArrivingBytes server({c.arriving});
        try {
            SmtpReplyReader(server).read(kTimeout);
            ADD_FAILURE() << "read a reply from " << c.arriving.substr(0, 20);
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), c.number) << c.arriving.substr(0, 20);
            EXPECT_EQ(error.description(), c.text);
        }
    }
}

TEST(DataSection, DoublesLeadingDotsAndEndsWithTheDotLine) {
    EXPECT_EQ(dataSection(".\r\n..x\r\na.b"), "..\r\n...x\r\na.b\r\n.\r\n");
    EXPECT_EQ(dataSection("line\r\n"), "line\r\n.\r\n");
    EXPECT_EQ(dataSection(""), "\r\n.\r\n");
}

}  // namespace kt
