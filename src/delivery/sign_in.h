#pragma once
// Signing in to a mail server: the user's name and password for it, where
// they are kept and how the user is asked for them. On Windows the system's
// credential store and sign-in dialog stand behind this interface.

#include <optional>
#include <string>
#include <vector>

#include "foundation/secret_text.h"

namespace kt {

// Moved, never copied: the password has one holder at a time.
struct SignIn {
    std::string user;     // UTF-8
    SecretText password;  // UTF-8; never shown, logged or put into an error
    // A provider's sign-in: `password` is an OAuth access token for `user`,
    // the sender's address, given with XOAUTH2 or OAUTHBEARER.
    bool bearer = false;

    SignIn(std::string name, SecretText secret, bool token = false)
        : user(std::move(name)), password(std::move(secret)), bearer(token) {}
    SignIn(SignIn&&) = default;
    SignIn& operator=(SignIn&&) = default;
};

// The initial response of a bearer token sign-in (SASL XOAUTH2, as the
// providers define it, or OAUTHBEARER, RFC 7628), before base64.
SecretText bearerResponse(bool xoauth2, const SignIn& account);

// Which of the account's servers a sign-in is for: one host may take the
// mail and keep the folders too, with a password for each.
enum class MailService { Smtp, Imap };

// Whom a sign-in is for: a server, and the sender's address (a provider's
// sign-in belongs to the address).
struct SignInScope {
    std::string host;
    std::string sender;
    MailService service = MailService::Smtp;
};

class SignInProvider {
public:
    virtual ~SignInProvider() = default;

    // The sign-in kept for this server, if there is one.
    virtual std::optional<SignIn> stored(const SignInScope& scope) = 0;
    // Asks the user; nothing when the user cancelled. `lastRefused`: the
    // server refused the sign-in it was given last.
    virtual std::optional<SignIn> ask(const SignInScope& scope, bool lastRefused) = 0;
    // What the server said to the sign-in given last, stored or asked for:
    // one the user gave is kept once accepted when the user asked for that;
    // a kept one that is refused is kept no longer.
    virtual void answered(const SignInScope& scope, bool accepted) = 0;
    // What went wrong that cost nothing this time (see MailComponent::notices).
    virtual std::vector<std::wstring> notices() const { return {}; }
};

}  // namespace kt
