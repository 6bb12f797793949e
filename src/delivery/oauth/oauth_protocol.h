#pragma once
// The OAuth 2.0 authorization code grant with PKCE for a native app (RFC
// 6749, 7636, 8252): the authorization URL the browser opens, the browser's
// request to the loopback redirect, and the token endpoint's requests and
// answers. Text is UTF-8. Nothing here touches the network.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/secret_text.h"

namespace kt {

// How to sign in to one mail server's provider.
struct OAuthProfile {
    std::string authorizationEndpoint;
    std::string tokenEndpoint;
    std::string clientId;
    std::string clientSecret;  // optional; an installed app's secret is no secret
    std::string scope;
};

// Unreserved characters kept, every other byte as %XX (RFC 3986).
std::string percentEncode(const std::string& text);
// Base64 with the URL alphabet and no padding (RFC 4648 section 5); of random
// bytes, it may be a secret.
SecretText base64Url(const unsigned char* bytes, std::size_t count);

// The S256 code challenge of a PKCE verifier.
std::string pkceChallenge(std::string_view verifier);

// Whether an endpoint may be reached: HTTPS, or HTTP to this computer alone.
bool isSafeEndpoint(const std::string& url);

std::string authorizationUrl(const OAuthProfile& profile, const std::string& redirectUri, const std::string& state,
                             const std::string& codeChallenge, const std::string& loginHint);

// What the browser brought to the redirect: a code, or the provider's error.
struct RedirectAnswer {
    SecretText code;
    std::string state;
    std::string error;  // e.g. "access_denied"
    std::string errorDescription;
};

// The head of an HTTP request for the redirect URI's path ("GET /?code=...
// HTTP/1.1" and its header lines); nothing for any other request (a
// favicon, a malformed one).
std::optional<RedirectAnswer> parseRedirectRequest(std::string_view head);

// The bodies of the token endpoint's requests (application/x-www-form-urlencoded).
SecretText codeGrantBody(const OAuthProfile& profile, const SecretText& code, const std::string& redirectUri,
                         const SecretText& codeVerifier);
SecretText refreshGrantBody(const OAuthProfile& profile, const SecretText& refreshToken);

struct TokenAnswer {
    SecretText accessToken;
    SecretText refreshToken;  // empty when the provider sent none
    long expiresIn = 0;       // seconds; 0 when not said
    std::string error;        // "invalid_grant" (the grant is no longer good), ...: the provider refused
    std::string errorDescription;
};

// Reads the token endpoint's JSON; throws a component error, in words, when
// it is not what the protocol says. The copies of tokens it keeps are wiped
// when given back.
TokenAnswer parseTokenResponse(std::string_view json);

}  // namespace kt
