#pragma once
// The IMAP dialogue that places a copy of a sent message in the user's Sent
// folder: greeting, CAPABILITY, STARTTLS whenever offered, a sign-in only
// over TLS (AUTHENTICATE PLAIN, XOAUTH2 or OAUTHBEARER, or LOGIN), the folder
// flagged \Sent (RFC 6154) or one of the usual names, APPEND with \Seen and a
// literal (LITERAL+ where offered), LOGOUT. Every wait ends by one deadline.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/imap/imap_response.h"
#include "delivery/sign_in.h"
#include "delivery/sockets/transport.h"
#include "foundation/component_error.h"

namespace kt {

// The server refused the sign-in given (NO to LOGIN or AUTHENTICATE): the
// description is its refusal.
class ImapSignInRefused : public ComponentError {
public:
    explicit ImapSignInRefused(const ComponentError& refusal) : ComponentError(refusal) {}
};

struct SentCopyRequest {
    std::string host;             // the name the server's certificate must carry
    bool implicitTls = true;      // TLS from the first byte (port 993), else STARTTLS (143)
    const SignIn* signIn = nullptr;
    std::string folder;           // as IMAP writes it (imapMailboxName); empty: the one flagged \Sent, else a usual name
    std::string_view message;     // the copy's bytes, CR LF line ends
};

struct PlacedCopy {
    std::string folder;     // where it went
    std::string appendUid;  // "validity uid" where the server has UIDPLUS (RFC 4315), else empty
};

// The folders tried in turn where none is flagged \Sent.
extern const std::vector<std::string> kUsualSentFolders;

// One mailbox of a LIST response.
struct ListedMailbox {
    std::string name;  // as the server writes it (modified UTF-7)
    std::vector<std::string> attributes;
};
// The LIST response's mailbox, if it is one.
std::optional<ListedMailbox> listedMailbox(const ImapResponse& response);
// The folder for the copy among those listed: the one flagged \Sent, else
// the first usual name; nothing when there is neither.
std::optional<std::string> sentFolderAmong(const std::vector<ListedMailbox>& mailboxes);

// A folder name as IMAP writes it (RFC 3501 5.1.3, modified UTF-7).
std::string imapMailboxName(std::wstring_view name);

// Places the copy; throws what went wrong (a refusal names the command and
// the server's words; a sign-in refused is ImapSignInRefused).
PlacedCopy placeSentCopy(Transport& transport, const SentCopyRequest& request,
                         std::chrono::steady_clock::time_point deadline);

}  // namespace kt
