#include "delivery/smtp/mime_writer.h"

#include <gtest/gtest.h>

#include "delivery/smtp/address_rules.h"
#include "delivery/smtp/utf8.h"
#include "foundation/component_error.h"

namespace kt {

std::string joined(const HeaderWords& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

TEST(HeaderText, DisplayNamesAndSubjectsAreWordsQuotedOrEncoded) {
    EXPECT_EQ(joined(displayNameWords(L"Ann Lee")), "Ann Lee");
    EXPECT_EQ(joined(displayNameWords(L"Lee, Ann")), "\"Lee, Ann\"");
    EXPECT_EQ(joined(displayNameWords(L"say \"hi\" \\o/")), "\"say \\\"hi\\\" \\\\o/\"");
    EXPECT_EQ(joined(displayNameWords(L" Ann  Lee ")), "\"Ann  Lee\"");
    EXPECT_EQ(joined(displayNameWords(L"Zo\u00eb")), "=?UTF-8?B?Wm/Dqw==?=");
    EXPECT_EQ(joined(displayNameWords(L"Ann\r\nBcc: x@y")), "\"Ann  Bcc: x@y\"");
    EXPECT_EQ(joined(unstructuredWords(L"Hello  there")), "Hello  there");
    EXPECT_EQ(joined(unstructuredWords(L"line\r\nBcc: evil@x")), "line  Bcc: evil@x");
    EXPECT_EQ(unstructuredWords(L"=?UTF-8?B?x?=")[0].rfind("=?UTF-8?B?", 0), 0u);  // never taken for a word
}

TEST(HeaderText, EveryHeaderLineFitsWhereItCanAndNoneIsTooLong) {
    std::wstring manyWords, longQuoted, longWord(300, L'a');
    for (int i = 0; i < 300; ++i) manyWords += L"Word" + std::to_wstring(i) + L" ";
    for (int i = 0; i < 30; ++i) longQuoted += L"Lee, Ann ";
    MailMessage message;
    message.from = Mailbox{"me@example.com", manyWords};
    for (const auto& name : {manyWords, longQuoted, longWord, std::wstring(100, L'\u00e9')})
        message.to.push_back({"p@example.com", name});
    message.cc.push_back({std::string(64, 'l') + "@" + std::string(189, 'd'), std::wstring(L"Long Address")});
    for (const auto& subject : {manyWords, longWord, std::wstring(200, L'\u65e5')}) {
        message.subject = subject;
        const std::string text = writeMessage(message, {"Sun, 06 Dec 2026 11:04:16 +0000", "<1.2@example.com>"});
        const std::string headers = text.substr(0, text.find("\r\n\r\n") + 2);
        for (std::size_t start = 0; start < headers.size();) {
            const std::size_t end = headers.find("\r\n", start);
            const std::string line = headers.substr(start, end - start);
            if (line.find(std::string(64, 'l')) == std::string::npos)
                EXPECT_LE(line.size(), 78u) << line;
            else
                EXPECT_LE(line.size(), 998u);
            start = end + 2;
        }
    }
}

TEST(MessageText, HeadersAndBody) {
    MailMessage message;
    message.from = Mailbox{"me@example.com", std::wstring(L"Me")};
    message.to = {{"ann@example.com", std::wstring(L"Ann")}, {"bob@example.com", std::nullopt}};
    message.bcc = {{"hidden@example.com", std::wstring(L"Hidden")}};
    message.subject = L"Hi";
    message.body = L"Body";
    message.html = true;
    const std::string text = writeMessage(message, {"Sun, 06 Dec 2026 11:04:16 +0000", "<1.2@example.com>"});
    EXPECT_EQ(text,
              "Date: Sun, 06 Dec 2026 11:04:16 +0000\r\n"
              "From: Me <me@example.com>\r\n"
              "To: Ann <ann@example.com>, bob@example.com\r\n"
              "Subject: Hi\r\n"
              "Message-ID: <1.2@example.com>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: text/html; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n"
              "X-Mailer: Ardwyn E-Mailer (KT_EMailer 1.0)\r\n"
              "\r\n"
              "Body=\r\n");
    message.to.clear();
    EXPECT_NE(writeMessage(message, {"d", "<i@x>"}).find("To: undisclosed-recipients:;\r\n"), std::string::npos);
}

TEST(MessageText, DatesAreRfc5322InTheLocalOffset) {
    EXPECT_EQ(formatDate(0, 0), "Thu, 01 Jan 1970 00:00:00 +0000");
    EXPECT_EQ(formatDate(1796555056, 60), "Sun, 06 Dec 2026 12:04:16 +0100");
    EXPECT_EQ(formatDate(1796555056, -330), "Sun, 06 Dec 2026 05:34:16 -0530");
}

TEST(Addresses, OnlyPlainAddressesPass) {
    EXPECT_EQ(checkedAddress(L"ann@example.com"), "ann@example.com");
    EXPECT_EQ(checkedAddress(L"  ann.lee+tag@mail.example.com\t"), "ann.lee+tag@mail.example.com");
    EXPECT_EQ(checkedAddress(L"root@[127.0.0.1]"), "root@[127.0.0.1]");
    for (const wchar_t* bad : {L"", L"  ", L"ann", L"@example.com", L"ann@", L"a b@example.com", L"<ann@example.com>",
                               L"ann@example.com\r\nRCPT TO:<x@y>", L"ann..lee@example.com", L"ann@exa>mple.com",
                               L"j\u00f6rg@example.com"}) {
        try {
            checkedAddress(bad);
            ADD_FAILURE() << "accepted an invalid address";
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), -2147220992L + 1);
        }
    }
    EXPECT_THROW(checkedAddress(std::wstring(L"ann@exa") + L'\0' + L"mple.com"), ComponentError);
}

TEST(Utf8, RoundTripsAndReplacesBrokenText) {
    const std::wstring text = L"A\u00e9\u65e5\U0001F600";
    EXPECT_EQ(toUtf8(text), "A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
    EXPECT_EQ(fromUtf8(toUtf8(text)), text);
    EXPECT_EQ(fromUtf8("\xC3"), L"\uFFFD");
    EXPECT_EQ(fromUtf8("\xC0\x80"), L"\uFFFD\uFFFD");  // overlong
}

}  // namespace kt
