#include "delivery/oauth/token_endpoint.h"

#include <windows.h>
#include <winhttp.h>

#include "delivery/mail_error.h"
#include "foundation/utf8.h"
#include "delivery/sockets/certificate_revocation.h"
#include "delivery/sockets/delivery_progress.h"
#include "foundation/background_work.h"
#include "foundation/unique_handle.h"

namespace kt {
namespace {

using UniqueInternet = UniqueHandle<HandleTraits<HINTERNET, &WinHttpCloseHandle>>;
using UniqueCertificate = UniqueHandle<HandleTraits<PCCERT_CONTEXT, &CertFreeCertificateContext>>;

constexpr DWORD kLongestAnswer = 1 << 20;

// What the request thread brings back: an HTTP answer, or the failed call's code.
struct Outcome {
    DWORD failure = 0;
    DWORD status = 0;
    SecretText body;  // the provider's answer, tokens included
    std::wstring hostName;
};

void post(const std::wstring& url, const SecretText& form, DWORD timeoutMs, Outcome& outcome) {
    URL_COMPONENTS parts{sizeof parts};
    wchar_t host[256] = {}, path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    parts.dwExtraInfoLength = 1;  // the query goes with the path
    const auto fail = [&] { outcome.failure = GetLastError(); };
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return fail();
    outcome.hostName.assign(host, parts.dwHostNameLength);
    const std::wstring target = std::wstring(path, parts.dwUrlPathLength) +
                                (parts.lpszExtraInfo ? std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength) : L"");
    // The user's own proxy settings where the system offers them, else the machine's.
    UniqueInternet session(WinHttpOpen(L"KT_EMailer", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        session.reset(WinHttpOpen(L"KT_EMailer", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session || !WinHttpSetTimeouts(session.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs)) return fail();
    const UniqueInternet connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    if (!connection) return fail();
    const UniqueInternet request(WinHttpOpenRequest(connection.get(), L"POST", target.c_str(), nullptr,
                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    // The wait for the answer's head has a time-out of its own; a redirect
    // would carry the form, tokens and all, to wherever it points.
    DWORD neverRedirect = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!request ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeoutMs, sizeof timeoutMs) ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &neverRedirect, sizeof neverRedirect))
        return fail();
    // WinHTTP's own revocation check stays off: some systems report a revoked
    // certificate and an issuer out of reach alike, and then remember the
    // revoked one as good. The head goes with the connection; the form, with
    // its grant, once the certificate is checked here as every server's is.
    const wchar_t* headers = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    const DWORD length = static_cast<DWORD>(form.size());
    if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L), nullptr, 0, length, 0)) return fail();
    UniqueCertificate certificate;
    DWORD certificateSize = sizeof(PCCERT_CONTEXT);
    DWORD written = 0;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        if (!WinHttpQueryOption(request.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, certificate.put(), &certificateSize))
            return fail();
        checkCertificateRevocation(certificate.get(), outcome.hostName, untilQuit());
    }
    if (!WinHttpWriteData(request.get(), form.data(), length, &written) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return fail();
    DWORD size = sizeof outcome.status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &outcome.status, &size, WINHTTP_NO_HEADER_INDEX))
        return fail();
    for (;;) {
        char buffer[8192];
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) return fail();
        if (read == 0) break;
        if (outcome.body.size() + read > kLongestAnswer) {
            outcome.failure = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
            break;
        }
        outcome.body.append(buffer, read);
        SecureZeroMemory(buffer, sizeof buffer);
    }
}

// The failure of a request in words; the system's code is shown, as the
// system may have no text for it.
ComponentError requestFailure(DWORD code, const std::wstring& host) {
    const std::wstring endpoint = L"The provider's token endpoint " + host;
    std::wstring what;
    switch (code) {
        case ERROR_WINHTTP_CANNOT_CONNECT:
        case ERROR_WINHTTP_CONNECTION_ERROR:
            what = endpoint + L" could not be reached";
            break;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            what = endpoint + L" could not be found";
            break;
        case ERROR_WINHTTP_TIMEOUT:
        case WSAETIMEDOUT:  // as some systems report the wait for the answer
            what = endpoint + L" did not answer in time";
            break;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        case ERROR_WINHTTP_SECURE_FAILURE:
            what = L"The secure connection to the provider's token endpoint " + host +
                   L" failed (its certificate may not be trusted)";
            break;
        default:
            what = L"The request to the provider's token endpoint " + host + L" failed";
    }
    return mailError(MailFailure::SignInFailed, what + L" (" + std::to_wstring(code) + L"); nothing was sent.");
}

}  // namespace

TokenAnswer requestTokens(const std::string& tokenEndpoint, const SecretText& form, std::chrono::milliseconds deadline,
                          const StopSignal& stop) {
    const std::wstring url = fromUtf8(tokenEndpoint);
    const std::wstring host = url.substr(0, url.find(L'/', url.find(L"//") + 2));
    // WinHTTP's own time-outs bound every step, so a request given up ends on its own.
    const BackgroundWork<Outcome> request(
        [url, form, timeout = static_cast<DWORD>(deadline.count())] {
            Outcome outcome;
            post(url, form, timeout, outcome);
            return outcome;
        },
        L"Asking the provider's token endpoint " + host + L" failed");
    switch (request.wait(std::chrono::steady_clock::now() + deadline, &stop)) {
        case WaitEnd::Stopped:
            throw DeliveryStopped();
        case WaitEnd::TimedOut:
            throw requestFailure(ERROR_WINHTTP_TIMEOUT, host);
        case WaitEnd::Signalled:
            break;
    }
    const Outcome* outcome = nullptr;
    try {
        outcome = &request.result();
    } catch (const ComponentError& refusal) {  // the certificate's, in words of its own
        throw mailError(MailFailure::SignInFailed, refusal.description());
    }
    if (outcome->failure) throw requestFailure(outcome->failure, host);
    if (outcome->status == 200) return parseTokenResponse(outcome->body);
    // A refusal (invalid_grant, ...) is JSON with an error, sent with a status of its own.
    try {
        TokenAnswer refusal = parseTokenResponse(outcome->body);
        if (!refusal.error.empty()) return refusal;
    } catch (const ComponentError&) {
    }
    throw mailError(MailFailure::SignInFailed, L"The provider's token endpoint " + host + L" answered with HTTP " +
                                                   std::to_wstring(outcome->status) + L"; nothing was sent.");
}

}  // namespace kt
