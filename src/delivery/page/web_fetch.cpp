#include "delivery/page/web_fetch.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "delivery/sockets/socket_transport.h"
#include "foundation/unique_handle.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

using UniqueInternet = UniqueHandle<HandleTraits<HINTERNET, &WinHttpCloseHandle>>;

constexpr int kMostRedirects = 5;

std::optional<NetworkReach> reachOf(const ResolvedAddress& address) {
    if (address.family == AF_INET && address.socketAddress.size() >= sizeof(sockaddr_in)) {
        sockaddr_in ip;
        std::memcpy(&ip, address.socketAddress.data(), sizeof ip);
        std::array<std::uint8_t, 4> bytes;
        std::memcpy(bytes.data(), &ip.sin_addr, 4);
        return kt::reachOf(bytes);
    }
    if (address.family == AF_INET6 && address.socketAddress.size() >= sizeof(sockaddr_in6)) {
        sockaddr_in6 ip;
        std::memcpy(&ip, address.socketAddress.data(), sizeof ip);
        std::array<std::uint8_t, 16> bytes;
        std::memcpy(bytes.data(), &ip.sin6_addr, 16);
        return kt::reachOf(bytes);
    }
    return std::nullopt;
}

// The reach of each of a host's addresses, the nearest first; none when it cannot be looked up.
std::optional<NetworkReach> nearestReachOf(const WebAddress& address) {
    std::string host = address.host;
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    std::vector<ResolvedAddress> found;
    try {
        found = systemLookup(host, 80);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::optional<NetworkReach> nearest;
    for (const auto& one : found) {
        const auto reach = reachOf(one);
        if (!reach) return NetworkReach::Local;  // a kind of address nobody ranked: the strictest
        if (!nearest || static_cast<int>(*reach) > static_cast<int>(*nearest)) nearest = reach;
    }
    return nearest;
}

std::wstring headerValue(HINTERNET request, DWORD header) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    value.resize(size / sizeof(wchar_t));
    return value;
}

}  // namespace

NetworkReach reachOfPage(const std::optional<WebAddress>& pageAddress) {
    if (!pageAddress || !pageAddress->hasHost()) return NetworkReach::Public;
    return nearestReachOf(*pageAddress).value_or(NetworkReach::Public);
}

struct WebFetch::Session {
    UniqueInternet handle;
    std::optional<WebAddress> pageAddress;
    std::once_flag lookedUp;
    NetworkReach pageReach = NetworkReach::Public;

    NetworkReach reachOfThePage() {
        std::call_once(lookedUp, [this] { pageReach = reachOfPage(pageAddress); });
        return pageReach;
    }
};

WebFetch::WebFetch(std::optional<WebAddress> pageAddress) : session_(std::make_unique<Session>()) {
    session_->pageAddress = std::move(pageAddress);
    // The user's own proxy settings where the system offers them, else the machine's.
    session_->handle.reset(WinHttpOpen(L"KT_EMailer", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_->handle)
        session_->handle.reset(WinHttpOpen(L"KT_EMailer", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                           WINHTTP_NO_PROXY_BYPASS, 0));
}

WebFetch::~WebFetch() = default;

std::optional<std::string> WebFetch::get(const std::string& address, std::size_t limit,
                                         std::chrono::milliseconds time) const {
    if (!session_->handle) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + time;
    std::optional<WebAddress> at = resolveWebAddress(fromUtf8(address));
    for (int redirects = 0; at && redirects <= kMostRedirects; ++redirects) {
        if (!at->isWeb() || !at->userInfo.empty()) return std::nullopt;
        const auto reach = nearestReachOf(*at);
        if (!reach || !mayFetch(session_->reachOfThePage(), *reach)) return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        DWORD timeoutMs = static_cast<DWORD>(left.count());

        std::string host = at->host;
        if (host.front() == '[') host = host.substr(1, host.size() - 2);
        const bool secure = at->scheme == "https";
        const INTERNET_PORT port =
            at->port.empty() ? (secure ? 443 : 80) : static_cast<INTERNET_PORT>(std::strtoul(at->port.c_str(), nullptr, 10));
        const UniqueInternet connection(WinHttpConnect(session_->handle.get(), fromUtf8(host).c_str(), port, 0));
        if (!connection) return std::nullopt;
        const std::wstring target = fromUtf8(at->path + at->query);
        const UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                        secure ? WINHTTP_FLAG_SECURE : 0));
        DWORD neverRedirect = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        DWORD noCookies = WINHTTP_DISABLE_COOKIES;
        DWORD noWindowsSignIn = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
        // The wait for the answer's head has a time-out of its own.
        if (!request || !WinHttpSetTimeouts(request.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs) ||
            !WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeoutMs, sizeof timeoutMs) ||
            !WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &neverRedirect, sizeof neverRedirect) ||
            !WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof noCookies) ||
            !WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &noWindowsSignIn, sizeof noWindowsSignIn))
            return std::nullopt;
        if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(request.get(), nullptr))
            return std::nullopt;
        DWORD status = 0, size = sizeof status;
        if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            return std::nullopt;
        if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
            const std::wstring location = headerValue(request.get(), WINHTTP_QUERY_LOCATION);
            at = location.empty() ? std::nullopt : resolveWebAddress(location, &*at);
            continue;
        }
        if (status != 200) return std::nullopt;
        std::string body;
        for (;;) {
            char buffer[16384];
            DWORD read = 0;
            if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) return std::nullopt;
            if (read == 0) return body;
            if (body.size() + read > limit || std::chrono::steady_clock::now() > deadline) return std::nullopt;
            body.append(buffer, read);
        }
    }
    return std::nullopt;
}

}  // namespace kt
