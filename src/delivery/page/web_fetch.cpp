#include "delivery/page/web_fetch.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "delivery/sockets/socket_transport.h"
#include "foundation/unique_handle.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

using UniqueInternet = UniqueHandle<HandleTraits<HINTERNET, &WinHttpCloseHandle>>;

constexpr int kMostRedirects = 5;
constexpr const wchar_t* kAgent = L"KT_EMailer";
constexpr std::chrono::milliseconds kConnectBeforeTheNext{2000};

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

// A host's addresses, and the reach of the nearest of them; none when it cannot be looked up.
struct LookedUp {
    std::vector<ResolvedAddress> addresses;
    NetworkReach nearest = NetworkReach::Public;
};

// A host as lookups and WinHTTP take it: an IPv6 address without its brackets.
std::string bareHost(const WebAddress& address) {
    const std::string& host = address.host;
    return host.size() > 2 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
}

std::optional<LookedUp> lookUp(const WebAddress& address, const AddressLookup& lookup) {
    LookedUp found;
    try {
        found.addresses = interleavedByFamily(lookup(bareHost(address), 80));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (found.addresses.empty()) return std::nullopt;
    for (const auto& one : found.addresses) {
        const auto reach = reachOf(one);
        if (!reach) found.nearest = NetworkReach::Local;  // a kind of address nobody ranked: the strictest
        else if (static_cast<int>(*reach) > static_cast<int>(found.nearest)) found.nearest = *reach;
    }
    return found;
}

// An address as WinHTTP takes a server's: IPv4 dotted, IPv6 bare.
std::wstring literalOf(const ResolvedAddress& address) {
    wchar_t text[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    sockaddr_in ip4;
    sockaddr_in6 ip6;
    if (address.family == AF_INET && address.socketAddress.size() >= sizeof ip4) {
        std::memcpy(&ip4, address.socketAddress.data(), sizeof ip4);
        raw = &ip4.sin_addr;
    } else if (address.family == AF_INET6 && address.socketAddress.size() >= sizeof ip6) {
        std::memcpy(&ip6, address.socketAddress.data(), sizeof ip6);
        raw = &ip6.sin6_addr;
    }
    if (!raw || !InetNtopW(address.family, const_cast<void*>(raw), text, INET6_ADDRSTRLEN)) return {};
    return text;
}

using GlobalText = UniqueHandle<HandleTraits<LPWSTR, &GlobalFree>>;

// Whether the user's or the machine's settings could send a request through
// a proxy: a static one, a configuration script, or one that detection finds
// (by DHCP or the name service); settings that cannot be read count as one.
bool proxyMayBeUsed() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user)) return true;
    const GlobalText script(user.lpszAutoConfigUrl), proxy(user.lpszProxy), bypass(user.lpszProxyBypass);
    if (script || (proxy && *proxy.get())) return true;
    LPWSTR detectedScript = nullptr;
    if (user.fAutoDetect &&
        WinHttpDetectAutoProxyConfigUrl(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A,
                                        &detectedScript)) {
        const GlobalText detected(detectedScript);
        return true;
    }
    WINHTTP_PROXY_INFO machine{};
    if (WinHttpGetDefaultProxyConfiguration(&machine)) {
        const GlobalText machineProxy(machine.lpszProxy), machineBypass(machine.lpszProxyBypass);
        if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && machineProxy && *machineProxy.get())
            return true;
    }
    return false;
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

// The reach of the network a page lives on: its host's; a page with no
// address, or one that cannot be looked up, counts as public.
NetworkReach reachOfPage(const std::optional<WebAddress>& pageAddress, const AddressLookup& lookup) {
    if (!pageAddress || !pageAddress->hasHost()) return NetworkReach::Public;
    const auto found = lookUp(*pageAddress, lookup);
    return found ? found->nearest : NetworkReach::Public;
}

}  // namespace

struct WebFetch::Session {
    std::optional<WebAddress> pageAddress;
    AddressLookup lookup;
    std::once_flag pageLookedUp, proxyAsked;
    NetworkReach pageReach = NetworkReach::Public;
    UniqueInternet byName = systemProxySession();
    bool direct = false;       // no proxy may be used
    UniqueInternet byAddress;  // for plain http then

    // At the first fetch, before any other: the work of lookups is left to
    // the threads that fetch.
    NetworkReach reachOfThePage() {
        std::call_once(pageLookedUp, [this] { pageReach = reachOfPage(pageAddress, lookup); });
        return pageReach;
    }

    // The session a fetch of `at` goes through, and whether it goes to the
    // checked addresses: plain http does where no proxy may be used (asked
    // once, and only for plain http); https goes by name whichever way.
    std::pair<HINTERNET, bool> sessionFor(const WebAddress& at) {
        if (at.scheme != "http") return {byName.get(), false};
        std::call_once(proxyAsked, [this] {
            direct = !proxyMayBeUsed();
            if (direct)
                byAddress.reset(WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS, 0));
        });
        return direct ? std::pair{byAddress.get(), true} : std::pair{byName.get(), false};
    }

    // The user's own proxy settings where the system offers them, else the machine's.
    static UniqueInternet systemProxySession() {
        UniqueInternet session(WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                           WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session)
            session.reset(WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
        return session;
    }
};

namespace {

// One request's outcome: a body, a redirect's target, or nothing; `unreached`
// when the request could not be made or sent (a GET, safe to try elsewhere).
struct Answer {
    std::optional<std::string> body;
    std::wstring redirect;
    bool unreached = false;
};

// GET `at` from `server` (its host's name, or one of its checked addresses
// with the name kept in the Host header), connected within `connectMs` and
// answered within `timeoutMs`, the body at most `limit` bytes by `deadline`.
Answer ask(HINTERNET session, const WebAddress& at, const std::wstring& server, bool byAddress, DWORD connectMs,
           DWORD timeoutMs, std::size_t limit, std::chrono::steady_clock::time_point deadline) {
    const bool secure = at.scheme == "https";
    const INTERNET_PORT port =
        at.port.empty() ? (secure ? 443 : 80) : static_cast<INTERNET_PORT>(std::strtoul(at.port.c_str(), nullptr, 10));
    const UniqueInternet connection(WinHttpConnect(session, server.c_str(), port, 0));
    if (!connection) return {{}, {}, true};
    const std::wstring target = fromUtf8(at.path + at.query);
    const UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    secure ? WINHTTP_FLAG_SECURE : 0));
    DWORD neverRedirect = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    DWORD noCookies = WINHTTP_DISABLE_COOKIES;
    DWORD noWindowsSignIn = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    const std::wstring host = L"Host: " + fromUtf8(at.host) + (at.port.empty() ? L"" : L":" + fromUtf8(at.port));
    // The wait for the answer's head has a time-out of its own.
    if (!request || !WinHttpSetTimeouts(request.get(), timeoutMs, connectMs, timeoutMs, timeoutMs) ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeoutMs, sizeof timeoutMs) ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &neverRedirect, sizeof neverRedirect) ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof noCookies) ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &noWindowsSignIn, sizeof noWindowsSignIn))
        return {};
    if (byAddress && !WinHttpAddRequestHeaders(request.get(), host.c_str(), static_cast<DWORD>(host.size()),
                                               WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
        return {};
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return {{}, {}, true};
    if (!WinHttpReceiveResponse(request.get(), nullptr)) return {};
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return {};
    if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308)
        return {{}, headerValue(request.get(), WINHTTP_QUERY_LOCATION)};
    if (status != 200) return {};
    std::string body;
    for (;;) {
        char buffer[16384];
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) return {};
        if (read == 0) return {std::move(body)};
        if (body.size() + read > limit || std::chrono::steady_clock::now() > deadline) return {};
        body.append(buffer, read);
    }
}

}  // namespace

WebFetch::WebFetch(std::optional<WebAddress> pageAddress, AddressLookup lookup)
    : session_(std::make_unique<Session>()) {
    session_->pageAddress = std::move(pageAddress);
    session_->lookup = std::move(lookup);
}

WebFetch::~WebFetch() = default;

std::optional<std::string> WebFetch::get(const std::string& address, std::size_t limit,
                                         std::chrono::milliseconds time) const {
    const auto deadline = std::chrono::steady_clock::now() + time;
    std::optional<WebAddress> at = resolveWebAddress(fromUtf8(address));
    for (int redirects = 0; at && redirects <= kMostRedirects; ++redirects) {
        if (!at->isWeb() || !at->userInfo.empty()) return std::nullopt;
        const auto found = lookUp(*at, session_->lookup);
        if (!found || !mayFetch(session_->reachOfThePage(), found->nearest)) return std::nullopt;
        // Plain http with no proxy goes to the addresses just checked, so that
        // a second lookup cannot be answered otherwise (DNS rebinding); https
        // goes by name, held to it by the certificate.
        const auto [session, byAddress] = session_->sessionFor(*at);
        if (!session) return std::nullopt;
        std::vector<std::wstring> servers;
        if (byAddress) {
            for (const auto& one : found->addresses)
                if (auto literal = literalOf(one); !literal.empty()) servers.push_back(std::move(literal));
        } else {
            servers.push_back(fromUtf8(bareHost(*at)));
        }
        Answer answer;
        for (std::size_t i = 0; i < servers.size(); ++i) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            // An address that does not take the connection soon leaves time for the next.
            const auto connect = i + 1 < servers.size() ? std::min(left, kConnectBeforeTheNext) : left;
            answer = ask(session, *at, servers[i], byAddress, static_cast<DWORD>(connect.count()),
                         static_cast<DWORD>(left.count()), limit, deadline);
            if (!answer.unreached) break;
        }
        if (answer.body) return answer.body;
        if (answer.redirect.empty()) return std::nullopt;
        at = resolveWebAddress(answer.redirect, &*at);
    }
    return std::nullopt;
}

}  // namespace kt
