#pragma once
// The sign-in to a mail server as the system keeps and asks for it: the
// Credential Manager's generic credential "KT_EMailer:<host>" for an SMTP
// server ("KT_EMailer:imap:<host>" for the IMAP server of the Sent copy), and the
// system's sign-in dialog with its "remember my password" box, which stores
// the password only once the server accepted it. A kept password that the
// server refuses is kept no longer.

#include <windows.h>

#include "delivery/sign_in.h"

namespace kt {

class SystemSignIn final : public SignInProvider {
public:
    // The dialog belongs to `owner`, or to the thread's active window.
    explicit SystemSignIn(HWND owner) : owner_(owner) {}

    std::optional<SignIn> stored(const SignInScope& scope) override;
    std::optional<SignIn> ask(const SignInScope& scope, bool lastRefused) override;
    void answered(const SignInScope& scope, bool accepted) override;

private:
    HWND owner_;
    std::wstring lastUser_;     // of the last sign-in given, offered again by the dialog
    bool wasKept_ = false;      // a password was kept for the server
    bool lastWasKept_ = false;  // the last sign-in given was the kept one
};

}  // namespace kt
