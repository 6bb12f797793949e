// CERT_CHAIN_PARA with dwUrlRetrievalTimeout and the fields after it.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <memory>

#include "delivery/sockets/certificate_revocation.h"
#include "delivery/sockets/delivery_progress.h"
#include "delivery/sockets/revocation.h"
#include "foundation/api_error.h"
#include "foundation/background_work.h"
#include "tls_channel.h"

namespace kt {
namespace {

using UniqueCertificate = UniqueHandle<HandleTraits<PCCERT_CONTEXT, &CertFreeCertificateContext>>;
using UniqueChain = UniqueHandle<HandleTraits<PCCERT_CHAIN_CONTEXT, &CertFreeCertificateChain>>;

// A fault of the chain the SSL policy may have let pass (some systems pass a
// chain that ends at an unknown issuer), as a certificate error; 0 for none.
// Revocation is checked on its own, later: an answer that could not be had is
// no fault here.
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
        case CERT_E_WRONG_USAGE:
            return certificate + L" is not meant for a server";
        default:
            return certificate + L" was refused";
    }
}

// Server authentication, as the chain's usage; points into itself, so never copied.
struct ServerUsage {
    char oid[sizeof szOID_PKIX_KP_SERVER_AUTH] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[1] = {oid};

    ServerUsage() = default;
    ServerUsage(const ServerUsage&) = delete;
    ServerUsage& operator=(const ServerUsage&) = delete;

    void into(CERT_CHAIN_PARA& parameters) {
        parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
        parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    }
};

// The SSL policy's verdict on a chain for the host name.
DWORD sslPolicyError(PCCERT_CHAIN_CONTEXT chain, const std::wstring& hostName) {
    std::wstring serverName = hostName;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslParameters{};
    sslParameters.cbSize = sizeof sslParameters;
    sslParameters.dwAuthType = AUTHTYPE_SERVER;
    sslParameters.pwszServerName = serverName.data();
    CERT_CHAIN_POLICY_PARA policy{sizeof policy};
    policy.pvExtraPolicyPara = &sslParameters;
    CERT_CHAIN_POLICY_STATUS verdict{sizeof verdict};
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict))
        throw apiError(GetLastError(), L"The certificate of the server " + hostName + L" could not be checked");
    return verdict.dwError;
}

enum class Revocation { NotRevoked, Revoked, Unknown };

// Asks the issuers whether any certificate of the chain but the root was
// revoked, within the limit for all their answers. Blocks: runs on a thread
// of its own.
Revocation askIssuers(PCCERT_CONTEXT certificate, const std::wstring& hostName) {
    // The system loads its retrieval library for each check and frees it
    // after; on some systems a request given up at the time limit calls back
    // into it later. Loaded once, it stays until the process ends.
    static const HMODULE retrieval = LoadLibraryW(L"cryptnet.dll");
    (void)retrieval;
    ServerUsage usage;
    CERT_CHAIN_PARA parameters{};
    // Some systems honour the retrieval time-out only when the size is that
    // of the structure without the strong-signature fields; every system
    // takes that older size.
    parameters.cbSize = offsetof(CERT_CHAIN_PARA, pStrongSignPara);
    usage.into(parameters);
    parameters.dwUrlRetrievalTimeout = static_cast<DWORD>(kRevocationAnswerLimit.count());
    UniqueChain chain;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                     CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                 nullptr, chain.put()))
        return Revocation::Unknown;
    const DWORD trust = chain.get()->TrustStatus.dwErrorStatus;
    const DWORD error = sslPolicyError(chain.get(), hostName);
    if (trust & CERT_TRUST_IS_REVOKED || error == static_cast<DWORD>(CERT_E_REVOKED) ||
        error == static_cast<DWORD>(CRYPT_E_REVOKED))
        return Revocation::Revoked;
    if (trust & (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION) || error != 0)
        return Revocation::Unknown;
    return Revocation::NotRevoked;
}

}  // namespace

// The issuers' answers, waited for while the thread's messages go through
// and a Stop may end the wait; some systems overrun the limit, and an answer
// that late counts as none.
void checkCertificateRevocation(PCCERT_CONTEXT certificate, const std::wstring& hostName, const StopSignal& stop) {
    const auto held = std::make_shared<UniqueCertificate>(CertDuplicateCertificateContext(certificate));
    const BackgroundWork<Revocation> asked([held, hostName] { return askIssuers(held->get(), hostName); },
                                           L"The certificate of the server " + hostName + L" could not be checked");
    Revocation answer = Revocation::Unknown;
    switch (asked.wait(Clock::now() + kRevocationAnswerLimit + std::chrono::seconds(1), &stop)) {
        case WaitEnd::Stopped:
            throw DeliveryStopped();
        case WaitEnd::TimedOut:
            break;
        case WaitEnd::Signalled:
            answer = asked.result();
            break;
    }
    if (answer == Revocation::Revoked) throw revokedCertificate(hostName);
    if (answer == Revocation::Unknown && revocationCheckRequired(hostName)) throw revocationUnchecked(hostName);
}

void checkServerCertificate(CtxtHandle context, const std::wstring& hostName, const StopSignal& stop) {
    UniqueCertificate certificate;
    const SECURITY_STATUS received = QueryContextAttributesW(&context,
                                                             SECPKG_ATTR_REMOTE_CERT_CONTEXT, certificate.put());
    if (received != SEC_E_OK)
        throw apiError(static_cast<unsigned long>(received), L"The server " + hostName + L" showed no certificate");

    ServerUsage usage;
    CERT_CHAIN_PARA chainParameters{sizeof chainParameters};
    usage.into(chainParameters);
    UniqueChain chain;
    // The certificates the server sent along are in the certificate's own store.
    if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, certificate.get()->hCertStore, &chainParameters,
                                 0, nullptr, chain.put()))
        throw apiError(GetLastError(), L"The certificate of the server " + hostName + L" could not be checked");

    const DWORD policyError = sslPolicyError(chain.get(), hostName);
    const unsigned long fault = policyError ? policyError : chainFault(chain.get()->TrustStatus.dwErrorStatus);
    if (fault == static_cast<unsigned long>(CRYPT_E_REVOKED) || fault == static_cast<unsigned long>(CERT_E_REVOKED))
        throw revokedCertificate(hostName);  // a system that knew already
    if (fault) throw apiError(fault, refusalInWords(fault, hostName));
    // Only a certificate that passed everything else is worth asking its issuers about.
    checkCertificateRevocation(certificate.get(), hostName, stop);
}

}  // namespace kt
