#include "provider_sign_in.h"

#include "delivery/oauth/oauth_sign_in.h"

namespace kt {

std::shared_ptr<SignInProvider> providerSignIn(std::shared_ptr<SignInProvider> passwords, long browserMs,
                                               long tokenEndpointMs) {
    // One store of access tokens for every send of this process.
    static const auto tokens = std::make_shared<AccessTokens>();
    return std::make_shared<OAuthSignIn>(std::move(passwords), tokens, nullptr, nullptr,
                                         OAuthTimeouts{std::chrono::milliseconds(browserMs),
                                                       std::chrono::milliseconds(tokenEndpointMs)});
}

}  // namespace kt
