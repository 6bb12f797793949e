#pragma once
// Whether a server's certificate has been revoked is asked of its issuer
// after every other check. A certificate reported revoked is refused; an
// answer that cannot be had (offline, no address to ask, no answer in time)
// lets the connection go on unless the user's settings for the server say
// otherwise: HKCU "Software\Veltrano\Ardwyn\KT_EMailer\Servers\<host>",
// DWORD RequireRevocationCheck = 1.

#include <chrono>
#include <string>

#include "foundation/component_error.h"

namespace kt {

inline constexpr const wchar_t* kServerSettingsKey = L"Software\\Veltrano\\Ardwyn\\KT_EMailer\\Servers";

// How long the issuers' answers may take, all of them together.
inline constexpr std::chrono::milliseconds kRevocationAnswerLimit{5000};

// True when the server's settings demand an answer about revocation.
bool revocationCheckRequired(const std::wstring& host);

// The refusals, the same for every kind of connection.
ComponentError revokedCertificate(const std::wstring& host);
ComponentError revocationUnchecked(const std::wstring& host);

}  // namespace kt
