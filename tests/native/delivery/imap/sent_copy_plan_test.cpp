// Whether and where the Sent copy goes for an SMTP server and its settings,
// and the copy's header block.

#include "delivery/imap/sent_copy_plan.h"

#include <gtest/gtest.h>

#include "delivery/mail_error.h"
#include "delivery/message/mime_writer.h"

namespace kt {
namespace {

std::string servers(const std::optional<SentCopyPlan>& plan) {
    if (!plan) return "none";
    std::string text;
    for (const auto& server : plan->servers)
        text += server.host + ":" + std::to_string(server.port) + (server.implicitTls ? " tls" : " starttls") + "; ";
    return text;
}

TEST(SentCopyPlan, WhetherAndWhere) {
    const struct {
        const char* smtpHost;
        SentCopySettings settings;
        const char* servers;
    } cases[] = {
        {"mail.example.com", {}, "imap.example.com:993 tls; imap.example.com:143 starttls; "},
        {"example.com", {}, "imap.example.com:993 tls; imap.example.com:143 starttls; "},
        {"smtp.mail.example.co.uk", {}, "imap.mail.example.co.uk:993 tls; imap.mail.example.co.uk:143 starttls; "},
        {"smtp.gmail.com", {}, "none"},  // files its own
        {"smtp.office365.com", {L" AUTO "}, "none"},
        {"smtp.gmail.com", {L"Always"}, "imap.gmail.com:993 tls; "},
        {"smtp-mail.outlook.com", {L"always", L"localhost:14300"}, "localhost:14300 starttls; "},
        {"smtp.zoho.eu", {L"always"}, "imap.zoho.eu:993 tls; "},
        {"mail.example.com", {L"never", L"imap.example.com"}, "none"},
        {"mail.example.com", {L"", L"Mx.Example.com:993"}, "mx.example.com:993 tls; "},
        {"mail.example.com", {L"", L"[::1]:1430"}, "::1:1430 starttls; "},
        {"mail.example.com", {L"", L"imap.example.com"}, "imap.example.com:993 tls; imap.example.com:143 starttls; "},
        {"mail.example.com", {L"sometimes"}, "imap.example.com:993 tls; imap.example.com:143 starttls; "},
        {"192.0.2.7", {}, "none"},  // an address or a name without a domain tells no IMAP host
        {"localhost", {}, "none"},
    };
    for (const auto& c : cases) EXPECT_EQ(servers(sentCopyPlan(c.smtpHost, c.settings)), c.servers) << c.smtpHost;

    for (const wchar_t* broken : {L"imap.example.com:", L"imap.example.com:99999", L"imap://x", L"a b", L"[::1"})
        EXPECT_THROW(sentCopyPlan("mail.example.com", {L"", broken}), ComponentError) << broken;
    EXPECT_THROW(sentCopyPlan("localhost", {L"always"}), ComponentError);
    EXPECT_EQ(sentCopyPlan("192.0.2.7", {L"", L"192.0.2.8"})->folder, "");
    EXPECT_EQ(sentCopyPlan("mail.example.com", {L"", L"", L" Gesendete Elemente "})->folder, "Gesendete Elemente");
}

TEST(SentCopyPlan, TheKeptCopyNamesTheBccRecipients) {
    MailMessage message;
    message.from = Mailbox{checkedAddress(L"me@example.com"), std::nullopt};
    message.to = {{checkedAddress(L"ann@example.com"), std::nullopt}};
    const MessageStamp stamp{"d", "<i@x>"};
    const std::string sent = writeHeaders(message, stamp, {});
    EXPECT_EQ(withBccField(sent, message, {}), sent);  // no Bcc recipient, no field
    message.bcc = {{checkedAddress(L"bob@example.com"), L"Bob"}, {checkedAddress(L"j\u00F6rg@example.de"), L"J\u00F6rg"}};
    const std::string kept = withBccField(writeHeaders(message, stamp, {}), message, {});
    EXPECT_EQ(kept.substr(0, sent.size() - 2), sent.substr(0, sent.size() - 2));
    EXPECT_EQ(kept.substr(sent.size() - 2), "Bcc: Bob <bob@example.com>, =?UTF-8?B?SsO2cmc=?= <j\xC3\xB6rg@example.de>\r\n\r\n");
}

}  // namespace
}  // namespace kt
