// The SMTP dialogue against scripted servers whose bytes arrive in small pieces
// (multi-line replies too). The TLS itself is the Windows socket layer's.

#include "delivery/smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "delivery/message/address_rules.h"
#include "foundation/base64.h"
#include "delivery/mail_error.h"
#include "delivery/smtp/server_address.h"
#include "delivery/scripted_server.h"
#include "delivery/sockets/socket_transport.h"

namespace kt {
namespace {

using Script = ScriptedServerBase::Script;
const ReplyTimeouts kTimeout = ReplyTimeouts::all(std::chrono::milliseconds(1000));
const Envelope kAnnsEnvelope{checkedAddress(L"me@example.com"), {checkedAddress(L"ann@example.com")}};

// Answers each command by its verb (the script's replies in turn, the last
// one kept) in pieces that grow from one byte, then closes; traces the verbs
// it got and "TLS" where TLS started; fails the test on a sign-in in the clear.
class ScriptedServer final : public ScriptedServerBase {
public:
    explicit ScriptedServer(const Script& script)
        : ScriptedServerBase("mail.example.com",
                             {{"greeting", {"220 ready"}}, {"EHLO", {"250 ok"}}, {"STARTTLS", {"220 go ahead"}},
                              {"AUTH PLAIN", {"235 ok"}}, {"AUTH LOGIN", {"334 VXNlcg=="}},
                              {"answer", {"334 UGFzcw==", "235 ok"}}, {"DATA", {"354 go"}}, {"QUIT", {"221 bye"}}},
                             script, "250 ok") {
        pending_ = next("greeting");
    }

    void send(std::string_view bytes) override {
        EXPECT_TRUE(encrypted_ || bytes.find(base64(kAnn.password)) == std::string::npos) << "a password in the clear";
        const std::string line(bytes.substr(0, bytes.find("\r\n")));
        std::string verb = inData_ ? "." : answering_ ? "answer" : line.substr(0, line.find_first_of(" :"));
        if (verb == "AUTH") {
            EXPECT_TRUE(encrypted_) << "AUTH in the clear";
            verb = line.substr(0, line.find(' ', 5));
        }
        if (verb == "EHLO" || verb == "HELO") {
            EXPECT_EQ(line, verb + " [127.0.0.1]");
        }
        trace += verb + " ";
        lines.push_back(line);
        pending_ += next(verb);
        answering_ = answersNext("334");
        inData_ = verb == "DATA" && answersNext("354");
    }

    std::vector<std::string> lines;  // the first line of every write

private:
    bool inData_ = false, answering_ = false;
};

// "Hello": seven bytes as 8-bit text, nine as quoted-printable; eight where
// the server takes fewer (a picture left out, say).
class Hello final : public OutgoingMessage {
public:
    explicit Hello(bool eightBit = false) : eightBit_(eightBit) {}
    bool fitsEightBit() const override { return eightBit_; }
    std::size_t size(const MessageForm& form) const override {
        if (form.sizeLimit > 0 && form.sizeLimit < 9) return 8;
        return form.encoding == BodyEncoding::EightBit ? 7 : 9;
    }
    void write(const MessageForm&, const BytesSink& sink) const override { sink("Hello\r\n"); }

private:
    bool eightBit_;
};

// The EHLO replies in turn.
Script::value_type ehlo(std::initializer_list<std::string> replies) { return {"EHLO", replies}; }

TEST(SmtpReplies, BrokenRepliesEndWithTheErrorThatSaysWhy) {
    const long violation = failure(MailFailure::ProtocolViolation), closed = failure(MailFailure::ConnectionClosed);
    std::string longLines, manyLines;
    for (int i = 0; i < 18; ++i) longLines += "250-" + std::string(60000, 'x') + "\r\n";
    for (int i = 0; i < 1000; ++i) manyLines += "250-more\r\n";
    const struct {
        std::string arriving;
        long number;
        const wchar_t* text;
    } cases[] = {
        {"250x", violation, L"The SMTP server sent a malformed reply: 250x"},
        {"007 x", violation, L"The SMTP server sent a malformed reply: 007 x"},
        {"250-a\r\n251 b", violation, L"The SMTP server changed the reply code within a reply: 251 b"},
        {"250-partial", closed, L"The SMTP server closed the connection."},
        {"220 " + std::string(70000, 'x'), violation, L"The SMTP server sent a reply line that never ends."},
        {longLines, violation, L"The SMTP server sent a reply that never ends."},
        {manyLines + "250 last", violation, L"The SMTP server sent a reply that never ends."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arriving.substr(0, 20));
        ScriptedServer server(Script{{"greeting", {c.arriving}}});
        EXPECT_EQ(failureText([&] { SmtpReplyReader(server).read(kTimeout.greeting); }, c.number), c.text);
    }
}

TEST(SmtpSecurity, WhenToStartTlsSignInOrAskForASignIn) {
    const std::string startTls = "250-mail.example.com\r\n250 STARTTLS";
    const std::string signIn = "250-mail.example.com\r\n250 AUTH PLAIN LOGIN";
    const std::string oauth = "250-mail.example.com\r\n250 AUTH PLAIN XOAUTH2 OAUTHBEARER";
    const std::string tokenError = "334 eyJzdGF0dXMiOiI0MDEifQ==";  // as Google refuses a token
    const std::string sent = "MAIL RCPT DATA . QUIT ", tls = "EHLO STARTTLS TLS EHLO ";
    const Script::value_type mailWants{"MAIL", {"530 5.7.0 sign in"}};
    const SessionSecurity plain{}, withAnn{"", false, false, &kAnn}, submission{"", false, true},
        implicit{"", true}, implicitWithAnn{"", true, false, &kAnn}, implicitWithToken{"", true, false, &kAnnsToken},
        withToken{"", false, false, &kAnnsToken};
    const long noTls = failure(MailFailure::TlsRequired), refused = kMailErrorBase + 535,
               noSmtpUtf8 = failure(MailFailure::NeedsSmtpUtf8);
    const MailAddress me = checkedAddress(L"me@example.com"), bookshop = checkedAddress(L"info@b\u00fccher.example");
    const Envelope international{me, {bookshop, checkedAddress(L"j\u00f6rg@example.de")}};
    enum Ends { kDelivered, kFails, kAsksForSignIn, kAsksAgain };
    struct Case {
        const char* what;
        Script script;
        SessionSecurity security;
        std::string trace;
        Ends ends = kDelivered;
        long number = 0;
        std::vector<std::string> lines = {};  // where given, how the lines after the first EHLO begin
        Envelope envelope = kAnnsEnvelope;
    };
    const std::vector<Case> cases{
        {"HELO where EHLO is unknown", {ehlo({"502 5.5.2 what?"})}, plain, "EHLO HELO " + sent},
        {"STARTTLS whenever offered", {ehlo({startTls})}, plain, tls + sent},
        {"a sign-in after TLS, PLAIN first", {ehlo({startTls, signIn})}, withAnn, tls + "AUTH PLAIN " + sent},
        {"LOGIN when it is all there is", {ehlo({startTls, "250-x\r\n250 AUTH=LOGIN"})}, withAnn,
         tls + "AUTH LOGIN answer answer " + sent},
        {"TLS from the first byte", {ehlo({signIn})}, implicitWithAnn, "TLS EHLO AUTH PLAIN " + sent},
        {"a kept password not needed in the clear", {ehlo({signIn})}, withAnn, "EHLO " + sent},
        {"a kept password wanted in the clear", {ehlo({signIn}), mailWants}, withAnn, "EHLO MAIL QUIT ", kFails, noTls},
        {"no submission without TLS", {}, submission, "EHLO QUIT ", kFails, noTls},
        {"a sign-in wanted in the clear", {ehlo({signIn}), mailWants}, plain, "EHLO MAIL QUIT ", kFails, noTls},
        {"no token without TLS", {ehlo({oauth}), mailWants}, withToken, "EHLO MAIL QUIT ", kFails, noTls},
        {"STARTTLS refused",
         {ehlo({"250-mail.example.com\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN"}), {"STARTTLS", {"454 4.7.0 not now"}}},
         withAnn, "EHLO STARTTLS QUIT ", kFails, kMailErrorBase + 454},
        {"plaintext after the go-ahead", {ehlo({startTls}), {"STARTTLS", {"220 go\r\n250 PIPELINED"}}}, plain,
         "EHLO STARTTLS ", kFails, failure(MailFailure::ProtocolViolation)},
        {"5.7.x where no sign-in is offered", {{"RCPT", {"550 5.7.1 relaying denied"}}}, implicit,
         "TLS EHLO MAIL RCPT QUIT ", kFails, kMailErrorBase + 550},
        {"530 to MAIL", {ehlo({signIn}), mailWants}, implicit, "TLS EHLO MAIL QUIT ", kAsksForSignIn,
         kMailErrorBase + 530},
        {"5.7.x to RCPT", {ehlo({signIn}), {"RCPT", {"554 5.7.1 relaying denied"}}}, implicit,
         "TLS EHLO MAIL RCPT QUIT ", kAsksForSignIn, kMailErrorBase + 554},
        {"mail submission", {ehlo({startTls, signIn})}, submission, tls + "QUIT ", kAsksForSignIn,
         failure(MailFailure::SignInRequired)},
        {"a wrong password", {ehlo({signIn}), {"AUTH PLAIN", {"535 5.7.8 bad"}}}, implicitWithAnn,
         "TLS EHLO AUTH PLAIN QUIT ", kAsksAgain, refused},
        {"a token with XOAUTH2", {ehlo({oauth})}, implicitWithToken, "TLS EHLO AUTH XOAUTH2 " + sent},
        // A refused token is answered: XOAUTH2 with an empty line, OAUTHBEARER with its 0x01.
        {"a token refused the way Google does",
         {ehlo({oauth}), {"AUTH XOAUTH2", {tokenError}}, {"answer", {"535 5.7.8 Username and Password not accepted"}}},
         implicitWithToken, "TLS EHLO AUTH XOAUTH2 answer QUIT ", kAsksAgain, refused,
         {"AUTH XOAUTH2 " + base64("user=ann@example.com\x01" "auth=Bearer ya29.t0ken\x01\x01"), ""}},
        {"a token refused with OAUTHBEARER, all there is",
         {ehlo({"250-x\r\n250 AUTH OAUTHBEARER"}), {"AUTH OAUTHBEARER", {tokenError}}, {"answer", {"535 5.7.8 no"}}},
         implicitWithToken, "TLS EHLO AUTH OAUTHBEARER answer QUIT ", kAsksAgain, refused,
         {"AUTH OAUTHBEARER " + base64("n,a=ann@example.com,\x01" "auth=Bearer ya29.t0ken\x01\x01"), "AQ=="}},
        {"a token where no mechanism takes one", {ehlo({signIn})}, implicitWithToken, "TLS EHLO QUIT ", kFails,
         failure(MailFailure::SignInFailed)},
        // An address beyond ASCII before its @ goes with SMTPUTF8 or not at all; a domain alone in its ASCII form.
        {"no SMTPUTF8", {ehlo({"250-x\r\n250 8BITMIME"})}, plain, "EHLO QUIT ", kFails, noSmtpUtf8, {},
         international},
        {"SMTPUTF8, BODY=8BITMIME with it", {ehlo({"250-x\r\n250-8BITMIME\r\n250 SMTPUTF8"})}, plain,
         "EHLO MAIL RCPT RCPT DATA . QUIT ", kDelivered, 0,
         {"MAIL FROM:<me@example.com> SMTPUTF8 BODY=8BITMIME", "RCPT TO:<info@b\xC3\xBC" "cher.example>",
          "RCPT TO:<j\xC3\xB6rg@example.de>"},
         international},
        {"a domain beyond ASCII", {ehlo({"250-x\r\n250 SMTPUTF8"})}, plain, "EHLO " + sent, kDelivered, 0,
         {"MAIL FROM:<me@example.com>", "RCPT TO:<info@xn--bcher-kva.example>"}, Envelope{me, {bookshop}}},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.what);
        int accepted = 0;
        c.security.host = "mail.example.com";
        c.security.signInAccepted = [&] { ++accepted; };
        ScriptedServer server(c.script);
        Ends ends = kDelivered;
        long number = 0;
        try {
            deliverOverSmtp(server, c.envelope, Hello(), kTimeout, c.security);
        } catch (const SignInDemanded& demand) {
            ends = demand.passwordRefused() ? kAsksAgain : kAsksForSignIn;
            number = demand.number();
        } catch (const ComponentError& error) {
            ends = kFails;
            number = error.number();
            // The user learns what the server lacks, and for which address.
            const wchar_t* says = number == noTls ? L"no TLS" : number == noSmtpUtf8 ? L"j\u00f6rg@example.de" : L"";
            EXPECT_NE(error.description().find(says), std::wstring::npos);
        }
        EXPECT_EQ(server.trace, c.trace);
        EXPECT_EQ(ends, c.ends);
        EXPECT_EQ(number, c.number);
        EXPECT_EQ(accepted, c.ends == kDelivered && server.trace.find("AUTH") != std::string::npos);
        std::vector<std::string> after(server.lines.begin() + 1, server.lines.end());
        after.resize(c.lines.size());
        EXPECT_EQ(after, c.lines);
    }
}

// MAIL names the size of the form the last EHLO points to (over TLS, the
// server's own); a message larger than the server takes never starts.
TEST(SmtpSize, MailNamesTheSizeOfTheFormOfferedAndALargerMessageNeverStarts) {
    const std::string tls = "250-x\r\n250-STARTTLS\r\n";
    const struct {
        std::string before, over;  // EHLO's replies before TLS and over it
        const char* mailFrom;      // after the sender's address; nullptr: nothing sent
    } cases[] = {
        {"250-x\r\n250 SIZE 9", "", " SIZE=9"},
        {"250 x", "", ""},
        {"250-x\r\n250 SIZE 7", "", nullptr},
        {tls + "250 SIZE", "250-x\r\n250 SIZE", " SIZE=9"},
        {tls + "250 SIZE", "250-x\r\n250-8BITMIME\r\n250 SIZE", " BODY=8BITMIME SIZE=7"},
        {tls + "250-8BITMIME\r\n250 SIZE", "250-x\r\n250 SIZE", " SIZE=9"},
        {tls + "250 x", "250-x\r\n250 SIZE", " SIZE=9"},
        {tls + "250 SIZE 100", "250-x\r\n250 SIZE 8", " SIZE=8"},
        {tls + "250 SIZE 100", "250-x\r\n250 SIZE 7", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before + " then " + c.over);
        ScriptedServer server({ehlo({c.before, c.over})});
        try {
            deliverOverSmtp(server, kAnnsEnvelope, Hello(true), kTimeout, {"mail.example.com"});
            EXPECT_NE(c.mailFrom, nullptr);
        } catch (const ComponentError& error) {
            EXPECT_EQ(c.mailFrom, nullptr);
            EXPECT_EQ(error.number(), failure(MailFailure::MessageTooLarge));
            EXPECT_NE(error.description().find(L"nothing was sent"), std::wstring::npos);
        }
        const auto mail = std::find_if(server.lines.begin(), server.lines.end(),
                                       [](const std::string& line) { return line.rfind("MAIL", 0) == 0; });
        EXPECT_EQ(mail == server.lines.end() ? "" : *mail,
                  c.mailFrom ? "MAIL FROM:<me@example.com>" + std::string(c.mailFrom) : "");
    }
}

TEST(ServerText, FormsTheirPortsAndTls) {
    for (const auto& [text, form] : std::vector<std::pair<const wchar_t*, std::string>>{
             {L"mail.example.com", "mail.example.com:25"}, {L"mail.example.com:465", "mail.example.com:465 TLS"},
             {L"[::1]:2525", "::1:2525"}, {L"SMTPS://mail.example.com", "mail.example.com:465 TLS"},
             {L"smtp://mail.example.com:465", "mail.example.com:465"}}) {
        const ServerAddress address = parseServerAddress(text, 25);
        EXPECT_EQ(address.host + ":" + std::to_string(address.port) + (address.implicitTls ? " TLS" : ""), form);
    }
    EXPECT_EQ(parseServerAddress(L"SMTP.Gmail.com", 25).signInHost(), "smtp.gmail.com");  // one profile, one token
    for (const wchar_t* refused : {L"", L"smtps://", L"http://mail.example.com", L"smtps://ann:pw@mail.example.com",
                                   L"mail.example.com:0", L"mail.example.com\r\nRCPT TO:<x@y>", L"::1",
                                   L"2001:db8::25:587", L"[mail.example.com]:25", L"[cafe]"}) {
        const auto says = failureText([&] { parseServerAddress(refused, 25); }, failure(MailFailure::InvalidServer));
        EXPECT_NE(says.find(L"smtps://host[:port]"), std::wstring::npos) << refused;
    }
}

TEST(SmtpProgress, StepsComeInTheirOrderAndNoStopOnceTheMessagesEndIsOut) {
    std::vector<DeliveryStep> steps;
    std::uint64_t counted = 0;
    DeliveryProgress progress([&](const DeliveryProgress& seen) {
        if (steps.empty() || steps.back() != seen.step()) steps.push_back(seen.step());
        counted = seen.total();
    });
    ScriptedServer server({ehlo({"250-x\r\n250-STARTTLS\r\n250 AUTH PLAIN"})});
    deliverOverSmtp(server, kAnnsEnvelope, Hello(), kTimeout, {"mail.example.com", false, false, &kAnn}, &progress);
    EXPECT_EQ(steps, (std::vector<DeliveryStep>{DeliveryStep::Securing, DeliveryStep::SigningIn, DeliveryStep::Sending,
                                                DeliveryStep::AwaitingAcceptance, DeliveryStep::Accepted}));
    EXPECT_EQ(counted, 9u);
    progress.stop();
    EXPECT_FALSE(progress.stopRequested());
}

TEST(ConnectionOrder, AddressFamiliesTakeTurnsThePreferredFirst) {
    std::string order;
    for (const auto& address : interleavedByFamily({{6, "a"}, {6, "b"}, {6, "c"}, {4, "x"}, {4, "y"}}))
        order += address.socketAddress;
    EXPECT_EQ(order, "axbyc");
}

TEST(DataSection, DoublesLeadingDotsAcrossPiecesAndEndsWithTheDotLine) {
    const auto section = [&](const std::vector<std::string>& pieces) {
        std::string sent;
        DataSection data([&](const std::string& piece) { sent += piece; });
        for (const auto& piece : pieces) data.add(piece);
        data.finish();
        return sent;
    };
    EXPECT_EQ(section({".a\r", "\n.b\r\n", ".", "x"}), "..a\r\n..b\r\n..x\r\n.\r\n");
    EXPECT_EQ(section({"line\r", "\n"}), "line\r\n.\r\n");
    EXPECT_EQ(section({}), "\r\n.\r\n");
    // Large pieces, which may go as they are: after what waits, and with their dots.
    const std::string large(1 << 20, 'x');
    EXPECT_EQ(section({"a\r\n", large + "\r\n", ".b"}), "a\r\n" + large + "\r\n..b\r\n.\r\n");
    EXPECT_EQ(section({"a\r\n", "b\r\n." + large}), "a\r\nb\r\n.." + large + "\r\n.\r\n");
}

}  // namespace
}  // namespace kt
