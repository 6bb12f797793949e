#pragma once
// A credential read from the system's Credential Manager: its secret is
// wiped before the system frees it.

#include <windows.h>
#include <wincred.h>

#include "foundation/unique_handle.h"

namespace kt {

inline void wipeAndFreeCredential(PCREDENTIALW credential) noexcept {
    if (credential->CredentialBlob) SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
    CredFree(credential);
}

using UniqueCredential = UniqueHandle<HandleTraits<PCREDENTIALW, &wipeAndFreeCredential>>;

}  // namespace kt
