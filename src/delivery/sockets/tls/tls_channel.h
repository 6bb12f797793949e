#pragma once
// TLS over a Winsock connection with the system's own TLS (Schannel): the
// handshake, the checks of the protocol version and of the server's
// certificate, and the records both ways. Private to the socket layer.

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS
#include <subauth.h>
#include <schannel.h>

#include <chrono>
#include <string>

#include "foundation/stop_signal.h"
#include "foundation/unique_handle.h"

namespace kt {

using Clock = std::chrono::steady_clock;

// The plain connection under TLS.
class RawConnection {
public:
    virtual ~RawConnection() = default;
    // Sends every byte or throws; the bytes carry `carried` bytes of the
    // plaintext, told to the delivery's progress as they go.
    virtual void sendRaw(std::string_view bytes, std::size_t carried) = 0;
    // Sends what the connection takes at once, without waiting; never throws.
    virtual void sendRawAtOnce(std::string_view bytes) noexcept = 0;
    // What arrived by the deadline; empty when the server closed. Throws on
    // a time-out or a network failure.
    virtual std::string receiveRaw(Clock::time_point deadline) = 0;
};

// SSPI handles are pairs of words; SecInvalidateHandle marks none.
struct SspiHandle {
    SecHandle value;
    SspiHandle() noexcept { SecInvalidateHandle(&value); }
    // SSPI takes handles by pointer; a copy stands for the handle during a call.
    SecHandle* sspi() noexcept { return &value; }
    friend bool operator==(const SspiHandle& a, const SspiHandle& b) noexcept {
        return a.value.dwLower == b.value.dwLower && a.value.dwUpper == b.value.dwUpper;
    }
    friend bool operator!=(const SspiHandle& a, const SspiHandle& b) noexcept { return !(a == b); }
};

template <SECURITY_STATUS(SEC_ENTRY* Free)(PSecHandle)>
struct SspiHandleTraits {
    using Handle = SspiHandle;
    static Handle invalid() noexcept { return {}; }
    static void close(Handle handle) noexcept { Free(&handle.value); }
};

class TlsChannel {
public:
    // Negotiates TLS with the server named `hostName` by the deadline and
    // checks it; throws, in words a user understands, when it cannot be
    // trusted. `stop` may end the wait for the certificate's issuers.
    TlsChannel(RawConnection& connection, const std::string& hostName, Clock::time_point deadline,
               const StopSignal& stop);
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;
    // Tells the server that TLS ends, if it still listens.
    ~TlsChannel();

    void send(std::string_view plaintext);
    // Plaintext that arrived by the deadline; empty when the server closed.
    std::string receive(Clock::time_point deadline);

private:
    SECURITY_STATUS step(bool feed);
    void negotiate(SECURITY_STATUS status, Clock::time_point deadline);
    void checkNegotiated();
    void checkProtocolVersion() const;

    RawConnection& connection_;
    std::wstring hostName_;
    const StopSignal& stop_;
    UniqueHandle<SspiHandleTraits<&FreeCredentialsHandle>> credentials_;
    UniqueHandle<SspiHandleTraits<&DeleteSecurityContext>> context_;
    unsigned long contextRequest_;
    SecPkgContext_StreamSizes sizes_{};
    std::string incoming_;  // what arrived and is not decrypted yet
    bool closing_ = false;
};

// Checks the certificate of the server on the other end of `context` for
// `hostName`: a chain to a root this computer trusts, for server
// authentication, in its validity period, with no fault in the chain; then
// that no certificate of it but the root has been revoked (see
// delivery/sockets/revocation.h). Waits for the issuers' answers letting the
// thread's messages through; `stop` may end that wait.
void checkServerCertificate(CtxtHandle context, const std::wstring& hostName, const StopSignal& stop);

}  // namespace kt
