#pragma once
// The sign-in to an SMTP server as the system keeps and asks for it: the
// Credential Manager's generic credential "KT_EMailer:<host>", and the
// system's sign-in dialog with its "remember my password" box, which stores
// the password only once the server accepted it.

#include <windows.h>

#include "delivery/smtp/sign_in.h"

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
    std::wstring lastUser_;  // of the last sign-in given, offered again by the dialog
};

}  // namespace kt
