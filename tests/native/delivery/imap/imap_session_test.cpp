// The IMAP dialogue of the Sent copy against scripted servers whose bytes
// arrive in small pieces, none of which may see a secret before TLS.

#include "delivery/imap/imap_session.h"

#include <gtest/gtest.h>

#include <vector>

#include "delivery/imap/imap_response.h"
#include "delivery/imap/sent_copy.h"
#include "delivery/mail_error.h"
#include "delivery/scripted_server.h"
#include "foundation/base64.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

using Clock = std::chrono::steady_clock;
const std::string kCopy = "Subject: hi\r\nBcc: bob@example.com\r\n\r\nHello\r\n";

Clock::time_point soon() { return Clock::now() + std::chrono::seconds(2); }
SentCopyRequest request(const SignIn* account = &kAnn, bool implicitTls = false, std::string folder = "") {
    return {"imap.example.com", implicitTls, account, std::move(folder), kCopy};
}

using Script = ScriptedServerBase::Script;

// The CAPABILITY replies in turn, each listing its names.
Script::value_type offers(std::initializer_list<std::string> lists) {
    std::vector<std::string> replies;
    for (const auto& names : lists) replies.push_back("* CAPABILITY " + names + "\r\n$ OK");
    return {"CAPABILITY", replies};
}

// After `arriving` (the greeting), answers each command by its verb ("$" in a
// reply stands for its tag); gives the go-ahead for a literal that waits for
// it; traces the verbs; fails the test on a secret in the clear.
class ScriptedImap final : public ScriptedServerBase {
public:
    explicit ScriptedImap(const Script& script, std::string arriving = "* OK ready\r\n")
        : ScriptedServerBase("imap.example.com",
                             {offers({"IMAP4rev1 STARTTLS", "IMAP4rev1 AUTH=PLAIN", "IMAP4rev1 SPECIAL-USE"}),
                              {"STARTTLS", {"$ OK go ahead"}}, {"AUTHENTICATE", {"+ "}}, {"answer", {"$ OK signed in"}},
                              {"LOGIN", {"$ OK signed in"}}, {"APPEND", {"$ OK [APPENDUID 1700 42] appended"}},
                              {"LIST", {"* LIST (\\HasNoChildren) \"/\" INBOX\r\n* LIST (\\Sent) \"/\" \"Sent\"\r\n$ OK"}},
                              {"LOGOUT", {"* BYE\r\n$ OK"}}},
                             script, "$ OK", std::move(arriving)) {}

    void send(std::string_view bytes) override {
        wire += bytes;
        for (const char* secret : {"pa55word", "ya29.t0ken"})
            EXPECT_TRUE(encrypted_ || (wire.find(secret) == std::string::npos &&
                                       wire.find(base64(std::string("\0ann\0", 5) + secret)) == std::string::npos))
                << "a secret in the clear";
        inbound_.append(bytes);
        for (;;) {
            if (literalLeft_ > 0) {
                const std::size_t take = std::min(literalLeft_, inbound_.size());
                literals.back().append(inbound_, 0, take);
                inbound_.erase(0, take);
                if ((literalLeft_ -= take) > 0) return;
            }
            const auto end = inbound_.find("\r\n");
            if (end == std::string::npos) return;
            const std::string line = inbound_.substr(0, end);
            inbound_.erase(0, end + 2);
            command_ += line;
            if (line.size() <= 2 || line.back() != '}') {
                complete();
                continue;
            }
            literalLeft_ = std::stoul(line.substr(line.rfind('{') + 1));
            literals.emplace_back();
            if (line[line.size() - 2] == '+') continue;  // LITERAL+: no go-ahead awaited
            if (verbOf(command_) == "APPEND" && script_.count("APPEND go-ahead")) {
                // A refusal instead of the go-ahead ends the command.
                pending_ += withTag(next("APPEND go-ahead"), tagOf(command_));
                trace += "APPEND ";
                command_.clear();
                literalLeft_ = 0;
                return;
            }
            pending_ += "+ go ahead\r\n";
            trace += "wait ";
        }
    }
    std::string wire;  // every byte the client sent
    std::vector<std::string> commands, literals;

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
        if (verb == "AUTHENTICATE") verb += " " + verbOf(command.substr(command.find(' ') + 1));  // its mechanism
        trace += verb + " ";
        commands.push_back(command);
        const std::string tag = exchanging_.empty() ? tagOf(command) : exchanging_;
        if (exchanging_.empty()) {
            EXPECT_EQ(tag, "A" + std::to_string(++tags_)) << "tags A1, A2... in turn";
        }
        const std::string reply = withTag(next(script_.count(verb) ? verb : verb.substr(0, verb.find(' '))), tag);
        pending_ += reply;
        exchanging_ = reply[0] == '+' ? tag : "";
    }

    std::string inbound_, command_, exchanging_;
    std::size_t literalLeft_ = 0, tags_ = 0;
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
        SCOPED_TRACE(c.arriving.substr(0, 20));
        ScriptedImap server({}, c.arriving);
        ImapReader reader(server);
        EXPECT_EQ(failureText([&] { for (int i = 0; i < 3; ++i) reader.read(soon()); }, c.number), c.text);
    }
}

TEST(ImapResponses, LiteralsQuotedStringsAndCodesAreRead) {
    ScriptedImap server({}, "* LIST (\\HasNoChildren \\Sent) \"/\" {12}\r\nSent \"Items\"\r\n"
                            "* LIST () NIL \"a \\\"b\\\\\"\r\nA7 OK [APPENDUID 1700 42] done\r\n");
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
    EXPECT_EQ(std::vector<std::string>({done.tag, done.word(), done.code(), done.humanText()}),
              (std::vector<std::string>{"A7", "OK", "APPENDUID 1700 42", "done"}));
}

TEST(ImapSession, TlsSignInFolderAndAppend) {
    const std::string afterTls = "IMAP4rev1 AUTH=PLAIN", signedIn = "IMAP4rev1 SPECIAL-USE";
    const std::string tokens = "IMAP4rev1 SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER";
    // The traces' common steps: TLS started, PLAIN signed in, the copy appended.
    const std::string tls = "CAPABILITY STARTTLS TLS CAPABILITY ", plain = tls + "AUTHENTICATE PLAIN answer ";
    const std::string appended = "LIST wait APPEND LOGOUT ";
    const long tlsRequired = failure(MailFailure::TlsRequired), violation = failure(MailFailure::ProtocolViolation),
               refused = failure(MailFailure::SignInFailed), tooLarge = failure(MailFailure::MessageTooLarge),
               noFolder = failure(MailFailure::NoSentFolder), invalid = failure(MailFailure::InvalidAddress);
    const Script loginOnly{offers({"STARTTLS", "IMAP4rev1"})};
    const SignIn quoting{"ann\" LOGOUT", "a\\b\"c"}, beyondAscii{"ann", "p\xC3\xA4ss"},
        breaking{"ann", "x\r\nA9 DELETE INBOX"}, nul{std::string("ann\0", 4), "x"};
    struct Case {
        const char* what;
        Script script;
        std::string trace;
        long number;  // 0: placed in `folder`
        SentCopyRequest request = kt::request();
        std::string login = "";  // where given, the LOGIN command and its literal
        std::string folder = "Sent", greeting = "* OK ready";
    };
    const std::vector<Case> cases{
        {"STARTTLS whenever offered, PLAIN, the folder flagged \\Sent", {}, plain + "CAPABILITY " + appended, 0},
        {"TLS from the first byte, SASL-IR and LITERAL+",
         {{"AUTHENTICATE", {"$ OK"}}, offers({"IMAP4rev1 LITERAL+ SPECIAL-USE"})},
         "TLS AUTHENTICATE PLAIN CAPABILITY LIST APPEND LOGOUT ", 0, request(&kAnn, true), "", "Sent",
         "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR LITERAL+] ready"},
        {"LOGIN where PLAIN is not offered, no UIDPLUS",
         {offers({"IMAP4rev1 STARTTLS", "IMAP4rev1", signedIn}), {"APPEND", {"$ OK appended"}}},
         tls + "LOGIN CAPABILITY " + appended, 0},
        // No user text becomes a command: quotes and backslashes are escaped, a
        // password beyond ASCII goes as a literal, a line break or NUL nowhere.
        {"quotes in a sign-in", loginOnly, tls + "LOGIN CAPABILITY " + appended, 0, request(&quoting),
         "A4 LOGIN \"ann\\\" LOGOUT\" \"a\\\\b\\\"c\""},
        {"a password beyond ASCII", loginOnly, tls + "wait LOGIN CAPABILITY " + appended, 0, request(&beyondAscii),
         "A4 LOGIN \"ann\" {5}p\xC3\xA4ss"},
        {"a line break in a password", loginOnly, tls, invalid, request(&breaking)},
        {"a NUL in a name", loginOnly, tls, invalid, request(&nul)},
        {"a line break in a folder", loginOnly, tls + "LOGIN CAPABILITY ", invalid,
         request(&kAnn, false, "Sent\r\nA9 DELETE INBOX")},
        {"no password without TLS", {offers({afterTls})}, "CAPABILITY ", tlsRequired},
        {"no token without TLS", {offers({afterTls})}, "CAPABILITY ", tlsRequired, request(&kAnnsToken)},
        {"plain text after the go-ahead for TLS", {{"STARTTLS", {"$ OK go\r\n* CAPABILITY IMAP4rev1 AUTH=PLAIN"}}},
         "CAPABILITY STARTTLS ", violation},
        {"a refused password", {{"answer", {"$ NO [AUTHENTICATIONFAILED] Authentication failed."}}}, plain, refused},
        {"XOAUTH2 with a token", {offers({"STARTTLS", tokens, signedIn}), {"AUTHENTICATE XOAUTH2", {"$ OK"}}},
         tls + "AUTHENTICATE XOAUTH2 CAPABILITY " + appended, 0, request(&kAnnsToken)},
        {"a token refused the way Google does",
         {offers({"STARTTLS", tokens}), {"AUTHENTICATE XOAUTH2", {"+ eyJzdGF0dXMiOiI0MDEifQ=="}},
          {"answer", {"$ NO invalid token"}}},
         tls + "AUTHENTICATE XOAUTH2 answer ", refused, request(&kAnnsToken)},
        {"OAUTHBEARER where it is all there is", {offers({"STARTTLS", "AUTH=OAUTHBEARER", signedIn})},
         tls + "AUTHENTICATE OAUTHBEARER answer CAPABILITY " + appended, 0, request(&kAnnsToken)},
        {"a token where no mechanism takes one", {}, tls, refused, request(&kAnnsToken)},
        {"no password where LOGIN is disabled", {offers({"STARTTLS", "LOGINDISABLED"})}, tls, refused},
        {"a server that knows the user already", {offers({signedIn})}, appended, 0, request(nullptr), "", "Sent",
         "* PREAUTH [CAPABILITY IMAP4rev1 SPECIAL-USE] welcome"},
        {"a server that will not talk", {}, "", failure(MailFailure::ConnectionClosed), request(), "", "",
         "* BYE too busy"},
        {"the message refused before its bytes go", {{"APPEND go-ahead", {"$ NO [TOOBIG] too big"}}},
         plain + "CAPABILITY LIST APPEND ", tooLarge},
        {"a message over the server's APPENDLIMIT", {offers({"STARTTLS", afterTls, "SPECIAL-USE APPENDLIMIT=20"})},
         plain + "CAPABILITY LIST ", tooLarge},
        {"a folder named in the settings that is not there", {{"APPEND", {"$ NO [TRYCREATE] Mailbox doesn't exist"}}},
         plain + "CAPABILITY wait APPEND ", noFolder, request(&kAnn, false, "Gesendet")},
        {"the special-use option refused: the names alone",
         {{"LIST", {"$ BAD unknown option", "* LIST () \"/\" INBOX\r\n* LIST () \"/\" \"Sent Items\"\r\n$ OK"}}},
         plain + "CAPABILITY LIST " + appended, 0, request(), "", "Sent Items"},
        {"no Sent folder at all", {{"LIST", {"* LIST () \"/\" INBOX\r\n* LIST () \"/\" Drafts\r\n$ OK"}}},
         plain + "CAPABILITY LIST ", noFolder},
        {"an answer to a command not given", {{"STARTTLS", {"Z9 OK"}}}, "CAPABILITY STARTTLS ", violation},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedImap server(c.script, c.greeting + "\r\n");
        try {
            const PlacedCopy placed = placeSentCopy(server, c.request, soon());
            EXPECT_EQ(c.number, 0);
            EXPECT_EQ(placed.folder, c.folder);
            // Flagged \Seen, a literal that awaits the go-ahead unless LITERAL+ was offered.
            const std::string& append = server.commands.at(server.commands.size() - 2);
            EXPECT_EQ(append.substr(append.find(' ')), " APPEND \"" + c.folder + "\" (\\Seen) {" +
                                                            std::to_string(kCopy.size()) +
                                                            (c.trace.find("wait") == std::string::npos ? "+}" : "}"));
            EXPECT_EQ(server.literals.empty() ? "" : server.literals.back(), kCopy);
            EXPECT_EQ(placed.appendUid, c.script.count("APPEND") ? "" : "1700 42");
            EXPECT_EQ(c.login.empty() ? "" : server.commands.at(3) + (server.literals.size() > 1 ? server.literals.front() : ""),
                      c.login);
        } catch (const ComponentError& error) {
            EXPECT_EQ(error.number(), c.number) << toUtf8(error.description());
            EXPECT_EQ(server.wire.find("Hello") != std::string::npos, c.trace.find("wait APPEND") != std::string::npos);
        }
        EXPECT_EQ(server.trace, c.trace);
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

// Keeps ann's password for one host, as the system does: IMAP's apart from
// SMTP's ("imap:<host>"); the user answers or cancels; traces what it was asked.
class RecordedSignIns final : public SignInProvider {
public:
    RecordedSignIns(std::string keptFor, bool userAnswers) : keptFor_(std::move(keptFor)), answers_(userAnswers) {}
    std::optional<SignIn> stored(const SignInScope& scope) override {
        return nameOf(scope) == keptFor_ ? std::optional<SignIn>(SignIn{"ann", "pa55word"}) : std::nullopt;
    }
    std::optional<SignIn> ask(const SignInScope& scope, bool lastRefused) override {
        trace += "ask " + nameOf(scope) + (lastRefused ? " refused; " : "; ");
        return answers_ ? std::optional<SignIn>(SignIn{"ann", "imap-pa55"}) : std::nullopt;
    }
    void answered(const SignInScope& scope, bool accepted) override {
        trace += std::string(accepted ? "kept " : "dropped ") + nameOf(scope) + "; ";
    }
    std::string trace;

private:
    static std::string nameOf(const SignInScope& scope) {
        return (scope.service == MailService::Imap ? "imap:" : "") + scope.host;
    }
    std::string keptFor_;
    bool answers_;
};

TEST(SentCopy, WhichSignInAndWhichWayToTheServer) {
    const SentCopyPlan plan{{{"imap.example.com", 993, true}, {"imap.example.com", 143, false}}, ""};
    const Script refusing{{"answer", {"$ NO [AUTHENTICATIONFAILED] no"}}, {"LOGIN", {"$ NO [AUTHENTICATIONFAILED] no"}}};
    const std::string smtp = "smtp.example.com", imap = "imap:imap.example.com";
    const std::string asked = "ask " + imap + " refused; ", kept = "kept " + imap + "; ";
    struct Case {
        const char* what;
        bool reachableOn993;
        std::vector<Script> servers;  // one for each connection, in turn
        std::string keptFor;          // the host a password is kept for
        bool givenToken, userAnswers;
        std::string trace;
        bool placed;
        const char* smtpHost = "smtp.example.com";
    };
    const std::vector<Case> cases{
        {"the SMTP account's kept password, 143 where 993 cannot be reached", false, {{}}, smtp, false, false, "", true},
        {"one kept for IMAP itself first", true, {{}}, imap, false, false, "", true},
        {"refused: the user asked once, the answer kept", true, {refusing, {}}, smtp, false, true, asked + kept, true},
        {"refused: one kept for IMAP is dropped", true, {refusing, refusing}, imap, false, true,
         "dropped " + imap + "; " + asked, false},
        {"one host for both: the SMTP password IMAP refused stays SMTP's", true, {refusing, {}}, "imap.example.com",
         false, true, asked + kept, true, "imap.example.com"},
        {"refused and the user cancels", true, {refusing}, smtp, false, false, asked, false},
        {"a token refused asks no one", true,
         {{offers({"STARTTLS", "AUTH=XOAUTH2 SASL-IR"}), {"AUTHENTICATE XOAUTH2", {"$ NO bad token"}}}}, "", true, true,
         "", false},
    };
    for (const Case& c : cases) {
        RecordedSignIns signIns(c.keptFor, c.userAnswers);
        std::size_t connections = 0;
        const auto deadline = soon();
        const TransportFactory connect = [&](const std::string& host, unsigned short port,
                                             const ConnectionTimeouts& timeouts,
                                             DeliveryProgress&) -> std::unique_ptr<Transport> {
            EXPECT_EQ(host, "imap.example.com");
            // No write outlasts the copy's time, which the user's time at the dialog moves on.
            const bool userAsked = signIns.trace.find("ask") != std::string::npos;
            EXPECT_TRUE(userAsked ? timeouts.until >= deadline : timeouts.until == deadline);
            if (port == 993 && !c.reachableOn993) throw mailError(MailFailure::ConnectionClosed, L"refused");
            if (connections >= c.servers.size()) throw mailError(MailFailure::ConnectionClosed, L"no more");
            return std::make_unique<ScriptedImap>(c.servers[connections++]);
        };
        SentMessage message{kCopy, {c.smtpHost, "ann@example.com"}, std::nullopt};
        if (c.givenToken) message.signIn.emplace("ann@example.com", "ya29.t0ken", true);
        DeliveryProgress progress;
        std::optional<std::string> failed;
        try {
            placeCopyOfSent(message, plan, &signIns, connect, progress, deadline);
        } catch (const ComponentError& error) {
            failed = toUtf8(error.description());
        }
        EXPECT_EQ(!failed, c.placed) << c.what << ": " << failed.value_or("");
        EXPECT_EQ(signIns.trace, c.trace) << c.what;
    }
}

}  // namespace
}  // namespace kt
