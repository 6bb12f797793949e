#pragma once
// DeliverMail: sends one message through a fresh SMTP mail component, in a
// fixed order of operations, and reports a failure when asked to.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/smtp/mail_component.h"
#include "delivery/sockets/socket_transport.h"

namespace kt {

class PageTextAhead;

using MailComponentFactory = std::function<std::unique_ptr<MailComponent>()>;

// What the real SMTP client is made with besides its defaults.
struct SmtpComponentParts {
    // The sign-in dialog's owner; the thread's active window when none.
    HWND signInOwner = nullptr;
    // Providers' access tokens, kept for later sends.
    std::shared_ptr<AccessTokens> tokens;
    // Shows the wait while the user signs in to a provider in the browser.
    SignInWaitFactory wait;
    // Told how far the delivery has got; may stop it.
    std::shared_ptr<DeliveryProgress> progress = std::make_shared<DeliveryProgress>();
    // The system's sockets, or another way to reach servers.
    TransportFactory connect = connectSocket;
    // The page's plain text made ahead, for a body that ends with the page.
    std::shared_ptr<const PageTextAhead> pageText;
};

// The real SMTP client, over Winsock with the system's TLS, signing in with
// a provider's OAuth where the server has a profile, and with the system's
// credentials everywhere else.
MailComponentFactory smtpMailComponent(SmtpComponentParts parts = {});

// The hand-off to the user's own mail program, for a server text that asks
// for it (usesMailProgram): an HTML message carries `page` as its attachment,
// and the program's windows belong to `owner`.
MailComponentFactory mapiMailComponent(HWND owner, std::wstring page);

// True when every operation, the send included, succeeded. The sender is
// "name <address>" or an address; the lists are recipient lists
// ("address,name" entries separated by ";"). A delivery the user stopped
// (or cancelled in the mail program) is no failure to report.
bool DeliverMail(const std::wstring& body, const std::wstring& subject, const std::wstring& toList,
                 const std::wstring& ccList, const std::wstring& bccList, const std::wstring& server,
                 const std::wstring& sender, bool showError, bool html,
                 const MailComponentFactory& createMailComponent = smtpMailComponent());

}  // namespace kt
