// The decisions about TLS and signing in, against scripted servers: when the
// session starts TLS, when it will not go on without it, that a password never
// travels in the clear, which refusals ask for a sign-in; and the forms of the
// server text. The TLS itself is the Windows socket layer's.

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "delivery/smtp/base64.h"
#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/server_address.h"
#include "delivery/smtp/smtp_session.h"

namespace kt {
namespace {

const SignIn kAnn{"ann", "pa55word"};

// Answers each command by its verb (the script's replies in turn, the last
// one kept); traces the verbs it got, "TLS" where TLS started, and fails the
// test when a sign-in goes in the clear.
class ScriptedServer final : public Transport {
public:
    using Script = std::map<std::string, std::vector<std::string>>;

    ScriptedServer(const Script& script, std::string& trace) : trace_(trace) {
        script_ = {{"greeting", {"220 ready"}}, {"EHLO", {"250 ok"}}, {"STARTTLS", {"220 go ahead"}},
                   {"AUTH PLAIN", {"235 ok"}},  {"AUTH LOGIN", {"334 VXNlcg=="}}, {"answer", {"334 UGFzcw==", "235 ok"}},
                   {"DATA", {"354 go"}},        {"QUIT", {"221 bye"}}};
        for (const auto& [verb, replies] : script) script_[verb] = replies;
        pending_ = next("greeting");
    }

    void send(const std::string& bytes) override {
        EXPECT_TRUE(encrypted_ || bytes.find(base64(kAnn.password)) == std::string::npos) << "a password in the clear";
        const std::string line = bytes.substr(0, bytes.find("\r\n"));
        std::string verb = inData_ ? "." : answering_ ? "answer" : line.substr(0, line.find_first_of(" :"));
        if (verb == "AUTH") {
            EXPECT_TRUE(encrypted_) << "AUTH in the clear";
            verb = line.substr(0, line.find(' ', 5));
        }
        trace_ += verb + " ";
        pending_ += next(verb);
        answering_ = pending_.rfind("334", 0) == 0;
        inData_ = verb == "DATA" && pending_.rfind("354", 0) == 0;
    }
    std::string receive(std::chrono::milliseconds) override { return std::exchange(pending_, {}); }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }
    void startTls(const std::string& host, std::chrono::milliseconds) override {
        EXPECT_EQ(host, "mail.example.com");
        trace_ += "TLS ";
        encrypted_ = true;
    }
    bool encrypted() const override { return encrypted_; }

private:
    std::string next(const std::string& verb) {
        auto& replies = script_[verb];
        const std::string reply = replies.empty() ? "250 ok" : replies.front();
        if (replies.size() > 1) replies.erase(replies.begin());
        return reply + "\r\n";
    }

    Script script_;
    std::string& trace_;
    std::string pending_;
    bool encrypted_ = false, inData_ = false, answering_ = false;
};

long failure(MailFailure kind) { return kMailErrorBase + static_cast<long>(kind); }

// A message that is its text, whatever the encoding.
class FixedMessage final : public OutgoingMessage {
public:
    explicit FixedMessage(std::string text) : text_(std::move(text)) {}
    bool fitsEightBit() const override { return false; }
    void write(BodyEncoding, const BytesSink& sink) const override { sink(text_); }

private:
    std::string text_;
};

TEST(SmtpSecurity, WhenToStartTlsSignInOrAskForASignIn) {
    const std::string startTls = "250-mail.example.com\r\n250 STARTTLS";
    const std::string signIn = "250-mail.example.com\r\n250 AUTH PLAIN LOGIN";
    const std::string both = "250-mail.example.com\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN";
    const SessionSecurity plain{}, withAnn{"", false, false, &kAnn}, submission{"", false, true},
        implicit{"", true}, implicitWithAnn{"", true, false, &kAnn};
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
        {"a plain server, as always", {}, plain, "EHLO MAIL RCPT DATA . QUIT ", kDelivered, 0},
        {"STARTTLS whenever offered", {{"EHLO", {startTls}}}, plain, "EHLO STARTTLS TLS EHLO MAIL RCPT DATA . QUIT ",
         kDelivered, 0},
        {"a sign-in after TLS, PLAIN first", {{"EHLO", {startTls, signIn}}}, withAnn,
         "EHLO STARTTLS TLS EHLO AUTH PLAIN MAIL RCPT DATA . QUIT ", kDelivered, 0},
        {"LOGIN when it is all there is", {{"EHLO", {startTls, "250-x\r\n250 AUTH=LOGIN"}}}, withAnn,
         "EHLO STARTTLS TLS EHLO AUTH LOGIN answer answer MAIL RCPT DATA . QUIT ", kDelivered, 0},
        {"TLS from the first byte", {{"EHLO", {signIn}}}, implicitWithAnn, "TLS EHLO AUTH PLAIN MAIL RCPT DATA . QUIT ",
         kDelivered, 0},
        {"no password without TLS", {{"EHLO", {signIn}}}, withAnn, "EHLO QUIT ", kFails,
         failure(MailFailure::TlsRequired)},
        {"no submission without TLS", {}, submission, "EHLO QUIT ", kFails, failure(MailFailure::TlsRequired)},
        {"a sign-in wanted in the clear", {{"EHLO", {signIn}}, {"MAIL", {"530 5.7.0 sign in"}}}, plain,
         "EHLO MAIL QUIT ", kFails, failure(MailFailure::TlsRequired)},
        {"STARTTLS refused", {{"EHLO", {both}}, {"STARTTLS", {"454 4.7.0 not now"}}}, withAnn, "EHLO STARTTLS QUIT ",
         kFails, kMailErrorBase + 454},
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
    };
    for (Case c : cases) {
        std::string trace;
        int accepted = 0;
        c.security.host = "mail.example.com";
        c.security.signInAccepted = [&] { ++accepted; };
        ScriptedServer server(c.script, trace);
        Ends ends = kDelivered;
        long number = 0;
        try {
            deliverOverSmtp(server, {"me@example.com", {"ann@example.com"}}, FixedMessage("Hello\r\n"), std::chrono::seconds(1),
                            c.security);
        } catch (const SignInDemanded& demand) {
            ends = demand.passwordRefused() ? kAsksAgain : kAsksForSignIn;
            number = demand.number();
        } catch (const ComponentError& error) {
            ends = kFails;
            number = error.number();
        }
        EXPECT_EQ(trace, c.trace) << c.what;
        EXPECT_EQ(ends, c.ends) << c.what;
        EXPECT_EQ(number, c.number) << c.what;
        EXPECT_EQ(accepted, c.ends == kDelivered && trace.find("AUTH") != std::string::npos) << c.what;
    }
}

TEST(ServerText, FormsTheirPortsAndTls) {
    struct Case {
        const wchar_t* text;
        const char* host;
        unsigned short port;
        bool implicitTls;
    };
    for (const Case& c : std::vector<Case>{{L"mail.example.com", "mail.example.com", 25, false},
                                           {L"mail.example.com:587", "mail.example.com", 587, false},
                                           {L"mail.example.com:465", "mail.example.com", 465, true},
                                           {L"[::1]:2525", "::1", 2525, false},
                                           {L"smtps://mail.example.com", "mail.example.com", 465, true},
                                           {L"SMTPS://mail.example.com:2465", "mail.example.com", 2465, true},
                                           {L"smtp://mail.example.com:465", "mail.example.com", 465, false}}) {
        const ServerAddress address = parseServerAddress(c.text, 25);
        EXPECT_EQ(address.host, c.host) << c.text;
        EXPECT_EQ(address.port, c.port) << c.text;
        EXPECT_EQ(address.implicitTls, c.implicitTls) << c.text;
    }
    for (const wchar_t* refused : {L"", L"smtps://", L"http://mail.example.com", L"smtp://mail.example.com/",
                                   L"user@mail.example.com", L"smtps://ann:pw@mail.example.com", L"mail.example.com:0",
                                   L"mail example.com", L"[::1]x", L"mail.example.com\r\nRCPT TO:<x@y>"}) {
        try {
            parseServerAddress(refused, 25);
            ADD_FAILURE() << "accepted: " << refused;
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), failure(MailFailure::InvalidServer)) << refused;
            EXPECT_NE(error.description().find(L"smtps://host[:port]"), std::wstring::npos);
        }
    }
}

}  // namespace
}  // namespace kt
