#pragma once
// Where a mail server's OAuth profile comes from, value by value, the first
// found winning: HKCU, then HKLM "Software\Veltrano\Ardwyn\KT_EMailer\OAuth\<host>"
// (string values AuthorizationEndpoint, TokenEndpoint, ClientId, ClientSecret,
// Scope, and ImapScope, added to the scope for the Sent copy), then the
// built-in profiles of Microsoft's and Google's submission servers (SMTP and
// IMAP in one consent), whose client ID comes from the build or from those
// keys. A profile without a client ID or an endpoint is none: the host signs
// in with a password.

#include <optional>
#include <string>

#include "delivery/oauth/oauth_protocol.h"

namespace kt {

inline constexpr const wchar_t* kOAuthProfilesKey = L"Software\\Veltrano\\Ardwyn\\KT_EMailer\\OAuth";

std::optional<OAuthProfile> oauthProfileFor(const std::string& host);

}  // namespace kt
