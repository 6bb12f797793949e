#include "provider_sign_in.h"

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/oauth/token_endpoint.h"
#include "foundation/message_pump.h"

namespace kt {

std::shared_ptr<SignInProvider> providerSignIn(std::shared_ptr<SignInProvider> passwords, long browserMs,
                                               long tokenEndpointMs) {
    // One store of access tokens for every send of this process.
    static const auto tokens = std::make_shared<AccessTokens>();
    return std::make_shared<OAuthSignIn>(std::move(passwords), tokens, nullptr, nullptr,
                                         OAuthTimeouts{std::chrono::milliseconds(browserMs),
                                                       std::chrono::milliseconds(tokenEndpointMs)});
}

void askTokenEndpoint(const std::string& url, long tokenEndpointMs) {
    requestTokens(url, SecretText("grant_type=refresh_token&refresh_token=kept&client_id=smtp_send"),
                  std::chrono::milliseconds(tokenEndpointMs), untilQuit());
}

}  // namespace kt
