#pragma once
// DeliverMail: sends one message through a fresh SMTP mail component, in a
// fixed order of operations, and reports a failure when asked to.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/smtp/mail_component.h"

namespace kt {

using MailComponentFactory = std::function<std::unique_ptr<MailComponent>()>;

// The real SMTP client, over Winsock with the system's TLS, signing in with
// a provider's OAuth where the server has a profile (access tokens kept in
// `tokens`, the wait for the browser shown by `wait`), and with the system's
// credentials everywhere else; the sign-in dialog belongs to `signInOwner`
// (the thread's active window when none).
MailComponentFactory smtpMailComponent(HWND signInOwner = nullptr, std::shared_ptr<AccessTokens> tokens = nullptr,
                                       SignInWaitFactory wait = nullptr);

// True when every operation, the send included, succeeded. The sender is
// "name <address>" or an address; the lists are recipient lists
// ("address,name" entries separated by ";").
bool DeliverMail(const std::wstring& body, const std::wstring& subject, const std::wstring& toList,
                 const std::wstring& ccList, const std::wstring& bccList, const std::wstring& server,
                 const std::wstring& sender, bool showError, bool html,
                 const MailComponentFactory& createMailComponent = smtpMailComponent());

}  // namespace kt
