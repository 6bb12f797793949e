#include "delivery/oauth/oauth_protocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "delivery/oauth/sha256.h"
#include "foundation/characters.h"
#include "delivery/mail_error.h"

namespace kt {
namespace {

ComponentError oauthError(const std::wstring& description) {
    return mailError(MailFailure::SignInFailed, description);
}

// JSON whose every string gives back wiped memory (the parser's scratch copy
// of the text it reads is the library's own, and is not).
using SecretJson = nlohmann::basic_json<std::map, std::vector, SecretText, bool, std::int64_t, std::uint64_t, double,
                                        WipingAllocator>;

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A query value as sent: "+" is a blank, %XX a byte; a broken escape stays as it is.
SecretText percentDecode(std::string_view text) {
    SecretText out;
    // On the heap from the first byte, where it is wiped: never inside the string object.
    out.reserve(std::max<std::size_t>(text.size(), 2 * sizeof(SecretText)));
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Unreserved characters kept, every other byte as %XX, appended.
template <class Text>
void appendPercentEncoded(Text& out, std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte)) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
}

// "a=1&b=2": a field appended to a form body or a query, its value encoded.
template <class Text>
void addField(Text& body, const char* name, std::string_view value) {
    if (!body.empty()) body += '&';
    body += name;
    body += '=';
    appendPercentEncoded(body, value);
}

void addClient(SecretText& body, const OAuthProfile& profile) {
    addField(body, "client_id", profile.clientId);
    if (!profile.clientSecret.empty()) addField(body, "client_secret", profile.clientSecret);
}

std::string textOf(const SecretJson& value) {
    return value.is_string() ? std::string(value.get_ref<const SecretText&>()) : "";
}

// The token type is matched without regard to case (RFC 6749, 5.1).
bool isBearer(const std::string& type) { return asciiLowerCase(type) == "bearer"; }

}  // namespace

std::string percentEncode(const std::string& text) {
    std::string out;
    appendPercentEncoded(out, text);
    return out;
}

SecretText base64Url(const unsigned char* bytes, std::size_t count) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    SecretText out;
    for (std::size_t i = 0; i < count; i += 3) {
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16 | (i + 1 < count ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                    (i + 2 < count ? std::uint32_t{bytes[i + 2]} : 0);
        const std::size_t characters = count - i >= 3 ? 4 : count - i + 1;
        for (std::size_t k = 0; k < characters; ++k) out += alphabet[(group >> (18 - 6 * k)) & 63];
    }
    return out;
}

std::string pkceChallenge(std::string_view verifier) {
    const auto digest = sha256(verifier);
    return std::string(base64Url(digest.data(), digest.size()).view());
}

bool isSafeEndpoint(const std::string& url) {
    if (url.compare(0, 8, "https://") == 0) return url.size() > 8;
    for (const char* loopback : {"http://127.0.0.1:", "http://127.0.0.1/", "http://localhost:", "http://localhost/",
                                 "http://[::1]:", "http://[::1]/"})
        if (url.compare(0, std::char_traits<char>::length(loopback), loopback) == 0) return true;
    return false;
}

std::string authorizationUrl(const OAuthProfile& profile, const std::string& redirectUri, const std::string& state,
                             const std::string& codeChallenge, const std::string& loginHint) {
    std::string query;
    addField(query, "response_type", "code");
    addField(query, "client_id", profile.clientId);
    addField(query, "redirect_uri", redirectUri);
    addField(query, "scope", profile.scope);
    addField(query, "state", state);
    addField(query, "code_challenge", codeChallenge);
    addField(query, "code_challenge_method", "S256");
    if (!loginHint.empty()) addField(query, "login_hint", loginHint);
    const char separator = profile.authorizationEndpoint.find('?') == std::string::npos ? '?' : '&';
    return profile.authorizationEndpoint + separator + query;
}

std::optional<RedirectAnswer> parseRedirectRequest(std::string_view head) {
    // "GET /?query HTTP/1.1": the redirect URI's path is "/". Views alone, so
    // that the code is copied nowhere but into the answer.
    const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
    if (line.substr(0, 5) != "GET /") return std::nullopt;
    const auto end = line.find(' ', 4);
    if (end == std::string_view::npos || line.substr(end, 6) != " HTTP/") return std::nullopt;
    const std::string_view target = line.substr(4, end - 4);
    if (target.size() > 1 && target[1] != '?') return std::nullopt;
    RedirectAnswer answer;
    const std::string_view query = target.size() > 1 ? target.substr(2) : std::string_view();
    for (std::size_t start = 0; start <= query.size();) {
        const auto stop = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, stop - start);
        const auto equals = pair.find('=');
        const std::string_view name = pair.substr(0, equals);
        SecretText value = equals == std::string_view::npos ? SecretText() : percentDecode(pair.substr(equals + 1));
        if (name == "code") answer.code = std::move(value);
        else if (name == "state") answer.state.assign(value.begin(), value.end());
        else if (name == "error") answer.error.assign(value.begin(), value.end());
        else if (name == "error_description") answer.errorDescription.assign(value.begin(), value.end());
        start = stop + 1;
    }
    if (answer.code.empty() && answer.error.empty()) return std::nullopt;
    return answer;
}

SecretText codeGrantBody(const OAuthProfile& profile, const SecretText& code, const std::string& redirectUri,
                         const SecretText& codeVerifier) {
    SecretText body;
    addField(body, "grant_type", "authorization_code");
    addField(body, "code", code);
    addField(body, "redirect_uri", redirectUri);
    addField(body, "code_verifier", codeVerifier);
    addClient(body, profile);
    return body;
}

SecretText refreshGrantBody(const OAuthProfile& profile, const SecretText& refreshToken) {
    SecretText body;
    addField(body, "grant_type", "refresh_token");
    addField(body, "refresh_token", refreshToken);
    if (!profile.scope.empty()) addField(body, "scope", profile.scope);
    addClient(body, profile);
    return body;
}

TokenAnswer parseTokenResponse(std::string_view json) {
    const SecretJson answer = SecretJson::parse(json.begin(), json.end(), nullptr, false);
    if (answer.is_discarded() || !answer.is_object())
        throw oauthError(L"The token endpoint did not answer with JSON as OAuth 2.0 says.");
    TokenAnswer token;
    if (answer.contains("error")) {
        token.error = textOf(answer["error"]);
        if (token.error.empty()) throw oauthError(L"The token endpoint answered with an error that has no name.");
        if (answer.contains("error_description")) token.errorDescription = textOf(answer["error_description"]);
        return token;
    }
    const auto field = answer.find("access_token");
    if (field == answer.end() || !field->is_string() || field->get_ref<const SecretText&>().empty())
        throw oauthError(L"The token endpoint's answer has no access token.");
    token.accessToken = field->get_ref<const SecretText&>();
    if (answer.contains("token_type") && !isBearer(textOf(answer["token_type"])))
        throw oauthError(L"The token endpoint gave a token of a type other than Bearer.");
    if (const auto refresh = answer.find("refresh_token"); refresh != answer.end() && refresh->is_string())
        token.refreshToken = refresh->get_ref<const SecretText&>();
    // A number, or a number in a string as some providers send it.
    if (const auto expires = answer.find("expires_in"); expires != answer.end()) {
        const double seconds = expires->is_number() ? expires->get<double>()
                               : expires->is_string() ? std::strtod(textOf(*expires).c_str(), nullptr)
                                                      : 0;
        token.expiresIn = static_cast<long>(std::max(0.0, std::min(seconds, 1e9)));
    }
    return token;
}

}  // namespace kt
