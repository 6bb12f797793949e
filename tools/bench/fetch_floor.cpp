// The floor under fetching a page's pictures, for ./scripts/bench: a bare
// WinHTTP client that gets the same files over as many connections at once
// as the component opens, through the same kind of session, with none of its
// checks (no address rules, no redirects by hand, no limits).
//
//   fetch_floor <connections> <address>...
//
// Prints "FETCHED <count> in <milliseconds> ms", from the first request to
// the last byte, after one fetch of the first file outside the clock (what a
// process loads once, such as the system's roots for https, is not counted:
// the component's process has them from its first page); exit code 0, or 1
// when any fetch failed.

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using Handle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;

bool fetch(HINTERNET session, const std::wstring& address) {
    URL_COMPONENTS parts{sizeof parts};
    wchar_t host[256] = L"", path[2048] = L"";
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(address.c_str(), 0, 0, &parts)) return false;
    const Handle connection(WinHttpConnect(session, host, parts.nPort, 0), &WinHttpCloseHandle);
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    const Handle request(connection ? WinHttpOpenRequest(connection.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                         WINHTTP_DEFAULT_ACCEPT_TYPES, secure)
                                    : nullptr,
                         &WinHttpCloseHandle);
    DWORD status = 0, size = sizeof status;
    bool fetched = request &&
                   WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                   WinHttpReceiveResponse(request.get(), nullptr) &&
                   WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
                   status == 200;
    std::string body;
    for (char buffer[16384]; fetched;) {
        DWORD read = 0;
        fetched = WinHttpReadData(request.get(), buffer, sizeof buffer, &read);
        if (read == 0) break;
        body.append(buffer, read);
    }
    return fetched && !body.empty();
}

// What the connections share: each takes the next address in turn.
struct Work {
    HINTERNET session;
    const std::vector<std::wstring>& addresses;
    std::atomic<std::size_t> next{0}, failed{0};
};

DWORD WINAPI fetchInTurn(void* context) {
    auto& work = *static_cast<Work*>(context);
    for (std::size_t n; (n = work.next++) < work.addresses.size();)
        if (!fetch(work.session, work.addresses[n])) ++work.failed;
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: fetch_floor <connections> <address>...\n");
        return 2;
    }
    const std::vector<std::wstring> addresses(argv + 2, argv + argc);
    // The same kind of session as the component's: the user's proxy settings, else the machine's.
    Handle session(WinHttpOpen(L"fetch_floor", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0),
                   &WinHttpCloseHandle);
    if (!session)
        session.reset(WinHttpOpen(L"fetch_floor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0));
    if (!fetch(session.get(), addresses.front())) return 1;
    Work work{session.get(), addresses};
    const auto start = std::chrono::steady_clock::now();
    std::vector<Handle> threads;
    std::vector<HANDLE> waited;
    for (int i = 0; i < _wtoi(argv[1]); ++i) {
        threads.emplace_back(CreateThread(nullptr, 0, &fetchInTurn, &work, 0, nullptr), &CloseHandle);
        waited.push_back(threads.back().get());
    }
    WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), TRUE, INFINITE);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("FETCHED %zu in %.1f ms\n", addresses.size() - work.failed, took.count());
    return work.failed ? 1 : 0;
}
