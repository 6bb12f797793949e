// A provider's sign-in as far as it is text: the PKCE challenge, the
// authorization URL, the browser's answer at the redirect, the token
// endpoint's requests and answers, and how long an access token is kept.

#include "delivery/oauth/oauth_protocol.h"

#include <gtest/gtest.h>

#include "delivery/oauth/access_tokens.h"
#include "delivery/oauth/sha256.h"
#include "delivery/mail_failures.h"

namespace kt {
namespace {

std::string hex(const std::array<unsigned char, 32>& digest) {
    std::string text;
    for (unsigned char byte : digest) text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
    return text;
}

const OAuthProfile kProfile{"https://login.example.com/authorize", "https://login.example.com/token", "app id",
                            "", "https://mail.example.com/SMTP.Send offline_access"};

TEST(OAuthText, PkceChallengeIsTheS256OfTheVerifier) {
    EXPECT_EQ(hex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(sha256(std::string(1000, 'a'))), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
    // RFC 7636, appendix B.
    EXPECT_EQ(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(OAuthText, TheAuthorizationUrlCarriesEveryParameterEncoded) {
    EXPECT_EQ(authorizationUrl(kProfile, "http://127.0.0.1:4321/", "st-1", "ch_2", "zoë+1@example.com"),
              "https://login.example.com/authorize?response_type=code&client_id=app%20id"
              "&redirect_uri=http%3A%2F%2F127.0.0.1%3A4321%2F&scope=https%3A%2F%2Fmail.example.com%2FSMTP.Send%20"
              "offline_access&state=st-1&code_challenge=ch_2&code_challenge_method=S256"
              "&login_hint=zo%C3%AB%2B1%40example.com");
    OAuthProfile withQuery = kProfile;
    withQuery.authorizationEndpoint += "?access_type=offline";
    EXPECT_EQ(authorizationUrl(withQuery, "r", "s", "c", "").find("?access_type=offline&response_type=code"),
              kProfile.authorizationEndpoint.size());
}

TEST(OAuthText, OnlyHttpsEndpointsOrThisComputersAreReached) {
    for (const char* safe : {"https://login.example.com/token", "http://127.0.0.1:8080/token", "http://localhost/token",
                             "http://[::1]:9/t"})
        EXPECT_TRUE(isSafeEndpoint(safe)) << safe;
    for (const char* unsafe : {"http://login.example.com/token", "http://localhost.example.com/", "calc.exe",
                               "file:///C:/x", "https://", ""})
        EXPECT_FALSE(isSafeEndpoint(unsafe)) << unsafe;
}

TEST(OAuthText, OnlyARequestForTheRedirectWithACodeOrAnErrorIsAnAnswer) {
    const auto code = parseRedirectRequest("GET /?code=a%2Fb+c&state=xyz&iss=https%3A%2F%2Fi HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(code);
    EXPECT_EQ(std::string(code->code) + "|" + code->state + "|" + code->error, "a/b c|xyz|");
    const auto denied = parseRedirectRequest("GET /?error=access_denied&error_description=no%20way&state=s HTTP/1.1\r\n");
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->error + "|" + denied->errorDescription + "|" + denied->state, "access_denied|no way|s");
    for (const char* other : {"GET /favicon.ico HTTP/1.1\r\n", "GET / HTTP/1.1\r\n", "POST /?code=x HTTP/1.1\r\n",
                              "GET /?code=x\r\n", "GET /path?code=x HTTP/1.1\r\n", "", "GET /?state=only HTTP/1.1"})
        EXPECT_FALSE(parseRedirectRequest(other)) << other;
}

TEST(OAuthText, TokenRequestsAreFormsAndARefreshTokenGoesAsItIs) {
    OAuthProfile withSecret = kProfile;
    withSecret.clientSecret = "s&cret";
    EXPECT_EQ(codeGrantBody(withSecret, "c/1", "http://127.0.0.1:9/", "v-1"),
              "grant_type=authorization_code&code=c%2F1&redirect_uri=http%3A%2F%2F127.0.0.1%3A9%2F&code_verifier=v-1"
              "&client_id=app%20id&client_secret=s%26cret");
    // Refresh tokens may hold any printable character ("1//0g" is Google's way).
    EXPECT_EQ(refreshGrantBody(kProfile, "1//0g+x/y=&grant_type=password"),
              "grant_type=refresh_token&refresh_token=1%2F%2F0g%2Bx%2Fy%3D%26grant_type%3Dpassword"
              "&scope=https%3A%2F%2Fmail.example.com%2FSMTP.Send%20offline_access&client_id=app%20id");
}

TEST(OAuthText, TheTokenEndpointsAnswerIsReadOrRefusedInWords) {
    const TokenAnswer tokens =
        parseTokenResponse(R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599,"refresh_token":"rt-1"})");
    EXPECT_EQ(std::string(tokens.accessToken) + "|" + std::string(tokens.refreshToken) + "|" +
                  std::to_string(tokens.expiresIn),
              "at-1|rt-1|3599");
    EXPECT_EQ(parseTokenResponse(R"({"access_token":"a","token_type":"BEARER","expires_in":"600"})").expiresIn, 600);
    const TokenAnswer refused = parseTokenResponse(R"({"error":"invalid_grant","error_description":"used"})");
    EXPECT_EQ(refused.error + "|" + refused.errorDescription, "invalid_grant|used");
    for (const char* broken : {"", "<html>Bad gateway</html>", R"({"access_token":)", "[]",
                               R"({"token_type":"Bearer"})", R"({"access_token":"a","token_type":"MAC"})",
                               R"({"access_token":7})", R"({"error":5})"}) {
        SCOPED_TRACE(broken);
        failureText([&] { parseTokenResponse(broken); }, failure(MailFailure::SignInFailed));
    }
}

TEST(OAuthText, AnAccessTokenIsKeptUntilShortlyBeforeItExpires) {
    AccessTokens tokens;
    const auto now = AccessTokens::Clock::now();
    const SignInScope ann{"smtp.example.com", "ann@example.com"}, bob{"smtp.example.com", "bob@example.com"};
    tokens.keep(ann, "long", std::chrono::seconds(3600), now);
    tokens.keep(bob, "short", std::chrono::seconds(10), now);
    EXPECT_TRUE(tokens.find(ann, now + std::chrono::seconds(3539)));
    EXPECT_FALSE(tokens.find(ann, now + std::chrono::seconds(3540)));
    EXPECT_TRUE(tokens.find(bob, now + std::chrono::seconds(4)));
    EXPECT_FALSE(tokens.find(bob, now + std::chrono::seconds(5)));
    tokens.forget(ann);
    EXPECT_FALSE(tokens.find(ann, now));
}

}  // namespace
}  // namespace kt
