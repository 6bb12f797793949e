#pragma once
// Signing in the way providers that take no password require: where the
// server's host has an OAuth profile, the authorization code grant with PKCE
// through the user's own browser and a loopback redirect, a refresh token in
// the Credential Manager, the access token in memory; every other host signs
// in with a password as before.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "delivery/oauth/access_tokens.h"
#include "delivery/oauth/oauth_protocol.h"
#include "delivery/sign_in.h"
#include "delivery/sockets/delivery_progress.h"
#include "delivery/sign_in.h"

namespace kt {

// What the user sees while the sign-in goes on in the browser, shown while
// it lives; its stop is the user's cancel.
class SignInWait : public StopSignal {
public:
    virtual ~SignInWait() = default;
    bool canStop() const override { return true; }
};
using SignInWaitFactory = std::function<std::unique_ptr<SignInWait>(const std::wstring& host)>;

struct OAuthTimeouts {
    std::chrono::milliseconds browser{std::chrono::minutes(5)};  // for the user in the browser
    std::chrono::milliseconds tokenEndpoint{std::chrono::seconds(30)};
};

class OAuthSignIn final : public SignInProvider {
public:
    // `tokens` are kept for later sends, by whoever else holds them; the
    // delivery's `progress` shows a request to the token endpoint, whose
    // wait its Stop ends.
    OAuthSignIn(std::shared_ptr<SignInProvider> passwords, std::shared_ptr<AccessTokens> tokens,
                SignInWaitFactory wait, std::shared_ptr<DeliveryProgress> progress, OAuthTimeouts timeouts = {});

    // A token kept in memory, or one from the stored refresh token.
    std::optional<SignIn> stored(const SignInScope& scope) override;
    // After a refused token, a refresh once; then, or with none stored, the browser.
    std::optional<SignIn> ask(const SignInScope& scope, bool lastRefused) override;
    void answered(const SignInScope& scope, bool accepted) override;
    std::vector<std::wstring> notices() const override { return notices_; }

private:
    std::optional<SignIn> refreshed(const SignInScope& scope, const OAuthProfile& profile);
    std::optional<SignIn> fromBrowser(const SignInScope& scope, const OAuthProfile& profile);
    TokenAnswer requestTokens(const std::string& endpoint, const SecretText& form);
    // Keeps what the token endpoint gave and makes a sign-in of it.
    SignIn signInWith(const SignInScope& scope, const TokenAnswer& tokens);

    std::shared_ptr<SignInProvider> passwords_;
    std::shared_ptr<AccessTokens> tokens_;
    SignInWaitFactory wait_;
    std::shared_ptr<DeliveryProgress> progress_;
    OAuthTimeouts timeouts_;
    // One refresh and one browser sign-in for each delivery at most: it never loops.
    bool refreshedOnce_ = false;
    bool browserOnce_ = false;
    std::vector<std::wstring> notices_;
};

}  // namespace kt
