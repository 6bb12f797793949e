#include "delivery/oauth/oauth_profiles.h"

#include <windows.h>

#include <algorithm>

#include "foundation/utf8.h"
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
                              "",
                              // One consent covers the copy in the Sent folder too: one resource, both protocols.
                              "https://outlook.office.com/SMTP.Send https://outlook.office.com/IMAP.AccessAsUser.All "
                              "offline_access"};
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
std::string stringValue(HKEY key, const wchar_t* name) { return toUtf8(registryString(key, nullptr, name)); }

// A value left empty so far comes from the next source.
void fillFrom(OAuthProfile& profile, const OAuthProfile& next) {
    for (const auto field : {&OAuthProfile::authorizationEndpoint, &OAuthProfile::tokenEndpoint, &OAuthProfile::clientId,
                             &OAuthProfile::clientSecret, &OAuthProfile::scope})
        if ((profile.*field).empty()) profile.*field = next.*field;
}

// The IMAP scope a key names for the Sent copy, added to its Scope unless it is there.
void addImapScope(OAuthProfile& profile, const std::string& host) {
    const std::wstring path = std::wstring(kOAuthProfilesKey) + L"\\" + fromUtf8(host);
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::string imapScope = toUtf8(registryString(root, path.c_str(), L"ImapScope"));
        if (imapScope.empty()) continue;
        if ((" " + profile.scope + " ").find(" " + imapScope + " ") == std::string::npos)
            profile.scope += (profile.scope.empty() ? "" : " ") + imapScope;
        return;
    }
}

// The host's key under a hive, if it has one.
std::optional<OAuthProfile> registryProfile(HKEY root, const std::string& host) {
    const std::wstring path = std::wstring(kOAuthProfilesKey) + L"\\" + fromUtf8(host);
    UniqueRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return std::nullopt;
    return OAuthProfile{stringValue(key.get(), L"AuthorizationEndpoint"), stringValue(key.get(), L"TokenEndpoint"),
                        stringValue(key.get(), L"ClientId"), stringValue(key.get(), L"ClientSecret"),
                        stringValue(key.get(), L"Scope")};
}

}  // namespace

std::optional<OAuthProfile> oauthProfileFor(const std::string& host) {
    // Each value from the first source that gives it: the user's key, the
    // machine's (where an installer put the client ID), the built-in profile.
    bool found = false;
    OAuthProfile profile;
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if (const auto fromKey = registryProfile(root, host)) {
            fillFrom(profile, *fromKey);
            found = true;
        }
    }
    if (const OAuthProfile* builtIn = builtInProfile(host)) {
        fillFrom(profile, *builtIn);
        found = true;
    }
    addImapScope(profile, host);
    if (!found || profile.authorizationEndpoint.empty() || profile.tokenEndpoint.empty() || profile.clientId.empty())
        return std::nullopt;
    return profile;
}

}  // namespace kt
