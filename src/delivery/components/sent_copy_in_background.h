#pragma once
// The copy of a sent message in the user's Sent folder, placed on a thread of
// its own once the SMTP server accepted the message, so that the window
// closes at once: the settings of the SMTP server under the user's key
// (SentCopy\<smtp host>: Mode, Server, Folder), the system's sockets and
// credentials, done within kSentCopyTime. Nothing waits for it; a failure is
// a timed report where the host asked for reports.

#include <functional>
#include <string>

#include "delivery/sign_in.h"

namespace kt {

inline constexpr const wchar_t* kSentCopyKey = L"Software\\Veltrano\\Ardwyn\\KT_EMailer\\SentCopy";

// Starts the copy of what was sent to scope.host, made by `copy` only where
// the settings want one; returns at once.
void placeSentCopyInBackground(const std::function<std::string()>& copy, const SignInScope& scope,
                               const SignIn* given, bool showError);

}  // namespace kt
