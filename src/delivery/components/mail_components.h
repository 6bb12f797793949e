#pragma once
// The mail components a window sends with, and the one place that chooses
// between them by the server text: the user's own mail program for none (or
// "mapi:"), the SMTP mail component for any other.

#include <windows.h>

#include <memory>
#include <string>

#include "delivery/mEmail.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/sockets/socket_transport.h"

namespace kt {

class PageTextAhead;
struct PagePictures;

enum class MailRoute { Smtp, MailProgram };
MailRoute mailRouteFor(const std::wstring& server);

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
    // The page that goes on after an HTML body, its plain text made ahead, and its pictures.
    std::shared_ptr<const std::wstring> page;
    std::shared_ptr<const PageTextAhead> pageText;
    std::shared_ptr<const PagePictures> pictures;
    // A copy in the Sent folder that cannot be placed is reported.
    bool showError = true;
};

// The real SMTP client, over Winsock with the system's TLS, signing in with
// a provider's OAuth where the server has a profile, and with the system's
// credentials everywhere else.
MailComponentFactory smtpMailComponent(SmtpComponentParts parts = {});

// The hand-off to the user's own mail program: an HTML message carries
// `page` as its attachment, and the program's windows belong to `owner`.
MailComponentFactory mapiMailComponent(HWND owner, std::shared_ptr<const std::wstring> page);

// The component for `server`'s route, with `page` after an HTML body or as
// the mail program's attachment; `smtp.signInOwner` owns the mail program's windows too.
MailComponentFactory mailComponentFor(const std::wstring& server, SmtpComponentParts smtp,
                                      std::shared_ptr<const std::wstring> page);

}  // namespace kt
