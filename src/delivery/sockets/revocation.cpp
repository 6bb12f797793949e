#include "delivery/sockets/revocation.h"

#include <windows.h>
#include <wincrypt.h>

#include "foundation/module.h"

namespace kt {

bool revocationCheckRequired(const std::wstring& host) {
    const std::wstring key = std::wstring(kServerSettingsKey) + L"\\" + host;
    DWORD value = 0, size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"RequireRevocationCheck", RRF_RT_REG_DWORD, nullptr, &value,
                        &size) == ERROR_SUCCESS &&
           value == 1;
}

// The certificate errors carry the system's code as their number, as every
// other refusal of a certificate does.
ComponentError revokedCertificate(const std::wstring& host) {
    return ComponentError(static_cast<long>(CERT_E_REVOKED), thisModuleBaseName() + L".Windows",
                          L"The certificate of " + host + L" has been revoked by its issuer. Nothing was sent.");
}

ComponentError revocationUnchecked(const std::wstring& host) {
    return ComponentError(static_cast<long>(CERT_E_REVOCATION_FAILURE), thisModuleBaseName() + L".Windows",
                          L"Whether the certificate of " + host +
                              L" has been revoked could not be learned from its issuer, and the settings for this "
                              L"server require it (RequireRevocationCheck). Nothing was sent.");
}

}  // namespace kt
