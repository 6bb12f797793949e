#include "tls_channel.h"

#include <algorithm>
#include <cstring>

#include "foundation/characters.h"
#include "delivery/sockets/transport.h"
#include "foundation/utf8.h"
#include "foundation/api_error.h"

namespace kt {
namespace {

using ContextBuffer = UniqueHandle<HandleTraits<void*, &FreeContextBuffer>>;

constexpr unsigned long kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                          ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                          ISC_REQ_MANUAL_CRED_VALIDATION;

// Records are gathered up to this size before they go to the socket.
constexpr std::size_t kSendBatch = 256 * 1024;

// The system checks nothing itself: the certificate is checked after the
// handshake, by checkServerCertificate.
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;

// Client credentials for Schannel. SCH_CREDENTIALS lets newer systems speak
// TLS 1.3; systems before it know only SCHANNEL_CRED.
UniqueHandle<SspiHandleTraits<&FreeCredentialsHandle>> acquireCredentials() {
    UniqueHandle<SspiHandleTraits<&FreeCredentialsHandle>> credentials;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = kCredentialFlags;
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.dwFlags = kCredentialFlags;
    SECURITY_STATUS status = SEC_E_OK;
    for (void* data : {static_cast<void*>(&current), static_cast<void*>(&older)}) {
        SspiHandle handle;
        status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                           data, nullptr, nullptr, &handle.value, nullptr);
        if (status == SEC_E_OK) {
            credentials.reset(handle);
            return credentials;
        }
    }
    throw apiError(static_cast<unsigned long>(status), L"The system's TLS could not be set up");
}

// The versions the component speaks; anything else is refused by name.
constexpr DWORD kAcceptedProtocols = SP_PROT_TLS1_2 | SP_PROT_TLS1_3;

// Every record of a handshake starts with its content type: change cipher
// spec, alert, handshake, data or heartbeat (20 to 24). Text does not.
bool startsWithTlsRecord(const std::string& bytes) {
    return bytes.empty() || (bytes[0] >= 20 && bytes[0] <= 24);
}

// The first line of what the server sent, fit to show.
std::wstring firstLine(const std::string& bytes) {
    const std::string line = bytes.substr(0, std::min<std::size_t>(bytes.find_first_of("\r\n"), 120));
    return withControlsReplaced(fromUtf8(line), L'?');
}

const wchar_t* protocolName(DWORD protocol) {
    if (protocol & SP_PROT_TLS1_1) return L"TLS 1.1";
    if (protocol & SP_PROT_TLS1_0) return L"TLS 1.0";
    if (protocol & SP_PROT_SSL3) return L"SSL 3.0";
    if (protocol & SP_PROT_SSL2) return L"SSL 2.0";
    return L"a version of TLS it does not name";
}

}  // namespace

TlsChannel::TlsChannel(RawConnection& connection, const std::string& hostName, Clock::time_point deadline,
                       const StopSignal& stop)
    : connection_(connection),
      hostName_(fromUtf8(hostName)),
      stop_(stop),
      credentials_(acquireCredentials()),
      contextRequest_(kContextRequest) {
    negotiate(step(false), deadline);
    checkNegotiated();
}

// What was negotiated, checked after the handshake and after every later
// one: a renegotiation may bring another certificate or version.
void TlsChannel::checkNegotiated() {
    checkProtocolVersion();
    checkServerCertificate(context_.get().value, hostName_, stop_);
    const SECURITY_STATUS sizes = QueryContextAttributesW(context_.get().sspi(), SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (sizes != SEC_E_OK) throw apiError(static_cast<unsigned long>(sizes), L"TLS with " + hostName_ + L" failed");
}

TlsChannel::~TlsChannel() {
    try {
        // One attempt to say goodbye, never a wait: this may run while a
        // failure unwinds, and the connection closes either way.
        closing_ = true;
        DWORD shutdown = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
        SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
        if (ApplyControlToken(context_.get().sspi(), &controlDesc) == SEC_E_OK) step(false);
    } catch (...) {
    }
}

// One call of the handshake: feeds it what arrived when `feed` (never at
// the start), sends the system's answer (an alert included) and keeps what
// the call did not use.
SECURITY_STATUS TlsChannel::step(bool feed) {
    const bool first = !context_;
    SecBuffer in[2] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    SspiHandle context = context_.get();
    unsigned long attributes = 0;
    const SECURITY_STATUS status = InitializeSecurityContextW(
        credentials_.get().sspi(), first ? nullptr : &context.value, hostName_.data(), contextRequest_, 0, 0,
        feed ? &inDesc : nullptr, 0, &context.value, &outDesc, &attributes, nullptr);
    const ContextBuffer token(out.pvBuffer);
    if (first && context != SspiHandle()) context_.reset(context);
    if (status == SEC_E_INCOMPLETE_MESSAGE || status == SEC_I_INCOMPLETE_CREDENTIALS) return status;
    if (feed) incoming_.erase(0, incoming_.size() - (in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0));
    if (token && out.cbBuffer > 0) {
        const std::string bytes(static_cast<const char*>(token.get()), out.cbBuffer);
        closing_ ? connection_.sendRawAtOnce(bytes) : connection_.sendRaw(bytes, 0);
    }
    return status;
}

void TlsChannel::negotiate(SECURITY_STATUS status, Clock::time_point deadline) {
    for (;;) {
        if (Clock::now() >= deadline)
            throw apiError(static_cast<unsigned long>(WSAETIMEDOUT),
                           L"The TLS handshake with " + hostName_ + L" took too long");
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !(contextRequest_ & ISC_REQ_USE_SUPPLIED_CREDS)) {
            // The server asks for a client certificate; go on without one.
            contextRequest_ |= ISC_REQ_USE_SUPPLIED_CREDS;
        } else if (status == SEC_E_INCOMPLETE_MESSAGE || (status == SEC_I_CONTINUE_NEEDED && incoming_.empty())) {
            const std::string arrived = connection_.receiveRaw(deadline);
            if (arrived.empty())
                throw ClosedDuringHandshake(apiError(WSAEDISCON, L"The server " + hostName_ +
                                                                     L" closed the connection during the TLS handshake"));
            incoming_ += arrived;
            // The system's TLS would take text for the start of a record and wait for the rest of it.
            if (!startsWithTlsRecord(incoming_))
                throw PlainTextAnswer(apiError(static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE),
                                               L"The server " + hostName_ + L" answered in plain text, not TLS: \"" +
                                                   firstLine(incoming_) + L"\""));
        } else if (status != SEC_I_CONTINUE_NEEDED) {
            break;
        }
        status = step(true);
    }
    if (status != SEC_E_OK)
        throw apiError(static_cast<unsigned long>(status), L"The TLS handshake with " + hostName_ + L" failed");
}

void TlsChannel::checkProtocolVersion() const {
    SecPkgContext_ConnectionInfo info{};
    const SECURITY_STATUS status = QueryContextAttributesW(context_.get().sspi(),
                                                           SECPKG_ATTR_CONNECTION_INFO, &info);
    if (status != SEC_E_OK) throw apiError(static_cast<unsigned long>(status), L"TLS with " + hostName_ + L" failed");
    // Older systems agree to what the server offers; the component does not.
    if (!(info.dwProtocol & kAcceptedProtocols))
        throw apiError(static_cast<unsigned long>(SEC_E_ALGORITHM_MISMATCH),
                       L"The server " + hostName_ + L" offers only " + protocolName(info.dwProtocol) +
                           L", an old version of TLS that is no longer safe; TLS 1.2 or later is needed");
}

void TlsChannel::send(std::string_view plaintext) {
    std::string wire;
    std::size_t offset = 0, carried = 0;
    while (offset < plaintext.size()) {
        const std::size_t chunk = std::min<std::size_t>(plaintext.size() - offset, sizes_.cbMaximumMessage);
        const std::size_t start = wire.size();
        wire.resize(start + sizes_.cbHeader + chunk + sizes_.cbTrailer);
        char* record = wire.data() + start;
        std::memcpy(record + sizes_.cbHeader, plaintext.data() + offset, chunk);
        SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record},
                                {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record + sizes_.cbHeader},
                                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes_.cbHeader + chunk},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(context_.get().sspi(), 0, &desc, 0);
        if (status != SEC_E_OK)
            throw apiError(static_cast<unsigned long>(status), L"Encrypting for " + hostName_ + L" failed");
        wire.resize(start + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        offset += chunk;
        carried += chunk;
        if (wire.size() >= kSendBatch || offset == plaintext.size()) {
            connection_.sendRaw(wire, carried);
            wire.clear();
            carried = 0;
        }
    }
}

std::string TlsChannel::receive(Clock::time_point deadline) {
    for (;;) {
        if (!incoming_.empty()) {
            SecBuffer buffers[4] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = DecryptMessage(context_.get().sspi(), &desc, 0, nullptr);
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
                    throw apiError(static_cast<unsigned long>(status),
                                   L"Decrypting what " + hostName_ + L" sent failed");
                std::string plaintext, extra;
                for (const SecBuffer& buffer : buffers) {
                    if (buffer.BufferType == SECBUFFER_DATA)
                        plaintext.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                    if (buffer.BufferType == SECBUFFER_EXTRA)
                        extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                }
                incoming_ = std::move(extra);
                if (status == SEC_I_CONTEXT_EXPIRED) return {};  // the server ended TLS
                // TLS 1.3 sends handshake messages after the handshake (new
                // session tickets, key updates): the system takes them here.
                if (status == SEC_I_RENEGOTIATE) {
                    negotiate(step(true), deadline);
                    checkNegotiated();
                }
                if (!plaintext.empty()) return plaintext;
                // Records that carry no text (empty ones, tickets) count against the time too.
                if (Clock::now() >= deadline)
                    throw apiError(static_cast<unsigned long>(WSAETIMEDOUT), L"The server did not answer in time");
                continue;
            }
        }
        const std::string arrived = connection_.receiveRaw(deadline);
        if (arrived.empty()) return {};
        incoming_ += arrived;
    }
}

}  // namespace kt
