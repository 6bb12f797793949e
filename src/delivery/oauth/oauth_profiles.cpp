#include "delivery/oauth/oauth_profiles.h"

#include <windows.h>

#include <algorithm>

#include "delivery/smtp/utf8.h"
#include "foundation/handles.h"

#ifndef KT_OAUTH_MICROSOFT_CLIENT_ID
#define KT_OAUTH_MICROSOFT_CLIENT_ID ""
#endif
#ifndef KT_OAUTH_GOOGLE_CLIENT_ID
#define KT_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef KT_OAUTH_GOOGLE_CLIENT_SECRET
#define KT_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif

namespace kt {
namespace {

const OAuthProfile kMicrosoft{"https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
                              "https://login.microsoftonline.com/common/oauth2/v2.0/token", KT_OAUTH_MICROSOFT_CLIENT_ID,
                              "", "https://outlook.office.com/SMTP.Send offline_access"};
// Google gives a refresh token only to a request for offline access.
const OAuthProfile kGoogle{"https://accounts.google.com/o/oauth2/v2/auth?access_type=offline&prompt=consent",
                           "https://oauth2.googleapis.com/token", KT_OAUTH_GOOGLE_CLIENT_ID,
                           KT_OAUTH_GOOGLE_CLIENT_SECRET, "https://mail.google.com/"};

const OAuthProfile* builtInProfile(const std::string& host) {
    if (host == "smtp.office365.com" || host == "smtp-mail.outlook.com") return &kMicrosoft;
    if (host == "smtp.gmail.com") return &kGoogle;
    return nullptr;
}

// A string value of an open key; empty when there is none.
std::string stringValue(HKEY key, const wchar_t* name) {
    DWORD size = 0;
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS) return {};
    text.resize(std::min<std::size_t>(text.size(), wcsnlen(text.c_str(), text.size())));
    return toUtf8(text);
}

// The profile key of the first hive that has one.
std::optional<OAuthProfile> registryProfile(const std::string& host) {
    const std::wstring path = std::wstring(kOAuthProfilesKey) + L"\\" + fromUtf8(host);
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        UniqueRegKey key;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) continue;
        return OAuthProfile{stringValue(key.get(), L"AuthorizationEndpoint"), stringValue(key.get(), L"TokenEndpoint"),
                            stringValue(key.get(), L"ClientId"), stringValue(key.get(), L"ClientSecret"),
                            stringValue(key.get(), L"Scope")};
    }
    return std::nullopt;
}

// A value the key leaves empty comes from the built-in profile.
void fillFrom(std::string& value, const std::string& builtIn) {
    if (value.empty()) value = builtIn;
}

}  // namespace

std::optional<OAuthProfile> oauthProfileFor(const std::string& host) {
    std::optional<OAuthProfile> profile = registryProfile(host);
    if (const OAuthProfile* builtIn = builtInProfile(host)) {
        if (!profile) profile = OAuthProfile{};
        fillFrom(profile->authorizationEndpoint, builtIn->authorizationEndpoint);
        fillFrom(profile->tokenEndpoint, builtIn->tokenEndpoint);
        fillFrom(profile->clientId, builtIn->clientId);
        fillFrom(profile->clientSecret, builtIn->clientSecret);
        fillFrom(profile->scope, builtIn->scope);
    }
    if (!profile || profile->authorizationEndpoint.empty() || profile->tokenEndpoint.empty() ||
        profile->clientId.empty())
        return std::nullopt;
    return profile;
}

}  // namespace kt
