// The message as written, checked by brokenRule for texts chosen to break it.

#include <gtest/gtest.h>

#include <tuple>

#include "delivery/message/message_rules.h"
#include "delivery/message/address_rules.h"
#include "delivery/mail_failures.h"
#include "kt_version.h"

namespace kt {

std::string encoded(const std::wstring& text, BodyEncoding encoding, std::size_t pieceSize) {
    std::string out;
    encodeBody(text, encoding, [&](const std::string& piece) { out += piece; }, pieceSize);
    return out;
}

TEST(MessageText, KeepsEveryRuleForTextChosenToBreakOne) {
    std::wstring manyWords, commas;
    for (int i = 0; i < 300; ++i) manyWords += L"Word" + std::to_wstring(i) + L" ";
    for (int i = 0; i < 30; ++i) commas += L"Lee, Ann ";
    const std::wstring texts[] = {
        // for the headers: words to fold, words too long for a line, text to encode or to quote, a line break
        L"", manyWords, commas, std::wstring(300, L'a'), std::wstring(100, L'\u00e9'), std::wstring(200, L'\u65e5'),
        L"Ann\r\nBcc: x@y", L"=?UTF-8?B?x?= \"q\" \\o/", L"a" + std::wstring(1000, L' ') + L"b",
        // for the body: breaks, blanks and dots at a line's end or start, long lines, what needs escaping
        L"ends with break\r\n", L"lone\nfeed\rreturn", L"trailing blank \r\nand tab\t", std::wstring(5000, L'x'),
        L"a=b", L"Gr\u00fc\u00dfe \U0001F600", L".\r\n..\r\n.x", std::wstring(74, L'y') + L".", std::wstring(200, L' ')};
    MailMessage message;
    message.cc.push_back({checkedAddress(std::wstring(64, L'l') + L"@" + std::wstring(189, L'd')), L"Long Address"});
    for (const auto& text : texts) {
        message.from = Mailbox{checkedAddress(L"me@example.com"), text};
        message.to = {{checkedAddress(L"p@example.com"), text}, {checkedAddress(L"q@example.com"), std::nullopt}};
        message.subject = message.body = text;
        EXPECT_EQ(test::brokenRule(message), "") << toUtf8(text).substr(0, 40);
        EXPECT_EQ(encoded(text, BodyEncoding::QuotedPrintable, 7), encoded(text, BodyEncoding::QuotedPrintable, 1 << 20));
        // The text as a page kept apart after a note goes as one body holding both.
        MailMessage whole = message, apart = message;
        whole.html = apart.html = true;
        apart.body = L"<p>A note</p>\r\n<hr>\r\n";
        apart.page = std::make_shared<const std::wstring>(text);
        whole.body = apart.body + text;
        EXPECT_EQ(test::brokenRule(apart), "") << toUtf8(text).substr(0, 40);
        for (const auto encoding : {BodyEncoding::QuotedPrintable, BodyEncoding::EightBit}) {
            EXPECT_EQ(encodedBodySize(text, encoding), encoded(text, encoding, 1 << 20).size());  // as SIZE names it
            EXPECT_EQ(writeMessage(apart, {"d", "<i@x>"}, {encoding}), writeMessage(whole, {"d", "<i@x>"}, {encoding}))
                << toUtf8(text).substr(0, 40);
        }
    }
    message.to.clear();
    message.cc.clear();
    const std::string bccOnly = writeMessage(message, {"d", "<i@x>"});
    EXPECT_NE(bccOnly.find("\r\nTo: undisclosed-recipients:;\r\n"), std::string::npos);
    EXPECT_NE(bccOnly.find("\r\nX-Mailer: Ardwyn E-Mailer (KT_EMailer " KT_VERSION_NAME ")\r\n"), std::string::npos);
}

TEST(EightBit, OnlyForTextOfWholeLinesWithinTheLimit) {
    // Lines of four-byte characters, more of them than are encoded at once.
    std::wstring emoji;
    for (int i = 0; i < 249; ++i) emoji += L"\U0001F600";
    std::wstring emojiLines;
    for (int i = 0; i < 300; ++i) emojiLines += emoji + L"\r\n";
    const std::wstring fits[] = {L"", L"line\r\n", L"Gr\u00fc\u00dfe\r\n\r\n", std::wstring(998, L'x') + L"\r\n",
                                 L"." + std::wstring(996, L'x') + L"\r\n", std::wstring(499, L'\u00e9') + L"\r\n",
                                 emojiLines};
    const std::wstring doesNot[] = {L"no final break", L"lone\nfeed\r\n", L"lone\rreturn\r\n",
                                    std::wstring(L"nul\0\r\n", 6), std::wstring(999, L'x') + L"\r\n",
                                    L"." + std::wstring(997, L'x') + L"\r\n", std::wstring(500, L'\u00e9') + L"\r\n"};
    for (const auto& text : fits) {
        EXPECT_TRUE(fitsEightBit(text)) << text.size();
        EXPECT_EQ(encoded(text, BodyEncoding::EightBit, 3), toUtf8(text));
    }
    for (const auto& text : doesNot) EXPECT_FALSE(fitsEightBit(text)) << text.size();
}

TEST(MessageText, DatesAreInTheLocalOffset) {
    EXPECT_EQ(formatDate(0, 0), "Thu, 01 Jan 1970 00:00:00 +0000");
    EXPECT_EQ(formatDate(1796555056, 60), "Sun, 06 Dec 2026 12:04:16 +0100");
    EXPECT_EQ(formatDate(1796555056, -330), "Sun, 06 Dec 2026 05:34:16 -0530");
}

TEST(Addresses, OnlyPlainOnesPassAndInternationalOnesGoWithTheirDomainsAsciiForm) {
    EXPECT_EQ(checkedAddress(L"  ann.lee+tag@mail.example.com\t").ascii(), "ann.lee+tag@mail.example.com");
    EXPECT_EQ(checkedAddress(L"root@[127.0.0.1]").ascii(), "root@[127.0.0.1]");
    for (const std::wstring& bad : std::vector<std::wstring>{
             L"", L"  ", L"ann", L"@example.com", L"ann@", L"a b@example.com", L"<ann@example.com>",
             L"ann@example.com\r\nRCPT TO:<x@y>", L"ann..lee@example.com", L"ann@exa>mple.com",
             L"j\u00f6rg\u0085@example.com", L"j\u00f6rg@b\u00fccher\u2028.example", L"\u00f6 \u00f6@example.com",
             std::wstring(L"ann@exa\0mple.com", 16)}) {
        SCOPED_TRACE(toUtf8(bad));
        failureText([&] { checkedAddress(bad); }, failure(MailFailure::InvalidAddress));
    }
    // The conversion of domains is the system's (its table of pairs runs against
    // each build in smtp_delivery_test.py); a local part is never touched.
    const MailAddress idn = checkedAddress(L"Info@B\u00dcCHER.Example");
    EXPECT_EQ(idn.ascii(), "Info@xn--bcher-kva.example");
    EXPECT_EQ(idn.unicode(), "Info@B\xC3\x9C" "CHER.Example");
    EXPECT_FALSE(idn.needsSmtpUtf8());
    const MailAddress eai = checkedAddress(L"J\u00d6rg@example.de");
    EXPECT_EQ(eai.ascii(), "J\xC3\x96rg@example.de");
    EXPECT_TRUE(eai.needsSmtpUtf8());
}

}  // namespace kt
