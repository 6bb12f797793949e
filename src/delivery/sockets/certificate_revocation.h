#pragma once
// The revocation check of a certificate that passed every other check, for
// connections whose TLS is not the socket layer's own (WinHTTP's, where the
// system's answer cannot tell a revoked certificate from an issuer out of
// reach). The rules are those of revocation.h.

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "foundation/stop_signal.h"

namespace kt {

// Returns when the certificate of `hostName` may be used; throws
// revokedCertificate or revocationUnchecked otherwise. Waits for the issuers
// letting the thread's messages through; `stop` may end the wait.
void checkCertificateRevocation(PCCERT_CONTEXT certificate, const std::wstring& hostName, const StopSignal& stop);

}  // namespace kt
