#include <windows.h>
#include <wincrypt.h>

#include "foundation/api_error.h"
#include "tls_channel.h"

namespace kt {
namespace {

using UniqueCertificate = UniqueHandle<HandleTraits<PCCERT_CONTEXT, &CertFreeCertificateContext>>;
using UniqueChain = UniqueHandle<HandleTraits<PCCERT_CHAIN_CONTEXT, &CertFreeCertificateChain>>;

// A fault of the chain the SSL policy may have let pass (some systems pass a
// chain that ends at an unknown issuer), as a certificate error; 0 for none.
// Revocation is not asked for: should a system check it anyway and be unable
// to, that is no fault.
unsigned long chainFault(DWORD trustErrors) {
    const DWORD faults = trustErrors & ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (faults == 0) return 0;
    if (faults & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<unsigned long>(CERT_E_EXPIRED);
    if (faults & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT);
    if (faults & CERT_TRUST_IS_REVOKED) return static_cast<unsigned long>(CRYPT_E_REVOKED);
    if (faults & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<unsigned long>(CERT_E_WRONG_USAGE);
    return static_cast<unsigned long>(CERT_E_CHAINING);
}

std::wstring refusalInWords(unsigned long fault, const std::wstring& hostName) {
    const std::wstring certificate = L"The certificate of the server " + hostName;
    switch (static_cast<HRESULT>(fault)) {
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING:
            return certificate + L" is not trusted: no certificate authority that this computer trusts issued it "
                                 L"(it may be self-signed)";
        case CERT_E_CN_NO_MATCH:
            return certificate + L" is for another name: the server may not be the one it claims to be";
        case CERT_E_EXPIRED:
            return certificate + L" has expired or is not valid yet";
        case CRYPT_E_REVOKED:
            return certificate + L" has been revoked";
        case CERT_E_WRONG_USAGE:
            return certificate + L" is not meant for a server";
        default:
            return certificate + L" was refused";
    }
}

}  // namespace

void checkServerCertificate(CtxtHandle context, const std::wstring& hostName) {
    UniqueCertificate certificate;
    const SECURITY_STATUS received = QueryContextAttributesW(&context,
                                                             SECPKG_ATTR_REMOTE_CERT_CONTEXT, certificate.put());
    if (received != SEC_E_OK)
        throw apiError(static_cast<unsigned long>(received), L"The server " + hostName + L" showed no certificate");

    char serverAuthentication[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuthentication};
    CERT_CHAIN_PARA chainParameters{sizeof chainParameters};
    chainParameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainParameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainParameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    UniqueChain chain;
    // The certificates the server sent along are in the certificate's own store.
    if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, certificate.get()->hCertStore, &chainParameters,
                                 0, nullptr, chain.put()))
        throw apiError(GetLastError(), L"The certificate of the server " + hostName + L" could not be checked");

    std::wstring serverName = hostName;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslParameters{};
    sslParameters.cbSize = sizeof sslParameters;
    sslParameters.dwAuthType = AUTHTYPE_SERVER;
    sslParameters.pwszServerName = serverName.data();
    CERT_CHAIN_POLICY_PARA policy{sizeof policy};
    policy.pvExtraPolicyPara = &sslParameters;
    CERT_CHAIN_POLICY_STATUS verdict{sizeof verdict};
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &verdict))
        throw apiError(GetLastError(), L"The certificate of the server " + hostName + L" could not be checked");

    const unsigned long fault = verdict.dwError ? verdict.dwError : chainFault(chain.get()->TrustStatus.dwErrorStatus);
    if (fault) throw apiError(fault, refusalInWords(fault, hostName));
}

}  // namespace kt
