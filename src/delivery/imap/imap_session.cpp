#include "delivery/imap/imap_session.h"

#include <algorithm>
#include <set>

#include "delivery/imap/imap_response.h"
#include "delivery/mail_error.h"
#include "foundation/base64.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

using Clock = std::chrono::steady_clock;

// How long the goodbye may take once the copy is placed.
constexpr std::chrono::seconds kLeaveTime{2};
// What LITERAL- (RFC 7888) lets go without the server's go-ahead.
constexpr std::size_t kLiteralMinusLimit = 4096;
// Responses one command may bring: a server listing folders for ever is broken.
constexpr std::size_t kMostResponses = 100000;

bool has(const std::set<std::string>& capabilities, const char* name) { return capabilities.count(name) > 0; }

std::string upperCase(std::string text) {
    for (auto& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// A piece of a command: its text, then the literal that follows it, if any.
struct Piece {
    SecretText text;
    std::string_view literal;  // the message's bytes, or `ownLiteral`
    SecretText ownLiteral;
    bool hasLiteral = false;
};

// A command as it goes on the wire: user text only as a quoted string or a
// literal, so that no text can end the command or start another.
class Command {
public:
    explicit Command(std::string verb) : name_(verb) { pieces_.push_back({SecretText(verb)}); }

    const std::string& name() const { return name_; }
    const std::vector<Piece>& pieces() const { return pieces_; }

    // Text of our own: atoms, lists, NIL.
    Command& raw(std::string_view text) {
        pieces_.back().text.append(" ").append(text);
        return *this;
    }
    // A string of the user's or the server's: quoted where it is printable
    // ASCII, else a literal; a line break or NUL has no place in any of them.
    Command& string(std::string_view text) {
        if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            throw mailError(MailFailure::InvalidAddress,
                            L"A name, password or folder for IMAP holds a line break or a NUL, which it cannot carry.");
        const bool quotable = std::all_of(text.begin(), text.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u >= 0x20 && u < 0x7f;
        });
        if (!quotable) return literal(SecretText(text));
        SecretText& out = pieces_.back().text;
        out.append(" \"");
        for (const char c : text) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
        return *this;
    }
    Command& literal(SecretText bytes) {
        Piece& last = pieces_.back();
        last.ownLiteral = std::move(bytes);
        last.hasLiteral = true;
        pieces_.push_back({});
        return *this;
    }
    // Bytes the caller keeps until the command is done.
    Command& borrowedLiteral(std::string_view bytes) {
        Piece& last = pieces_.back();
        last.literal = bytes;
        last.hasLiteral = true;
        pieces_.push_back({});
        return *this;
    }

private:
    std::string name_;
    std::vector<Piece> pieces_;
};

struct Answer {
    ImapResponse done;  // the tagged response
    std::vector<ImapResponse> untagged;
    bool ok() const { return done.word() == "OK"; }
};

class Dialogue {
public:
    Dialogue(Transport& transport, const std::string& host, Clock::time_point deadline)
        : transport_(transport), reader_(transport), server_(fromUtf8(host)), deadline_(deadline) {}

    const std::wstring& server() const { return server_; }
    std::set<std::string>& capabilities() { return capabilities_; }
    bool hasUnreadBytes() const { return reader_.hasUnreadBytes(); }

    ImapResponse next() {
        ImapResponse response;
        try {
            response = reader_.read(deadline_);
        } catch (const DeliveryStopped&) {
            throw;
        } catch (const ComponentError& error) {
            throw ComponentError(error.number(), error.source(),
                                 error.description() + L" (waiting for the IMAP server's answer to " +
                                     fromUtf8(awaited_) + L")");
        }
        if (response.kind == ImapResponse::Kind::Untagged && response.word() == "BYE")
            throw mailError(MailFailure::ConnectionClosed,
                            L"The IMAP server " + server_ + L" ended the session: " + serverText(response.humanText()));
        noteCapabilities(response);
        return response;
    }

    // The greeting: OK, or PREAUTH where the server knows the user already.
    bool greeting() {
        const ImapResponse hello = next();
        if (hello.kind != ImapResponse::Kind::Untagged || (hello.word() != "OK" && hello.word() != "PREAUTH"))
            throw mailError(MailFailure::ProtocolViolation,
                            L"The IMAP server " + server_ + L" sent no greeting: " + serverText(hello.text.substr(0, 200)));
        return hello.word() == "PREAUTH";
    }

    // Sends the command, waiting for the go-ahead before each literal where
    // the server must give one, and reads up to its tagged response.
    Answer run(const Command& command) {
        const std::string tag = "A" + std::to_string(++tags_);
        const bool literalPlus = has(capabilities_, "LITERAL+");
        const bool literalMinus = has(capabilities_, "LITERAL-");
        SecretText line(tag + " ");
        for (const Piece& piece : command.pieces()) {
            line += piece.text;
            if (!piece.hasLiteral) break;
            const std::string_view bytes = piece.literal.data() ? piece.literal : piece.ownLiteral.view();
            const bool waits = !literalPlus && !(literalMinus && bytes.size() <= kLiteralMinusLimit);
            line.append(" {").append(std::to_string(bytes.size())).append(waits ? "}\r\n" : "+}\r\n");
            send(line.view(), command.name());
            line.clear();
            if (waits) {
                ImapResponse goAhead = awaitGoAhead(tag);
                if (goAhead.kind == ImapResponse::Kind::Tagged) return {std::move(goAhead), {}};
            }
            send(bytes, command.name());
        }
        line += "\r\n";
        send(line.view(), command.name());
        return finish(tag);
    }

    // A command whose refusal ends the copy.
    Answer require(const Command& command) {
        Answer answer = run(command);
        if (!answer.ok()) refuse(command.name(), answer.done);
        return answer;
    }

    [[noreturn]] void refuse(const std::string& what, const ImapResponse& refusal) {
        throw mailError(MailFailure::CopyRefused, L"The IMAP server " + server_ + L" refused " + fromUtf8(what) + L": " +
                                                      serverText(refusal.text.substr(0, 500)));
    }

    // A sign-in's exchange (RFC 9051 6.2.2): the initial response on the
    // command line where the server takes that (SASL-IR), else after its go-ahead.
    Answer authenticate(const std::string& mechanism, const SecretText& response, const std::string& answerToFailure) {
        const std::string tag = "A" + std::to_string(++tags_);
        SecretText initial;
        appendBase64(initial, response.view());
        const bool saslIr = has(capabilities_, "SASL-IR");
        SecretText line(tag + " AUTHENTICATE " + mechanism);
        if (saslIr) line.append(" ").append(initial.empty() ? SecretText("=") : initial);
        line += "\r\n";
        send(line.view(), "AUTHENTICATE " + mechanism);
        bool answered = saslIr;
        for (;;) {
            ImapResponse reply = awaitGoAhead(tag);
            if (reply.kind == ImapResponse::Kind::Tagged) return {std::move(reply), {}};
            // A go-ahead after the response is the server's error, which the client answers (RFC 7628 3.2.3).
            SecretText next(answered ? SecretText(answerToFailure) : initial);
            next += "\r\n";
            answered = true;
            send(next.view(), "AUTHENTICATE " + mechanism);
        }
    }

    // Takes leave: the copy is placed, the goodbye matters no more.
    void logout() noexcept {
        try {
            deadline_ = std::min(deadline_, Clock::now() + kLeaveTime);
            run(Command("LOGOUT"));
        } catch (const ComponentError&) {
        }
    }

private:
    void send(std::string_view bytes, const std::string& what) {
        awaited_ = what;
        try {
            transport_.send(bytes);
        } catch (const DeliveryStopped&) {
            throw;
        } catch (const ComponentError& error) {
            throw ComponentError(error.number(), error.source(),
                                 error.description() + L" (sending " + fromUtf8(what) + L" to the IMAP server)");
        }
    }

    ImapResponse awaitGoAhead(const std::string& tag) {
        for (std::size_t i = 0; i < kMostResponses; ++i) {
            ImapResponse response = next();
            if (response.kind == ImapResponse::Kind::Continuation) return response;
            if (response.kind == ImapResponse::Kind::Tagged) return checkedTag(std::move(response), tag);
        }
        throw mailError(MailFailure::ProtocolViolation, L"The IMAP server " + server_ + L" sent responses that never end.");
    }

    Answer finish(const std::string& tag) {
        Answer answer;
        for (;;) {
            ImapResponse response = next();
            if (response.kind == ImapResponse::Kind::Tagged) {
                answer.done = checkedTag(std::move(response), tag);
                return answer;
            }
            if (response.kind == ImapResponse::Kind::Continuation)
                throw mailError(MailFailure::ProtocolViolation,
                                L"The IMAP server " + server_ + L" asked for more where the command was whole.");
            if (answer.untagged.size() >= kMostResponses)
                throw mailError(MailFailure::ProtocolViolation,
                                L"The IMAP server " + server_ + L" sent responses that never end.");
            answer.untagged.push_back(std::move(response));
        }
    }

    ImapResponse checkedTag(ImapResponse response, const std::string& tag) {
        if (response.tag != tag)
            throw mailError(MailFailure::ProtocolViolation,
                            L"The IMAP server " + server_ + L" answered a command it was not given: " +
                                serverText(response.tag.substr(0, 50)));
        return response;
    }

    // Capabilities come with CAPABILITY, or as a code of any status.
    void noteCapabilities(const ImapResponse& response) {
        if (response.kind == ImapResponse::Kind::Untagged && response.word() == "CAPABILITY") {
            const auto space = response.text.find(' ');
            capabilities_ = capabilitiesIn(space == std::string::npos ? "" : response.text.substr(space + 1));
        } else if (upperCase(response.code().substr(0, 11)) == "CAPABILITY ") {
            capabilities_ = capabilitiesIn(response.code().substr(11));
        }
    }

    Transport& transport_;
    ImapReader reader_;
    std::wstring server_;
    Clock::time_point deadline_;
    std::string awaited_ = "its greeting";  // what the next response answers
    std::set<std::string> capabilities_;
    unsigned tags_ = 0;
};

void signIn(Dialogue& imap, const SignIn& account) {
    const auto& offers = imap.capabilities();
    Answer answer;
    std::string mechanism;
    if (account.bearer) {
        const bool xoauth2 = has(offers, "AUTH=XOAUTH2");
        if (!xoauth2 && !has(offers, "AUTH=OAUTHBEARER"))
            throw mailError(MailFailure::SignInFailed, L"The IMAP server " + imap.server() +
                                                           L" offers no sign-in with a token (XOAUTH2 or OAUTHBEARER).");
        mechanism = xoauth2 ? "XOAUTH2" : "OAUTHBEARER";
        answer = imap.authenticate(mechanism, bearerResponse(xoauth2, account), xoauth2 ? "" : "AQ==");  // AQ== is 0x01
    } else if (has(offers, "AUTH=PLAIN")) {
        mechanism = "PLAIN";
        SecretText plain(1, '\0');
        plain.append(account.user).append(1, '\0').append(account.password);
        answer = imap.authenticate(mechanism, plain, "*");  // "*" cancels the exchange
    } else if (!has(offers, "LOGINDISABLED")) {
        mechanism = "LOGIN";
        Command login("LOGIN");
        login.string(account.user).string(account.password.view());
        answer = imap.run(login);
    } else {
        throw mailError(MailFailure::SignInFailed,
                        L"The IMAP server " + imap.server() + L" offers no sign-in with a password that the copy knows.");
    }
    if (answer.done.word() == "NO")
        throw ImapSignInRefused(mailError(MailFailure::SignInFailed, L"The IMAP server " + imap.server() +
                                                                          L" refused the sign-in: " +
                                                                          serverText(answer.done.humanText())));
    if (!answer.ok()) imap.refuse(mechanism == "LOGIN" ? "LOGIN" : "AUTHENTICATE " + mechanism, answer.done);
}

std::string folderFor(Dialogue& imap) {
    const bool specialUse = has(imap.capabilities(), "SPECIAL-USE");
    Command list("LIST");
    list.string("").string("*");
    if (specialUse) list.raw("RETURN (SPECIAL-USE)");
    Answer answer = imap.run(list);
    if (!answer.ok() && specialUse) {
        Command plainList("LIST");
        plainList.string("").string("*");
        answer = imap.run(plainList);
    }
    if (!answer.ok()) imap.refuse("LIST", answer.done);
    std::vector<ListedMailbox> mailboxes;
    for (const auto& response : answer.untagged)
        if (auto mailbox = listedMailbox(response)) mailboxes.push_back(std::move(*mailbox));
    if (auto folder = sentFolderAmong(mailboxes)) return *folder;
    throw mailError(MailFailure::NoSentFolder, L"The IMAP server " + imap.server() +
                                                   L" has no Sent folder: none is flagged \\Sent, and none is named "
                                                   L"Sent, Sent Items, Sent Messages or INBOX.Sent.");
}

// A size as people read it, as the SMTP reports write it.
std::wstring megabytes(unsigned long long bytes) {
    const unsigned long long tenths = (bytes + 50000) / 100000;
    return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L" MB";
}

}  // namespace

const std::vector<std::string> kUsualSentFolders{"Sent", "Sent Items", "Sent Messages", "INBOX.Sent"};

std::optional<ListedMailbox> listedMailbox(const ImapResponse& response) {
    if (response.kind != ImapResponse::Kind::Untagged || response.word() != "LIST") return std::nullopt;
    ImapWords words(response);
    words.next();  // LIST
    if (words.next().kind != ImapWord::Kind::Open) return std::nullopt;
    ListedMailbox mailbox;
    for (ImapWord word = words.next(); word.kind != ImapWord::Kind::Close; word = words.next()) {
        if (word.kind != ImapWord::Kind::Atom) return std::nullopt;
        mailbox.attributes.push_back(upperCase(word.text));
    }
    words.next();  // the hierarchy's delimiter, or NIL
    const auto name = words.nextString();
    if (!name) return std::nullopt;
    mailbox.name = *name;
    return mailbox;
}

std::optional<std::string> sentFolderAmong(const std::vector<ListedMailbox>& mailboxes) {
    const auto selectable = [](const ListedMailbox& mailbox) {
        const auto& a = mailbox.attributes;
        return std::find(a.begin(), a.end(), "\\NOSELECT") == a.end() &&
               std::find(a.begin(), a.end(), "\\NONEXISTENT") == a.end();
    };
    for (const auto& mailbox : mailboxes)
        if (selectable(mailbox) &&
            std::find(mailbox.attributes.begin(), mailbox.attributes.end(), "\\SENT") != mailbox.attributes.end())
            return mailbox.name;
    for (const auto& usual : kUsualSentFolders)
        for (const auto& mailbox : mailboxes)
            if (selectable(mailbox) && mailbox.name == usual) return mailbox.name;
    return std::nullopt;
}

std::string imapMailboxName(std::wstring_view name) {
    std::string out;
    std::u16string pending;  // the UTF-16 units of a run beyond printable ASCII
    const auto flush = [&] {
        if (pending.empty()) return;
        std::string bytes;
        for (const char16_t unit : pending) {
            bytes += static_cast<char>(unit >> 8);
            bytes += static_cast<char>(unit & 0xff);
        }
        std::string encoded = base64(bytes);
        while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
        std::replace(encoded.begin(), encoded.end(), '/', ',');
        out += "&" + encoded + "-";
        pending.clear();
    };
    for (std::size_t i = 0; i < name.size();) {
        const char32_t c = nextCodePoint(name, i);
        if (c >= 0x20 && c < 0x7f) {
            flush();
            out += c == '&' ? std::string("&-") : std::string(1, static_cast<char>(c));
        } else if (c < 0x10000) {
            pending += static_cast<char16_t>(c);
        } else {
            pending += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            pending += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3ff));
        }
    }
    flush();
    return out;
}

PlacedCopy placeSentCopy(Transport& transport, const SentCopyRequest& request, Clock::time_point deadline) {
    Dialogue imap(transport, request.host, deadline);
    if (request.implicitTls) transport.startTls(request.host, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                  deadline - Clock::now()));
    const bool preauthenticated = imap.greeting();
    if (imap.capabilities().empty()) imap.require(Command("CAPABILITY"));
    if (!transport.encrypted() && has(imap.capabilities(), "STARTTLS") && !preauthenticated) {
        imap.require(Command("STARTTLS"));
        // Anything after the go-ahead came in the clear, where anyone on the way could have added it.
        if (imap.hasUnreadBytes())
            throw mailError(MailFailure::ProtocolViolation,
                            L"The IMAP server " + imap.server() +
                                L" sent more than its go-ahead for TLS, as an attacker in the middle would; the "
                                L"connection was ended.");
        transport.startTls(request.host,
                           std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        imap.capabilities().clear();  // what was said in the clear counts no more
        imap.require(Command("CAPABILITY"));
    }
    if (!preauthenticated) {
        if (!transport.encrypted())
            throw mailError(MailFailure::TlsRequired, L"The IMAP server " + imap.server() +
                                                          L" offers no TLS (STARTTLS), and a password or a token never "
                                                          L"goes without it.");
        if (!request.signIn)
            throw mailError(MailFailure::SignInRequired, L"The IMAP server " + imap.server() + L" wants a sign-in.");
        signIn(imap, *request.signIn);
        // The capabilities after a sign-in are the server's last word (RFC 9051 6.2).
        imap.capabilities().clear();
        imap.require(Command("CAPABILITY"));
    }

    PlacedCopy placed;
    placed.folder = request.folder.empty() ? folderFor(imap) : request.folder;
    for (const auto& capability : imap.capabilities()) {
        if (capability.compare(0, 12, "APPENDLIMIT=") != 0) continue;
        const unsigned long long limit = std::strtoull(capability.c_str() + 12, nullptr, 10);
        if (limit > 0 && request.message.size() > limit)
            throw mailError(MailFailure::MessageTooLarge, L"The message is " + megabytes(request.message.size()) +
                                                              L", more than the " + megabytes(limit) +
                                                              L" that the IMAP server " + imap.server() + L" takes.");
    }
    Command append("APPEND");
    append.string(placed.folder).raw("(\\Seen)").borrowedLiteral(request.message);
    const Answer appended = imap.run(append);
    if (!appended.ok()) {
        if (upperCase(appended.done.code()).compare(0, 9, "TRYCREATE") == 0)
            throw mailError(MailFailure::NoSentFolder, L"The IMAP server " + imap.server() + L" has no folder " +
                                                           serverText(placed.folder) + L".");
        if (upperCase(appended.done.code()).compare(0, 6, "TOOBIG") == 0)
            throw mailError(MailFailure::MessageTooLarge, L"The message is " + megabytes(request.message.size()) +
                                                              L", more than the IMAP server " + imap.server() +
                                                              L" takes: " + serverText(appended.done.humanText()));
        imap.refuse("APPEND", appended.done);
    }
    const std::string code = appended.done.code();
    if (upperCase(code).compare(0, 10, "APPENDUID ") == 0) placed.appendUid = code.substr(10);
    imap.logout();
    return placed;
}

}  // namespace kt
