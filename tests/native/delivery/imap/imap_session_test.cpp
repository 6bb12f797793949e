// The IMAP dialogue of the Sent copy against scripted servers whose bytes
// arrive in small pieces, none of which may see a secret before TLS.

#include "delivery/imap/imap_session.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "delivery/imap/imap_response.h"
#include "delivery/imap/sent_copy.h"
#include "delivery/mail_error.h"
#include "foundation/base64.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

using Clock = std::chrono::steady_clock;
const SignIn kAnn{"ann", "pa55word"};
const SignIn kAnnsToken{"ann@example.com", "ya29.t0ken", true};

long failure(MailFailure kind) { return kMailErrorBase + static_cast<long>(kind); }
Clock::time_point soon() { return Clock::now() + std::chrono::seconds(2); }

// Answers each command by its verb (the script's replies in turn, the last
// one kept; "$" stands for the command's tag) in pieces that grow from one
// byte; gives the go-ahead for a literal that waits for it; traces the verbs
// and "TLS"; fails the test on a secret in the clear.
class ScriptedImap final : public Transport {
public:
    using Script = std::map<std::string, std::vector<std::string>>;

    explicit ScriptedImap(const Script& script, std::string greeting = "* OK ready") {
        script_ = {{"CAPABILITY", {"* CAPABILITY IMAP4rev1 STARTTLS\r\n$ OK", "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n$ OK",
                                   "* CAPABILITY IMAP4rev1 SPECIAL-USE\r\n$ OK"}},
                   {"STARTTLS", {"$ OK go ahead"}},
                   {"AUTHENTICATE", {"+ "}},
                   {"answer", {"$ OK signed in"}},
                   {"LOGIN", {"$ OK signed in"}},
                   {"LIST", {"* LIST (\\HasNoChildren) \"/\" INBOX\r\n* LIST (\\Sent) \"/\" \"Sent\"\r\n$ OK"}},
                   {"APPEND", {"$ OK [APPENDUID 1700 42] appended"}},
                   {"LOGOUT", {"* BYE\r\n$ OK"}}};
        for (const auto& [verb, replies] : script) script_[verb] = replies;
        pending_ = greeting + "\r\n";
    }

    void send(std::string_view bytes) override {
        for (const char* secret : {"pa55word", "ya29.t0ken"})
            EXPECT_TRUE(encrypted_ || (bytes.find(secret) == std::string::npos &&
                                       inbound_.find(base64(std::string("\0ann\0", 5) + secret)) == std::string::npos))
                << "a secret in the clear";
        inbound_.append(bytes);
        wire += bytes;
        for (;;) {
            if (literalLeft_ > 0) {
                const std::size_t take = std::min(literalLeft_, inbound_.size());
                literals.back().append(inbound_, 0, take);
                inbound_.erase(0, take);
                literalLeft_ -= take;
                if (literalLeft_ > 0) return;
            }
            const auto end = inbound_.find("\r\n");
            if (end == std::string::npos) return;
            const std::string line = inbound_.substr(0, end);
            inbound_.erase(0, end + 2);
            command_ += line;
            if (line.size() > 2 && line.back() == '}') {
                const auto open = line.rfind('{');
                const bool waits = line[line.size() - 2] != '+';
                literalLeft_ = std::stoul(line.substr(open + 1));
                literals.emplace_back();
                if (waits) {
                    const std::string verb = verbOf(command_);
                    if (verb == "APPEND" && !script_["APPEND go-ahead"].empty()) {
                        // A refusal instead of the go-ahead ends the command.
                        pending_ += withTag(next("APPEND go-ahead"), tagOf(command_));
                        if (pending_.find(tagOf(command_) + " ", at_) != std::string::npos) {
                            trace += verb + " ";
                            command_.clear();
                            literalLeft_ = 0;
                            return;
                        }
                    } else {
                        pending_ += "+ go ahead\r\n";
                    }
                    trace += "wait ";
                }
                continue;
            }
            complete();
        }
    }
    std::string receive(std::chrono::milliseconds) override {
        const std::string piece = pending_.substr(at_, 1 + at_ % 4096);
        at_ += piece.size();
        return piece;
    }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }
    void startTls(const std::string& host, std::chrono::milliseconds) override {
        EXPECT_EQ(host, "imap.example.com");
        trace += "TLS ";
        encrypted_ = true;
    }
    bool encrypted() const override { return encrypted_; }

    std::string trace;
    std::string wire;  // every byte the client sent
    std::vector<std::string> commands;
    std::vector<std::string> literals;

private:
    static std::string tagOf(const std::string& command) { return command.substr(0, command.find(' ')); }
    static std::string verbOf(const std::string& command) {
        const auto from = command.find(' ') + 1;
        return command.substr(from, command.find(' ', from) - from);
    }
    static std::string withTag(std::string reply, const std::string& tag) {
        for (auto at = reply.find('$'); at != std::string::npos; at = reply.find('$', at + tag.size()))
            reply.replace(at, 1, tag);
        return reply;
    }

    // A whole command, or a line of an exchange the server asked for.
    void complete() {
        const std::string command = std::exchange(command_, std::string());
        std::string verb = exchanging_.empty() ? verbOf(command) : "answer";
        if (verb == "AUTHENTICATE") {  // with its mechanism
            const auto from = command.find(' ', command.find(' ') + 1) + 1;
            verb += " " + command.substr(from, command.find(' ', from) - from);
        }
        trace += verb + " ";
        commands.push_back(command);
        const std::string tag = exchanging_.empty() ? tagOf(command) : exchanging_;
        const std::string scripted = script_.count(verb) ? next(verb) : next(verb.substr(0, verb.find(' ')));
        const std::string reply = withTag(scripted, tag);
        pending_ += reply;
        exchanging_ = reply.compare(0, 1, "+") == 0 ? tag : "";
    }

    std::string next(const std::string& verb) {
        auto& replies = script_[verb];
        const std::string reply = replies.empty() ? "$ OK" : replies.front();
        if (replies.size() > 1) replies.erase(replies.begin());
        return reply + "\r\n";
    }

    Script script_;
    std::string pending_, inbound_, command_, exchanging_;
    std::size_t at_ = 0, literalLeft_ = 0;
    bool encrypted_ = false;
};

const std::string kCopy = "Subject: hi\r\nBcc: bob@example.com\r\n\r\nHello\r\n";

SentCopyRequest request(const SignIn* account = &kAnn, bool implicitTls = false, std::string folder = "") {
    return {"imap.example.com", implicitTls, account, std::move(folder), kCopy};
}

// Hands out fixed bytes in pieces of 1, 2, 3... bytes, then closes.
class Arriving final : public Transport {
public:
    explicit Arriving(std::string bytes) : bytes_(std::move(bytes)) {}
    void send(std::string_view) override {}
    std::string receive(std::chrono::milliseconds) override {
        const std::string piece = bytes_.substr(at_, ++size_);
        at_ += piece.size();
        return piece;
    }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }
    void startTls(const std::string&, std::chrono::milliseconds) override {}
    bool encrypted() const override { return false; }

private:
    std::string bytes_;
    std::size_t at_ = 0, size_ = 0;
};

TEST(ImapResponses, BrokenResponsesEndWithTheErrorThatSaysWhy) {
    const long violation = failure(MailFailure::ProtocolViolation), closed = failure(MailFailure::ConnectionClosed);
    std::string manyLiterals = "* LIST () \"/\" ";
    for (int i = 0; i < 20; ++i) manyLiterals += "{60000}\r\n" + std::string(60000, 'x');
    const struct {
        std::string arriving;
        long number;
        const wchar_t* text;
    } cases[] = {
        {"* OK " + std::string(70000, 'x'), violation, L"The IMAP server sent a line that never ends."},
        {std::string("* OK a\0b\r\n", 10), violation, L"The IMAP server sent a NUL in a response."},
        {"* LIST () \"/\" {999999}\r\n", violation, L"The IMAP server sent a literal too long for what was asked."},
        {manyLiterals, violation, L"The IMAP server sent a response that never ends."},
        {"(x) OK\r\n", violation, L"The IMAP server sent a malformed response: (x) OK"},
        {"A1\r\n", violation, L"The IMAP server sent a malformed response: A1"},
        {"* OK partial", closed, L"The IMAP server closed the connection."},
        {"* LIST () \"/\" {10}\r\nabc", closed, L"The IMAP server closed the connection."},
    };
    for (const auto& c : cases) {
        Arriving server(c.arriving);
        try {
            ImapReader reader(server);
            for (int i = 0; i < 3; ++i) reader.read(soon());
            ADD_FAILURE() << "read responses from " << c.arriving.substr(0, 20);
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), c.number) << c.arriving.substr(0, 20);
            EXPECT_EQ(error.description(), c.text);
        }
    }
}

TEST(ImapResponses, LiteralsQuotedStringsAndCodesAreRead) {
    Arriving server("* LIST (\\HasNoChildren \\Sent) \"/\" {12}\r\nSent \"Items\"\r\n"
                    "* LIST () NIL \"a \\\"b\\\\\"\r\n"
                    "A7 OK [APPENDUID 1700 42] done\r\n");
    ImapReader reader(server);
    const ImapResponse first = reader.read(soon());
    ASSERT_EQ(first.literals.size(), 1u);
    const auto sent = listedMailbox(first);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->name, "Sent \"Items\"");
    EXPECT_EQ(sent->attributes, (std::vector<std::string>{"\\HASNOCHILDREN", "\\SENT"}));
    EXPECT_EQ(listedMailbox(reader.read(soon()))->name, "a \"b\\");
    const ImapResponse done = reader.read(soon());
    EXPECT_EQ(done.kind, ImapResponse::Kind::Tagged);
    EXPECT_EQ(done.tag, "A7");
    EXPECT_EQ(done.word(), "OK");
    EXPECT_EQ(done.code(), "APPENDUID 1700 42");
    EXPECT_EQ(done.humanText(), "done");
}

TEST(ImapSession, TlsSignInFolderAndAppend) {
    const std::string afterTls = "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n$ OK";
    const std::string signedIn = "* CAPABILITY IMAP4rev1 SPECIAL-USE\r\n$ OK";
    const std::string tokens = "* CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER\r\n$ OK";
    const std::string implicitGreeting = "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR LITERAL+] ready";
    // The traces' common steps: TLS started, PLAIN signed in, the copy appended.
    const std::string tls = "CAPABILITY STARTTLS TLS CAPABILITY ", plain = tls + "AUTHENTICATE PLAIN answer ";
    const std::string appended = "LIST wait APPEND LOGOUT ";
    struct Case {
        const char* what;
        ScriptedImap::Script script;
        SentCopyRequest request;
        std::string trace;
        long number;  // 0: placed in "folder"
        std::string folder = "Sent";
        std::string greeting = "* OK ready";
    };
    const std::vector<Case> cases{
        {"STARTTLS whenever offered, PLAIN, the folder flagged \\Sent", {}, request(), plain + "CAPABILITY " + appended,
         0},
        {"TLS from the first byte, SASL-IR and LITERAL+",
         {{"AUTHENTICATE", {"$ OK"}}, {"CAPABILITY", {"* CAPABILITY IMAP4rev1 LITERAL+ SPECIAL-USE\r\n$ OK"}}},
         request(&kAnn, true), "TLS AUTHENTICATE PLAIN CAPABILITY LIST APPEND LOGOUT ", 0, "Sent", implicitGreeting},
        {"LOGIN where PLAIN is not offered, no UIDPLUS",
         {{"CAPABILITY", {"* CAPABILITY IMAP4rev1 STARTTLS\r\n$ OK", "* CAPABILITY IMAP4rev1\r\n$ OK", signedIn}},
          {"APPEND", {"$ OK appended"}}},
         request(), tls + "LOGIN CAPABILITY " + appended, 0},
        {"no password without TLS", {{"CAPABILITY", {afterTls}}}, request(), "CAPABILITY ",
         failure(MailFailure::TlsRequired)},
        {"no token without TLS", {{"CAPABILITY", {afterTls}}}, request(&kAnnsToken), "CAPABILITY ",
         failure(MailFailure::TlsRequired)},
        {"plain text after the go-ahead for TLS", {{"STARTTLS", {"$ OK go\r\n* CAPABILITY IMAP4rev1 AUTH=PLAIN"}}},
         request(), "CAPABILITY STARTTLS ", failure(MailFailure::ProtocolViolation)},
        {"a refused password", {{"answer", {"$ NO [AUTHENTICATIONFAILED] Authentication failed."}}}, request(), plain,
         failure(MailFailure::SignInFailed)},
        {"XOAUTH2 with a token",
         {{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", tokens, signedIn}}, {"AUTHENTICATE XOAUTH2", {"$ OK"}}},
         request(&kAnnsToken), tls + "AUTHENTICATE XOAUTH2 CAPABILITY " + appended, 0},
        {"a token refused the way Google does",
         {{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", tokens}},
          {"AUTHENTICATE XOAUTH2", {"+ eyJzdGF0dXMiOiI0MDEifQ=="}}, {"answer", {"$ NO invalid token"}}},
         request(&kAnnsToken), tls + "AUTHENTICATE XOAUTH2 answer ", failure(MailFailure::SignInFailed)},
        {"OAUTHBEARER where it is all there is",
         {{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", "* CAPABILITY AUTH=OAUTHBEARER\r\n$ OK", signedIn}}},
         request(&kAnnsToken), tls + "AUTHENTICATE OAUTHBEARER answer CAPABILITY " + appended, 0},
        {"a token where no mechanism takes one", {}, request(&kAnnsToken), tls, failure(MailFailure::SignInFailed)},
        {"no password where LOGIN is disabled",
         {{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", "* CAPABILITY LOGINDISABLED\r\n$ OK"}}}, request(), tls,
         failure(MailFailure::SignInFailed)},
        {"a server that knows the user already", {{"CAPABILITY", {signedIn}}}, request(nullptr), appended, 0, "Sent",
         "* PREAUTH [CAPABILITY IMAP4rev1 SPECIAL-USE] welcome"},
        {"a server that will not talk", {}, request(), "", failure(MailFailure::ConnectionClosed), "",
         "* BYE too busy"},
        {"the message refused before its bytes go", {{"APPEND go-ahead", {"$ NO [TOOBIG] too big"}}}, request(),
         plain + "CAPABILITY LIST APPEND ", failure(MailFailure::MessageTooLarge)},
        {"a message over the server's APPENDLIMIT",
         {{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", afterTls, "* CAPABILITY SPECIAL-USE APPENDLIMIT=20\r\n$ OK"}}},
         request(), plain + "CAPABILITY LIST ", failure(MailFailure::MessageTooLarge)},
        {"a folder named in the settings that is not there", {{"APPEND", {"$ NO [TRYCREATE] Mailbox doesn't exist"}}},
         request(&kAnn, false, "Gesendet"), plain + "CAPABILITY wait APPEND ", failure(MailFailure::NoSentFolder)},
        {"the special-use option refused: the names alone",
         {{"LIST", {"$ BAD unknown option", "* LIST () \"/\" INBOX\r\n* LIST () \"/\" \"Sent Items\"\r\n$ OK"}}}, request(),
         plain + "CAPABILITY LIST " + appended, 0, "Sent Items"},
        {"no Sent folder at all", {{"LIST", {"* LIST () \"/\" INBOX\r\n* LIST () \"/\" Drafts\r\n$ OK"}}}, request(),
         plain + "CAPABILITY LIST ", failure(MailFailure::NoSentFolder)},
        {"an answer to a command not given", {{"STARTTLS", {"Z9 OK"}}}, request(), "CAPABILITY STARTTLS ",
         failure(MailFailure::ProtocolViolation)},
    };
    for (const Case& c : cases) {
        ScriptedImap server(c.script, c.greeting);
        try {
            const PlacedCopy placed = placeSentCopy(server, c.request, soon());
            EXPECT_EQ(c.number, 0) << c.what;
            EXPECT_EQ(placed.folder, c.folder) << c.what;
            ASSERT_FALSE(server.literals.empty()) << c.what;
            EXPECT_EQ(server.literals.back(), kCopy) << c.what;
            EXPECT_EQ(placed.appendUid, server.wire.find("LOGIN") == std::string::npos ? "1700 42" : "") << c.what;
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), c.number) << c.what << ": " << toUtf8(error.description());
            EXPECT_EQ(server.wire.find("Hello") != std::string::npos, c.trace.find("wait APPEND") != std::string::npos)
                << c.what;
        }
        EXPECT_EQ(server.trace, c.trace) << c.what;
    }
}

TEST(ImapSession, TheAppendCarriesSeenAndTheMessageAsALiteral) {
    ScriptedImap server({});
    placeSentCopy(server, request(), soon());
    const std::string append = server.commands[server.commands.size() - 2];
    EXPECT_EQ(append, "A7 APPEND \"Sent\" (\\Seen) {" + std::to_string(kCopy.size()) + "}");
}

TEST(ImapSession, NoUserTextBecomesACommand) {
    const auto loginOf = [](const SignIn& account) {
        ScriptedImap server({{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", "* CAPABILITY IMAP4rev1\r\n$ OK"}}});
        placeSentCopy(server, request(&account), soon());
        return std::make_pair(server.commands.at(3), server.literals.size() > 1 ? server.literals.front() : "");
    };
    // Quotes and backslashes are escaped; a name beyond ASCII goes as a literal.
    EXPECT_EQ(loginOf(SignIn{"ann\" LOGOUT", "a\\b\"c"}).first, "A4 LOGIN \"ann\\\" LOGOUT\" \"a\\\\b\\\"c\"");
    const auto [login, literal] = loginOf(SignIn{"ann", "p\xC3\xA4ss"});
    EXPECT_EQ(login, "A4 LOGIN \"ann\" {5}");
    EXPECT_EQ(literal, "p\xC3\xA4ss");

    // A line break or NUL in a name, a password or a folder goes nowhere.
    const SignIn breaking{"ann", "x\r\nA9 DELETE INBOX"}, nul{std::string("ann\0", 4), "x"};
    for (const auto& [account, folder] : {std::pair<const SignIn*, std::string>{&breaking, ""}, {&nul, ""},
                                          {&kAnn, "Sent\r\nA9 DELETE INBOX"}}) {
        ScriptedImap server({{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", "* CAPABILITY IMAP4rev1\r\n$ OK"}}});
        try {
            placeSentCopy(server, request(account, false, folder), soon());
            ADD_FAILURE() << "placed the copy";
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), failure(MailFailure::InvalidAddress));
        }
        EXPECT_EQ(server.wire.find("DELETE"), std::string::npos);
    }
}

TEST(ImapSession, TheFolderForTheCopy) {
    using Listed = std::vector<ListedMailbox>;
    EXPECT_EQ(sentFolderAmong(Listed{{"Sent", {}}, {"Gesendet", {"\\SENT"}}}), "Gesendet");
    EXPECT_EQ(sentFolderAmong(Listed{{"[Gmail]", {"\\NOSELECT", "\\SENT"}}, {"Sent Items", {}}}), "Sent Items");
    EXPECT_EQ(sentFolderAmong(Listed{{"INBOX.Sent", {}}, {"Sent Messages", {}}}), "Sent Messages");
    EXPECT_EQ(sentFolderAmong(Listed{{"INBOX", {}}, {"Sent", {"\\NONEXISTENT"}}}), std::nullopt);
    // RFC 3501 5.1.3's own example, and the ampersand that stands for itself.
    EXPECT_EQ(imapMailboxName(L"~peter/mail/\u53F0\u5317/\u65E5\u672C\u8A9E"), "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
    EXPECT_EQ(imapMailboxName(L"Envoy\u00E9s & co"), "Envoy&AOk-s &- co");
}

// Keeps sign-ins by host; the user's answers come from a list; traces what it was asked.
// Kept and asked for as the system does: IMAP's apart from SMTP's ("imap:<host>").
class RecordedSignIns final : public SignInProvider {
public:
    static std::string nameOf(const SignInScope& scope) {
        return (scope.service == MailService::Imap ? "imap:" : "") + scope.host;
    }
    std::optional<SignIn> stored(const SignInScope& scope) override {
        const auto kept = keptFor.find(nameOf(scope));
        if (kept == keptFor.end()) return std::nullopt;
        return SignIn{kept->second.user, kept->second.password, kept->second.bearer};
    }
    std::optional<SignIn> ask(const SignInScope& scope, bool lastRefused) override {
        trace += "ask " + nameOf(scope) + (lastRefused ? " refused; " : "; ");
        if (!answer) return std::nullopt;
        return SignIn{answer->user, answer->password};
    }
    void answered(const SignInScope& scope, bool accepted) override {
        trace += std::string(accepted ? "kept " : "dropped ") + nameOf(scope) + "; ";
    }

    std::map<std::string, SignIn> keptFor;
    std::optional<SignIn> answer;
    std::string trace;
};

TEST(SentCopy, WhichSignInAndWhichWayToTheServer) {
    const SentCopyPlan plan{{{"imap.example.com", 993, true}, {"imap.example.com", 143, false}}, ""};
    const ScriptedImap::Script refusing{{"answer", {"$ NO [AUTHENTICATIONFAILED] no"}},
                                        {"LOGIN", {"$ NO [AUTHENTICATIONFAILED] no"}}};
    struct Case {
        const char* what;
        bool reachableOn993;
        std::vector<ScriptedImap::Script> servers;  // one for each connection, in turn
        const char* keptFor;                        // the host a password is kept for
        bool givenToken, userAnswers;
        const char* trace;
        bool placed;
        const char* smtpHost = "smtp.example.com";
    };
    const std::vector<Case> cases{
        {"the SMTP account's kept password, 143 where 993 cannot be reached", false, {{}}, "smtp.example.com", false,
         false, "", true},
        {"one kept for IMAP itself first", true, {{}}, "imap:imap.example.com", false, false, "", true},
        {"refused: the user asked once, the answer kept", true, {refusing, {}}, "smtp.example.com", false, true,
         "ask imap:imap.example.com refused; kept imap:imap.example.com; ", true},
        {"refused: one kept for IMAP is dropped", true, {refusing, refusing}, "imap:imap.example.com", false, true,
         "dropped imap:imap.example.com; ask imap:imap.example.com refused; ", false},
        {"one host for both: the SMTP password IMAP refused stays SMTP's", true, {refusing, {}}, "imap.example.com",
         false, true, "ask imap:imap.example.com refused; kept imap:imap.example.com; ", true, "imap.example.com"},
        {"refused and the user cancels", true, {refusing}, "smtp.example.com", false, false,
         "ask imap:imap.example.com refused; ", false},
        {"a token refused asks no one", true,
         {{{"CAPABILITY", {"* CAPABILITY STARTTLS\r\n$ OK", "* CAPABILITY AUTH=XOAUTH2 SASL-IR\r\n$ OK"}},
           {"AUTHENTICATE XOAUTH2", {"$ NO bad token"}}}},
         "", true, true, "", false},
    };
    for (const Case& c : cases) {
        RecordedSignIns signIns;
        if (*c.keptFor) signIns.keptFor.emplace(c.keptFor, SignIn{"ann", "pa55word"});
        if (c.userAnswers) signIns.answer.emplace("ann", "imap-pa55");
        std::size_t connections = 0;
        const auto deadline = soon();
        const TransportFactory connect = [&](const std::string& host, unsigned short port,
                                             const ConnectionTimeouts& timeouts,
                                             DeliveryProgress&) -> std::unique_ptr<Transport> {
            EXPECT_EQ(host, "imap.example.com");
            // No write outlasts the copy's time, which the user's time at the dialog moves on.
            if (signIns.trace.find("ask") == std::string::npos) {
                EXPECT_EQ(timeouts.until, deadline);
            }
            EXPECT_GE(timeouts.until, deadline);
            if (port == 993 && !c.reachableOn993) throw mailError(MailFailure::ConnectionClosed, L"refused");
            if (connections >= c.servers.size()) throw mailError(MailFailure::ConnectionClosed, L"no more");
            return std::make_unique<ScriptedImap>(c.servers[connections++]);
        };
        SentMessage message{kCopy, {c.smtpHost, "ann@example.com"}, std::nullopt};
        if (c.givenToken) message.signIn.emplace("ann@example.com", "ya29.t0ken", true);
        DeliveryProgress progress;
        bool placed = false;
        try {
            placeCopyOfSent(message, plan, &signIns, connect, progress, deadline);
            placed = true;
        } catch (const ComponentError& error) {
            EXPECT_FALSE(c.placed) << c.what << ": " << toUtf8(error.description());
        }
        EXPECT_EQ(placed, c.placed) << c.what;
        EXPECT_EQ(signIns.trace, c.trace) << c.what;
    }
}

}  // namespace
}  // namespace kt
