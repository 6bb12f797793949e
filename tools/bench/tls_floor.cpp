// The floor under delivery over STARTTLS, for ./scripts/bench: a bare
// Schannel client that sends a message over the same kind of connection as
// plainly as the system allows. The message is dot-stuffed before the clock
// starts; then one full TLS record at a time (the largest the stream takes),
// each written with one send. The certificate gets the checks no client may
// skip (its chain and the server's name), not the revocation check.
//
//   tls_floor <host> <port> <message file>
//
// Prints "SENT in <seconds> s", from the connection to the server's verdict
// on the message, or "FAILED <step>"; exit code 0 or 1.

#define SECURITY_WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void fail(const char* step) { throw std::runtime_error(step); }

class Session {
public:
    Session(const char* host, const char* port) : host_(host, host + std::strlen(host)) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, port, &hints, &found) != 0) fail("looking up the host");
        socket_ = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        const bool connected = connect(socket_, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
        freeaddrinfo(found);
        if (!connected) fail("connecting");
    }
    ~Session() {
        if (tls_) DeleteSecurityContext(&context_);
        FreeCredentialsHandle(&credentials_);
        closesocket(socket_);
    }

    // Reads one reply, its continuation lines included; returns its code.
    int reply() {
        for (;;) {
            std::size_t lineStart = 0;
            for (std::size_t end; (end = text_.find("\r\n", lineStart)) != std::string::npos; lineStart = end + 2) {
                if (end - lineStart >= 4 && text_[lineStart + 3] == ' ') {
                    const int code = std::atoi(text_.substr(lineStart, 3).c_str());
                    text_.erase(0, end + 2);
                    return code;
                }
            }
            tls_ ? decryptMore() : void(text_ += receive());
        }
    }

    void command(const std::string& line, int expected) {
        write(line + "\r\n");
        if (reply() != expected) fail(line.c_str());
    }

    void startTls() {
        command("STARTTLS", 220);
        SCHANNEL_CRED settings{};
        settings.dwVersion = SCHANNEL_CRED_VERSION;
        settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        if (AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                      &settings, nullptr, nullptr, &credentials_, nullptr) != SEC_E_OK)
            fail("acquiring TLS credentials");
        SECURITY_STATUS status = handshakeStep(false);
        while (status != SEC_E_OK) {
            if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) fail("the TLS handshake");
            if (status == SEC_E_INCOMPLETE_MESSAGE || incoming_.empty()) incoming_ += receive();
            status = handshakeStep(true);
        }
        checkCertificate();
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) fail("TLS sizes");
        record_.resize(sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer);
    }

    // Each full record encrypted in place and written with one send.
    void write(const std::string& plain) {
        if (!tls_) return sendAll(plain.data(), plain.size());
        for (std::size_t offset = 0; offset < plain.size();) {
            const std::size_t chunk = std::min<std::size_t>(plain.size() - offset, sizes_.cbMaximumMessage);
            char* header = record_.data();
            std::memcpy(header + sizes_.cbHeader, plain.data() + offset, chunk);
            SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, header},
                                    {static_cast<unsigned long>(chunk), SECBUFFER_DATA, header + sizes_.cbHeader},
                                    {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, header + sizes_.cbHeader + chunk},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
            if (EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK) fail("encrypting");
            sendAll(header, buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
            offset += chunk;
        }
    }

private:
    // What every client owes its user: a chain to a trusted root, and the
    // server's name on its certificate. The first chain in a process reads
    // the system's roots.
    void checkCertificate() {
        PCCERT_CONTEXT certificate = nullptr;
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK)
            fail("the server's certificate");
        CERT_CHAIN_PARA parameters{sizeof parameters};
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        const bool built = CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters,
                                                   0, nullptr, &chain);
        CertFreeCertificateContext(certificate);
        if (!built) fail("building the certificate's chain");
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = host_.data();
        CERT_CHAIN_POLICY_PARA policy{sizeof policy};
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{sizeof status};
        const bool checked = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
        CertFreeCertificateChain(chain);
        if (!checked || status.dwError != 0) fail("the server's certificate");
    }

    SECURITY_STATUS handshakeStep(bool feed) {
        SecBuffer in[2] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &out};
        unsigned long attributes = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &credentials_, tls_ ? &context_ : nullptr, host_.data(), kRequest, 0, 0, feed ? &inDescription : nullptr,
            0, &context_, &outDescription, &attributes, nullptr);
        tls_ = true;
        if (status == SEC_E_INCOMPLETE_MESSAGE) return status;
        if (feed) incoming_.erase(0, incoming_.size() - (in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0));
        if (out.pvBuffer) {
            sendAll(static_cast<const char*>(out.pvBuffer), out.cbBuffer);
            FreeContextBuffer(out.pvBuffer);
        }
        return status;
    }

    void decryptMore() {
        if (incoming_.empty()) incoming_ += receive();
        SecBuffer buffers[4] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            incoming_ += receive();
            return;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) fail("decrypting");
        std::string extra;
        for (const SecBuffer& buffer : buffers) {
            if (buffer.BufferType == SECBUFFER_DATA) text_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
            if (buffer.BufferType == SECBUFFER_EXTRA) extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
        }
        incoming_ = std::move(extra);
        // TLS 1.3's tickets after the handshake: the system takes them.
        if (status == SEC_I_RENEGOTIATE && handshakeStep(true) != SEC_E_OK) fail("a ticket after the handshake");
    }

    std::string receive() {
        char buffer[16384];
        const int got = recv(socket_, buffer, sizeof buffer, 0);
        if (got <= 0) fail("receiving");
        return std::string(buffer, static_cast<std::size_t>(got));
    }

    void sendAll(const char* bytes, std::size_t size) {
        while (size > 0) {
            const int sent = send(socket_, bytes, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
            if (sent <= 0) fail("sending");
            bytes += sent;
            size -= static_cast<std::size_t>(sent);
        }
    }

    static constexpr unsigned long kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                              ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                              ISC_REQ_MANUAL_CRED_VALIDATION;
    std::wstring host_;
    SOCKET socket_ = INVALID_SOCKET;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool tls_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::string incoming_, text_, record_;
};

// The message as DATA carries it: every line that starts with a dot gets another, then the end.
std::string dataOf(const std::string& message) {
    std::string data;
    data.reserve(message.size() + message.size() / 64 + 8);
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '.' && (i == 0 || message[i - 1] == '\n')) data += '.';
        data += message[i];
    }
    if (data.size() < 2 || data.compare(data.size() - 2, 2, "\r\n") != 0) data += "\r\n";
    return data + ".\r\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tls_floor <host> <port> <message file>\n");
        return 2;
    }
    std::ifstream file(argv[3], std::ios::binary);
    const std::string data = dataOf(std::string(std::istreambuf_iterator<char>(file), {}));
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    try {
        const auto start = std::chrono::steady_clock::now();
        {
            Session session(argv[1], argv[2]);
            if (session.reply() != 220) fail("the greeting");
            session.command("EHLO floor.example", 250);
            session.startTls();
            session.command("EHLO floor.example", 250);
            session.command("MAIL FROM:<me@example.com>", 250);
            session.command("RCPT TO:<you@example.com>", 250);
            session.command("DATA", 354);
            session.write(data);
            if (session.reply() != 250) fail("the message");
            session.write("QUIT\r\n");
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("SENT in %g s\n", took.count());
        return 0;
    } catch (const std::exception& failure) {
        std::printf("FAILED %s\n", failure.what());
        return 1;
    }
}
