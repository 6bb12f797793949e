#pragma once
// The mail component that hands the message to the user's own mail program
// through Simple MAPI, for a host that gives no SMTP server: the default
// mail program of the user or the machine, called with no session and
// MAPI_LOGON_UI (the user composed the message already) on a thread of its
// own, while the calling thread lets its messages through. A page goes as an
// attachment, the note as the text.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "delivery/mapi/simple_mapi.h"
#include "delivery/mail_component.h"

namespace kt {

// The calls a hand-off makes; wide where the system offers them.
struct MailProgramCalls {
    mapi::SendMailW sendWide = nullptr;
    mapi::SendMailA sendAnsi = nullptr;
};

// Those of the system's mapi32.dll, loaded on first use and kept (mail
// programs keep threads of their own in the process); none without it.
MailProgramCalls systemMailProgramCalls();

// The default mail program's name, where one is set up to take Simple MAPI
// calls: the user's, or else the machine's.
std::optional<std::wstring> defaultMailProgram();

class MapiMailer final : public MailComponent {
public:
    // `page`: what an HTML message carries as its attachment. The mail
    // program's windows belong to `owner`. The system's calls unless others are given.
    MapiMailer(HWND owner, std::shared_ptr<const std::wstring> page,
               std::optional<MailProgramCalls> calls = std::nullopt);

    void Server(const std::wstring& server) override;
    void Port(long) override {}
    void IsHTML(bool html) override { html_ = html; }
    void FromAddress(const std::wstring& address) override;
    void FromName(const std::wstring& name) override { fromName_ = name; }
    void AddTo(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) override;
    void AddCc(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) override;
    void AddBcc(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) override;
    void Subject(const std::wstring& subject) override { subject_ = subject; }
    void Body(std::wstring body) override { note_ = std::move(body); }
    // Returns when the mail program took the message; throws a stop when the
    // user cancelled it there, and the failure it reported otherwise.
    void Send() override;

    struct Party {
        ULONG kind;  // mapi::kOriginator, kTo, kCc, kBcc
        std::wstring address;
        std::wstring name;
    };

private:
    void add(ULONG kind, const std::wstring& address, const std::optional<std::wstring>& name);

    HWND owner_;
    std::shared_ptr<const std::wstring> page_;
    std::optional<MailProgramCalls> calls_;
    bool html_ = false;
    std::optional<std::wstring> fromAddress_;
    std::wstring fromName_;
    std::vector<Party> recipients_;
    std::wstring subject_;
    std::wstring note_;
};

}  // namespace kt
