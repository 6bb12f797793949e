#include "delivery/oauth/oauth_sign_in.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include "delivery/oauth/oauth_profiles.h"
#include "delivery/oauth/token_endpoint.h"
#include "delivery/oauth/token_store.h"
#include "delivery/mail_error.h"
#include "foundation/utf8.h"
#include "delivery/sockets/delivery_progress.h"
#include "delivery/sockets/loopback_listener.h"
#include "foundation/api_error.h"
#include "foundation/message_pump.h"
#include "foundation/scope_exit.h"

namespace kt {
namespace {

// 256 random bits, URL-safe: a PKCE verifier (43 characters) or a state.
SecretText randomText() {
    unsigned char bytes[32];
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status != 0) throw apiError(static_cast<unsigned long>(status), L"The system gave no random numbers");
    return base64Url(bytes, sizeof bytes);
}

void openInBrowser(const std::string& url) {
    const std::wstring target = fromUtf8(url);
    SHELLEXECUTEINFOW open{sizeof open};
    open.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    open.lpVerb = L"open";
    open.lpFile = target.c_str();
    open.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&open))
        throw mailError(MailFailure::SignInFailed,
                        L"The browser could not be opened for the sign-in: " +
                            apiError(GetLastError()).description() + L" Nothing was sent.");
}

// "5 minutes", "15 seconds".
std::wstring inWords(std::chrono::milliseconds time) {
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(time).count();
    return seconds >= 120 && seconds % 60 == 0 ? std::to_wstring(seconds / 60) + L" minutes"
                                               : std::to_wstring(seconds) + L" seconds";
}

// The provider refused, with its error and what it says of it.
ComponentError refusal(const wchar_t* who, const std::string& error, const std::string& description) {
    return mailError(MailFailure::SignInFailed,
                     std::wstring(who) + L" refused the sign-in: " +
                         fromUtf8(error + (description.empty() ? "" : " (" + description + ")")) + L". Nothing was sent.");
}
ComponentError refusal(const TokenAnswer& answer) {
    return refusal(L"The provider's token endpoint", answer.error, answer.errorDescription);
}

// The server's profile, where its endpoints are safe to reach; a profile
// that would send a token in the clear, or open anything but a web page,
// is refused in words.
std::optional<OAuthProfile> profileFor(const std::string& host) {
    auto profile = oauthProfileFor(host);
    if (profile && (!isSafeEndpoint(profile->authorizationEndpoint) || !isSafeEndpoint(profile->tokenEndpoint)))
        throw mailError(MailFailure::SignInFailed,
                        L"The sign-in profile of " + fromUtf8(host) +
                            L" names an endpoint that is not HTTPS; nothing was sent.");
    return profile;
}

std::string page(const char* text) {
    return std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Ardwyn E-Mailer</title></head>"
                       "<body><p>") +
           text + "</p></body></html>";
}

}  // namespace

OAuthSignIn::OAuthSignIn(std::shared_ptr<SignInProvider> passwords, std::shared_ptr<AccessTokens> tokens,
                         SignInWaitFactory wait, std::shared_ptr<DeliveryProgress> progress, OAuthTimeouts timeouts)
    : passwords_(std::move(passwords)),
      tokens_(tokens ? std::move(tokens) : std::make_shared<AccessTokens>()),
      wait_(std::move(wait)),
      progress_(std::move(progress)),
      timeouts_(timeouts) {}

std::optional<SignIn> OAuthSignIn::stored(const SignInScope& scope) {
    const auto profile = profileFor(scope.host);
    if (!profile) return passwords_ ? passwords_->stored(scope) : std::nullopt;
    if (auto token = tokens_->find(scope)) return SignIn{scope.sender, std::move(*token), true};
    return refreshed(scope, *profile);
}

std::optional<SignIn> OAuthSignIn::ask(const SignInScope& scope, bool lastRefused) {
    const auto profile = profileFor(scope.host);
    if (!profile) return passwords_ ? passwords_->ask(scope, lastRefused) : std::nullopt;
    if (lastRefused) {
        tokens_->forget(scope);
        if (browserOnce_)
            throw mailError(MailFailure::SignInFailed, L"The SMTP server " + fromUtf8(scope.host) +
                                                           L" refused the sign-in its provider gave just now; "
                                                           L"nothing was sent.");
        if (!refreshedOnce_)
            if (auto signIn = refreshed(scope, *profile)) return signIn;
    }
    return fromBrowser(scope, *profile);
}

void OAuthSignIn::answered(const SignInScope& scope, bool accepted) {
    // A provider's tokens are kept as soon as they come: rotation replaces them.
    if (passwords_ && !oauthProfileFor(scope.host)) passwords_->answered(scope, accepted);
}

std::optional<SignIn> OAuthSignIn::refreshed(const SignInScope& scope, const OAuthProfile& profile) {
    const auto refreshToken = storedRefreshToken(scope);
    if (!refreshToken || refreshedOnce_) return std::nullopt;
    refreshedOnce_ = true;
    const auto refresh = [&](const OAuthProfile& asking) {
        return requestTokens(asking.tokenEndpoint, refreshGrantBody(asking, *refreshToken));
    };
    TokenAnswer answer = refresh(profile);
    if (answer.error == "invalid_scope" && !profile.scope.empty()) {
        // Some servers keep a resource's scopes apart from the grant's and
        // refuse them named again; a refresh that names none asks for what
        // was granted (RFC 6749 section 6).
        OAuthProfile asGranted = profile;
        asGranted.scope.clear();
        answer = refresh(asGranted);
        if (!answer.error.empty()) answer.error = "invalid_grant";
    }
    if (answer.error == "invalid_grant") {
        // Revoked, expired or used already (refresh tokens rotate): the browser again.
        forgetRefreshToken(scope);
        return std::nullopt;
    }
    if (!answer.error.empty()) throw refusal(answer);  // the provider's trouble: the token stays good
    return signInWith(scope, answer);
}

std::optional<SignIn> OAuthSignIn::fromBrowser(const SignInScope& scope, const OAuthProfile& profile) {
    browserOnce_ = true;
    LoopbackListener listener;
    const std::string redirectUri = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
    const SecretText verifier = randomText();
    const std::string state(randomText().view());
    const auto wait = wait_ ? wait_(fromUtf8(scope.host)) : nullptr;
    openInBrowser(authorizationUrl(profile, redirectUri, state, pkceChallenge(verifier), scope.sender));

    const auto deadline = std::chrono::steady_clock::now() + timeouts_.browser;
    const StopSignal& stop = wait ? static_cast<const StopSignal&>(*wait) : untilQuit();
    for (;;) {
        const auto request = listener.nextRequest(deadline, stop);
        if (!request) {
            if (stop.stopRequested()) return std::nullopt;
            if (std::chrono::steady_clock::now() < deadline) throw DeliveryStopped();  // the thread's quit
            throw mailError(MailFailure::SignInFailed,
                            L"The sign-in in the browser did not come back within " + inWords(timeouts_.browser) +
                                L"; nothing was sent.");
        }
        const auto answer = parseRedirectRequest(*request);
        if (!answer) {
            listener.answer(page("Nothing here."));  // the browser's own requests, such as its icon
            continue;
        }
        if (answer->state != state) {
            listener.answer(page("This answer is not one the e-mailer asked for, and it was refused. "
                                 "You may close this tab."));
            throw mailError(MailFailure::SignInFailed,
                            L"The browser brought back an answer to a sign-in that the e-mailer did not ask for "
                            L"(its state does not match); it was refused, and nothing was sent.");
        }
        if (answer->error == "access_denied") {
            listener.answer(page("The sign-in was cancelled, and nothing is sent. You may close this tab."));
            return std::nullopt;
        }
        if (!answer->error.empty()) {
            listener.answer(page("The sign-in failed. You may close this tab."));
            throw refusal(L"The provider", answer->error, answer->errorDescription);
        }
        // The browser's tab waits for its page until the tokens came, or did not.
        try {
            const TokenAnswer tokens =
                requestTokens(profile.tokenEndpoint, codeGrantBody(profile, answer->code, redirectUri, verifier));
            if (!tokens.error.empty()) throw refusal(tokens);
            listener.answer(page("You are signed in, and the e-mailer goes on with your message. "
                                 "You may close this tab."));
            return signInWith(scope, tokens);
        } catch (...) {
            listener.answer(page("The sign-in could not be finished; the e-mailer says why. You may close this tab."));
            throw;
        }
    }
}

TokenAnswer OAuthSignIn::requestTokens(const std::string& endpoint, const SecretText& form) {
    if (!progress_) return kt::requestTokens(endpoint, form, timeouts_.tokenEndpoint, untilQuit());
    progress_->enter(DeliveryStep::SigningIn);
    return kt::requestTokens(endpoint, form, timeouts_.tokenEndpoint, *progress_);
}

SignIn OAuthSignIn::signInWith(const SignInScope& scope, const TokenAnswer& tokens) {
    if (!tokens.refreshToken.empty()) {
        try {
            storeRefreshToken(scope, tokens.refreshToken);
        } catch (const ComponentError& failure) {
            // This message still goes; the next one asks for the browser again.
            notices_.push_back(L"your sign-in at the provider could not be kept, so the next message will ask you "
                               L"to sign in again: " + failure.description());
        }
    }
    if (tokens.expiresIn > 0) tokens_->keep(scope, tokens.accessToken, std::chrono::seconds(tokens.expiresIn));
    return SignIn{scope.sender, tokens.accessToken, true};
}

}  // namespace kt
