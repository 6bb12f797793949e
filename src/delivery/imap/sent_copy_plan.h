#pragma once
// Whether and where a copy of a sent message goes, from the settings of its
// SMTP server: Mode (auto, always, never), Server (the IMAP host and port)
// and Folder. "auto" places none for the providers that file their own copy
// of what their SMTP servers take; their IMAP hosts are known too.

#include <optional>
#include <string>
#include <vector>

namespace kt {

enum class SentCopyMode { Auto, Always, Never };

// The values kept for one SMTP server; empty where none is kept.
struct SentCopySettings {
    std::wstring mode;
    std::wstring server;
    std::wstring folder;
};

struct ImapServer {
    std::string host;
    unsigned short port = 993;
    bool implicitTls = true;
};

struct SentCopyPlan {
    std::vector<ImapServer> servers;  // tried in turn until one answers
    std::string folder;               // as IMAP writes it; empty: the one flagged \Sent
};

// The provider that files its own copy of what the SMTP host takes, and its IMAP host.
struct FilingProvider {
    const char* name;
    const char* smtpHost;
    const char* imapHost;
};
extern const std::vector<FilingProvider> kFilingProviders;

// Unknown words count as auto; case does not matter.
SentCopyMode sentCopyMode(const std::wstring& text);

// The copy to place after a message went to `smtpHost` (as sign-ins know
// it, lower case), or nothing. With no Server set, an SMTP host that is an
// address or has no domain places none unless Mode is always. Throws for a
// Server setting that is no server, and for always where none is known.
std::optional<SentCopyPlan> sentCopyPlan(const std::string& smtpHost, const SentCopySettings& settings);

}  // namespace kt
