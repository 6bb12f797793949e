// The SMTP dialogue against scripted servers whose bytes arrive in small pieces
// (multi-line replies too). The TLS itself is the Windows socket layer's.

#include "delivery/smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <map>
#include <tuple>
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

const SignIn kAnn{"ann", "pa55word"};
const SignIn kAnnsToken{"ann@example.com", "ya29.t0ken", true};  // a provider's access token
const ReplyTimeouts kTimeout = ReplyTimeouts::all(std::chrono::milliseconds(1000));
const Envelope kAnnsEnvelope{checkedAddress(L"me@example.com"), {checkedAddress(L"ann@example.com")}};

long failure(MailFailure kind) { return kMailErrorBase + static_cast<long>(kind); }

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

// A message that is its text, whatever the encoding.
class FixedMessage final : public OutgoingMessage {
public:
    bool fitsEightBit() const override { return false; }
    std::size_t size(const MessageForm&) const override { return 7; }
    void write(const MessageForm&, const BytesSink& sink) const override { sink("Hello\r\n"); }
};

std::string repeated(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

TEST(SmtpReplies, BrokenRepliesEndWithTheErrorThatSaysWhy) {
    const long violation = failure(MailFailure::ProtocolViolation), closed = failure(MailFailure::ConnectionClosed);
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
        {repeated("250-" + std::string(60000, 'x') + "\r\n", 18), violation,
         L"The SMTP server sent a reply that never ends."},
        {repeated("250-more\r\n", 1000) + "250 last", violation, L"The SMTP server sent a reply that never ends."},
    };
    for (const auto& c : cases) {
        ScriptedServer server(ScriptedServer::Script{{"greeting", {c.arriving}}});
        try {
            SmtpReplyReader(server).read(kTimeout.greeting);
            ADD_FAILURE() << "read a reply from " << c.arriving.substr(0, 20);
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), c.number) << c.arriving.substr(0, 20);
            EXPECT_EQ(error.description(), c.text);
        }
    }
}

TEST(SmtpSecurity, WhenToStartTlsSignInOrAskForASignIn) {
    const std::string startTls = "250-mail.example.com\r\n250 STARTTLS";
    const std::string signIn = "250-mail.example.com\r\n250 AUTH PLAIN LOGIN";
    const std::string both = "250-mail.example.com\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN";
    const std::string oauth = "250-mail.example.com\r\n250 AUTH PLAIN XOAUTH2 OAUTHBEARER";
    const SessionSecurity plain{}, withAnn{"", false, false, &kAnn}, submission{"", false, true},
        implicit{"", true}, implicitWithAnn{"", true, false, &kAnn}, implicitWithToken{"", true, false, &kAnnsToken};
    enum Ends { kDelivered, kFails, kAsksForSignIn, kAsksAgain };
    struct Case {
        const char* what;
        ScriptedServer::Script script;
        SessionSecurity security;
        const char* trace;
        Ends ends;
        long number;
    };
    const std::vector<Case> cases{
        {"HELO where EHLO is unknown", {{"EHLO", {"502 5.5.2 what?"}}}, plain, "EHLO HELO MAIL RCPT DATA . QUIT ",
         kDelivered, 0},
        {"STARTTLS whenever offered", {{"EHLO", {startTls}}}, plain, "EHLO STARTTLS TLS EHLO MAIL RCPT DATA . QUIT ",
         kDelivered, 0},
        {"a sign-in after TLS, PLAIN first", {{"EHLO", {startTls, signIn}}}, withAnn,
         "EHLO STARTTLS TLS EHLO AUTH PLAIN MAIL RCPT DATA . QUIT ", kDelivered, 0},
        {"LOGIN when it is all there is", {{"EHLO", {startTls, "250-x\r\n250 AUTH=LOGIN"}}}, withAnn,
         "EHLO STARTTLS TLS EHLO AUTH LOGIN answer answer MAIL RCPT DATA . QUIT ", kDelivered, 0},
        {"TLS from the first byte", {{"EHLO", {signIn}}}, implicitWithAnn, "TLS EHLO AUTH PLAIN MAIL RCPT DATA . QUIT ",
         kDelivered, 0},
        {"a kept password not needed in the clear", {{"EHLO", {signIn}}}, withAnn, "EHLO MAIL RCPT DATA . QUIT ",
         kDelivered, 0},
        {"a kept password wanted in the clear", {{"EHLO", {signIn}}, {"MAIL", {"530 5.7.0 sign in"}}}, withAnn,
         "EHLO MAIL QUIT ", kFails, failure(MailFailure::TlsRequired)},
        {"no submission without TLS", {}, submission, "EHLO QUIT ", kFails, failure(MailFailure::TlsRequired)},
        {"a sign-in wanted in the clear", {{"EHLO", {signIn}}, {"MAIL", {"530 5.7.0 sign in"}}}, plain,
         "EHLO MAIL QUIT ", kFails, failure(MailFailure::TlsRequired)},
        {"STARTTLS refused", {{"EHLO", {both}}, {"STARTTLS", {"454 4.7.0 not now"}}}, withAnn, "EHLO STARTTLS QUIT ",
         kFails, kMailErrorBase + 454},
        {"plaintext after the go-ahead", {{"EHLO", {startTls}}, {"STARTTLS", {"220 go\r\n250 PIPELINED"}}}, plain,
         "EHLO STARTTLS ", kFails, failure(MailFailure::ProtocolViolation)},
        {"5.7.x where no sign-in is offered", {{"RCPT", {"550 5.7.1 relaying denied"}}}, implicit,
         "TLS EHLO MAIL RCPT QUIT ", kFails, kMailErrorBase + 550},
        {"530 to MAIL", {{"EHLO", {signIn}}, {"MAIL", {"530 5.7.0 sign in"}}}, implicit, "TLS EHLO MAIL QUIT ",
         kAsksForSignIn, kMailErrorBase + 530},
        {"5.7.x to RCPT", {{"EHLO", {signIn}}, {"RCPT", {"554 5.7.1 relaying denied"}}}, implicit,
         "TLS EHLO MAIL RCPT QUIT ", kAsksForSignIn, kMailErrorBase + 554},
        {"mail submission", {{"EHLO", {startTls, signIn}}}, submission, "EHLO STARTTLS TLS EHLO QUIT ", kAsksForSignIn,
         failure(MailFailure::SignInRequired)},
        {"a wrong password", {{"EHLO", {signIn}}, {"AUTH PLAIN", {"535 5.7.8 bad"}}}, implicitWithAnn,
         "TLS EHLO AUTH PLAIN QUIT ", kAsksAgain, kMailErrorBase + 535},
        {"a token with XOAUTH2", {{"EHLO", {oauth}}}, implicitWithToken, "TLS EHLO AUTH XOAUTH2 MAIL RCPT DATA . QUIT ",
         kDelivered, 0},
        {"a token with OAUTHBEARER, all there is", {{"EHLO", {"250-x\r\n250 AUTH OAUTHBEARER"}}}, implicitWithToken,
         "TLS EHLO AUTH OAUTHBEARER MAIL RCPT DATA . QUIT ", kDelivered, 0},
        {"a token refused the way Google does", {{"EHLO", {oauth}}, {"AUTH XOAUTH2", {"334 eyJzdGF0dXMiOiI0MDEifQ=="}},
                                                 {"answer", {"535 5.7.8 Username and Password not accepted"}}},
         implicitWithToken, "TLS EHLO AUTH XOAUTH2 answer QUIT ", kAsksAgain, kMailErrorBase + 535},
        {"a token where no mechanism takes one", {{"EHLO", {signIn}}}, implicitWithToken, "TLS EHLO QUIT ", kFails,
         failure(MailFailure::SignInFailed)},
        {"no token without TLS", {{"EHLO", {oauth}}, {"MAIL", {"530 5.7.0 sign in"}}},
         SessionSecurity{"", false, false, &kAnnsToken}, "EHLO MAIL QUIT ", kFails, failure(MailFailure::TlsRequired)},
    };
    for (Case c : cases) {
        int accepted = 0;
        c.security.host = "mail.example.com";
        c.security.signInAccepted = [&] { ++accepted; };
        ScriptedServer server(c.script);
        Ends ends = kDelivered;
        long number = 0;
        try {
            deliverOverSmtp(server, kAnnsEnvelope, FixedMessage(), kTimeout, c.security);
        } catch (const SignInDemanded& demand) {
            ends = demand.passwordRefused() ? kAsksAgain : kAsksForSignIn;
            number = demand.number();
        } catch (const ComponentError& error) {
            ends = kFails;
            number = error.number();
            // The user learns what the server lacks.
            if (number == failure(MailFailure::TlsRequired)) {
                EXPECT_NE(error.description().find(L"no TLS"), std::wstring::npos) << c.what;
            }
        }
        EXPECT_EQ(server.trace, c.trace) << c.what;
        EXPECT_EQ(ends, c.ends) << c.what;
        EXPECT_EQ(number, c.number) << c.what;
        EXPECT_EQ(accepted, c.ends == kDelivered && server.trace.find("AUTH") != std::string::npos) << c.what;
    }
}

TEST(SmtpSize, MailNamesTheSizeAndAMessageLargerThanTheServerTakesNeverStarts) {
    for (const auto& [ehlo, trace, mailFrom] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"250-x\r\n250 SIZE 7", "EHLO MAIL RCPT DATA . QUIT ", "MAIL FROM:<me@example.com> SIZE=7"},
             {"250-x\r\n250 SIZE", "EHLO MAIL RCPT DATA . QUIT ", "MAIL FROM:<me@example.com> SIZE=7"},
             {"250-x\r\n250 SIZE 6", "EHLO QUIT ", ""},
             {"250 x", "EHLO MAIL RCPT DATA . QUIT ", "MAIL FROM:<me@example.com>"}}) {
        ScriptedServer server({{"EHLO", {ehlo}}});
        try {
            deliverOverSmtp(server, kAnnsEnvelope, FixedMessage(), kTimeout);
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), failure(MailFailure::MessageTooLarge));
            EXPECT_NE(error.description().find(L"nothing was sent"), std::wstring::npos);
        }
        EXPECT_EQ(server.trace, trace) << ehlo;
        EXPECT_EQ(server.lines.size() > 2 ? server.lines[1] : "", mailFrom) << ehlo;
    }
}

// The size is counted while TLS starts, in the form the first greeting
// points to: a server that offers otherwise over TLS has it in its own.
TEST(SmtpSize, TheSizeNamedIsTheOneOfTheFormTheServerOffersOverTls) {
    // Seven bytes as 8-bit text, nine as quoted-printable; eight where the
    // server takes fewer (a picture left out, say).
    class FormSizedMessage final : public OutgoingMessage {
    public:
        bool fitsEightBit() const override { return true; }
        std::size_t size(const MessageForm& form) const override {
            if (form.sizeLimit > 0 && form.sizeLimit < 9) return 8;
            return form.encoding == BodyEncoding::EightBit ? 7 : 9;
        }
        void write(const MessageForm&, const BytesSink& sink) const override { sink("Hello\r\n"); }
    };
    const std::string tls = "250-x\r\n250-STARTTLS\r\n";
    for (const auto& [before, over, mailFrom] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {tls + "250 SIZE", "250-x\r\n250 SIZE", "MAIL FROM:<me@example.com> SIZE=9"},
             {tls + "250 SIZE", "250-x\r\n250-8BITMIME\r\n250 SIZE", "MAIL FROM:<me@example.com> BODY=8BITMIME SIZE=7"},
             {tls + "250-8BITMIME\r\n250 SIZE", "250-x\r\n250 SIZE", "MAIL FROM:<me@example.com> SIZE=9"},
             {tls + "250 x", "250-x\r\n250 SIZE", "MAIL FROM:<me@example.com> SIZE=9"},
             {tls + "250 SIZE 100", "250-x\r\n250 SIZE 8", "MAIL FROM:<me@example.com> SIZE=8"},
             {tls + "250 SIZE 100", "250-x\r\n250 SIZE 7", ""}}) {
        ScriptedServer server({{"EHLO", {before, over}}});
        try {
            SessionSecurity security;
            security.host = "mail.example.com";
            deliverOverSmtp(server, kAnnsEnvelope, FormSizedMessage(), kTimeout, security);
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), failure(MailFailure::MessageTooLarge)) << over;
        }
        const auto mail = std::find_if(server.lines.begin(), server.lines.end(),
                                       [](const std::string& line) { return line.rfind("MAIL", 0) == 0; });
        EXPECT_EQ(mail == server.lines.end() ? "" : *mail, mailFrom) << before << " then " << over;
    }
}

TEST(SmtpSignIn, ATokenGoesAsXoauth2OrOauthbearerSayAndARefusalIsAnswered) {
    for (const auto& [mechanism, response, refusalAnswer] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"XOAUTH2", "user=ann@example.com\x01" "auth=Bearer ya29.t0ken\x01\x01", ""},
             {"OAUTHBEARER", "n,a=ann@example.com,\x01" "auth=Bearer ya29.t0ken\x01\x01", "AQ=="}}) {
        ScriptedServer server({{"EHLO", {"250-x\r\n250 AUTH " + mechanism}},
                               {"AUTH " + mechanism, {"334 eyJzdGF0dXMiOiI0MDEifQ=="}},
                               {"answer", {"535 5.7.8 no"}}});
        try {
            deliverOverSmtp(server, Envelope{checkedAddress(L"ann@example.com"), {checkedAddress(L"bob@example.com")}}, FixedMessage(), kTimeout,
                            {"mail.example.com", true, false, &kAnnsToken});
        } catch (const SignInDemanded&) {
        }
        ASSERT_EQ(server.lines.size(), 4u) << server.trace;  // EHLO, AUTH, the answer to the refusal, QUIT
        EXPECT_EQ(server.lines[1], "AUTH " + mechanism + " " + base64(response));
        EXPECT_EQ(server.lines[2], refusalAnswer);
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
        try {
            parseServerAddress(refused, 25);
            ADD_FAILURE() << "accepted a server text";
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), failure(MailFailure::InvalidServer));
            EXPECT_NE(error.description().find(L"smtps://host[:port]"), std::wstring::npos);
        }
    }
}

TEST(SmtpUtf8, AnAddressBeyondAsciiBeforeItsAtGoesWithSmtpUtf8OrNotAtAll) {
    const Envelope international{checkedAddress(L"me@example.com"),
                                 {checkedAddress(L"info@b\u00fccher.example"), checkedAddress(L"j\u00f6rg@example.de")}};
    ScriptedServer without(ScriptedServer::Script{{"EHLO", {"250-x\r\n250 8BITMIME"}}});
    try {
        deliverOverSmtp(without, international, FixedMessage(), kTimeout);
        ADD_FAILURE() << "delivered";
    } catch (const ComponentError& error) {
        EXPECT_EQ(error.number(), failure(MailFailure::NeedsSmtpUtf8));
        EXPECT_NE(error.description().find(L"j\u00f6rg@example.de"), std::wstring::npos);
    }
    EXPECT_EQ(without.trace, "EHLO QUIT ");

    ScriptedServer with(ScriptedServer::Script{{"EHLO", {"250-x\r\n250-8BITMIME\r\n250 SMTPUTF8"}}});
    deliverOverSmtp(with, international, FixedMessage(), kTimeout);
    EXPECT_EQ(std::vector<std::string>(with.lines.begin() + 1, with.lines.begin() + 4),
              (std::vector<std::string>{"MAIL FROM:<me@example.com> SMTPUTF8 BODY=8BITMIME",
                                        "RCPT TO:<info@b\xC3\xBC" "cher.example>", "RCPT TO:<j\xC3\xB6rg@example.de>"}));
    // A domain alone needs no SMTPUTF8: its ASCII form goes everywhere.
    ScriptedServer plain(ScriptedServer::Script{{"EHLO", {"250-x\r\n250 SMTPUTF8"}}});
    deliverOverSmtp(plain, Envelope{checkedAddress(L"me@example.com"), {checkedAddress(L"info@b\u00fccher.example")}},
                    FixedMessage(), kTimeout);
    EXPECT_EQ(plain.lines.at(1), "MAIL FROM:<me@example.com>");
    EXPECT_EQ(plain.lines.at(2), "RCPT TO:<info@xn--bcher-kva.example>");
}

TEST(SmtpProgress, StepsComeInTheirOrderAndNoStopOnceTheMessagesEndIsOut) {
    std::vector<DeliveryStep> steps;
    std::uint64_t counted = 0;
    DeliveryProgress progress([&](const DeliveryProgress& seen) {
        if (steps.empty() || steps.back() != seen.step()) steps.push_back(seen.step());
        counted = seen.total();
    });
    ScriptedServer server(ScriptedServer::Script{{"EHLO", {"250-x\r\n250-STARTTLS\r\n250 AUTH PLAIN"}}});
    deliverOverSmtp(server, kAnnsEnvelope, FixedMessage(), kTimeout,
                    {"mail.example.com", false, false, &kAnn}, &progress);
    EXPECT_EQ(steps, (std::vector<DeliveryStep>{DeliveryStep::Securing, DeliveryStep::SigningIn, DeliveryStep::Sending,
                                                DeliveryStep::AwaitingAcceptance, DeliveryStep::Accepted}));
    EXPECT_EQ(counted, 7u);
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
