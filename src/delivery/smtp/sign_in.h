#pragma once
// Signing in to an SMTP server: the user's name and password for it, where
// they are kept and how the user is asked for them. On Windows the system's
// credential store and sign-in dialog stand behind this interface.

#include <optional>
#include <string>

namespace kt {

// Overwrites text that held a secret, all the room it had, in a way the compiler keeps.
template <class Char>
void wipe(std::basic_string<Char>& secret) noexcept {
    secret.resize(secret.capacity());  // within the room it has: nothing moves
    volatile Char* characters = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) characters[i] = 0;
    secret.clear();
}

struct SignIn {
    std::string user;      // UTF-8
    std::string password;  // UTF-8; never shown, logged or put into an error
    // A provider's sign-in: `password` is an OAuth access token for `user`,
    // the sender's address, given with XOAUTH2 or OAUTHBEARER.
    bool bearer = false;
    ~SignIn() { wipe(password); }
};

// Whom a sign-in is for: a server, and the sender's address (a provider's
// sign-in belongs to the address).
struct SignInScope {
    std::string host;
    std::string sender;
};

class SignInProvider {
public:
    virtual ~SignInProvider() = default;

    // The sign-in kept for this server, if there is one.
    virtual std::optional<SignIn> stored(const SignInScope& scope) = 0;
    // Asks the user; nothing when the user cancelled. `lastRefused`: the
    // server refused the sign-in it was given last.
    virtual std::optional<SignIn> ask(const SignInScope& scope, bool lastRefused) = 0;
    // What the server said to the sign-in that ask() returned last: once
    // accepted, it is kept when the user asked for that.
    virtual void answered(const SignInScope& scope, bool accepted) = 0;
};

}  // namespace kt
