#include "support/windows_test.h"

#include <cstdlib>

namespace kt::test {

MessageBoxRecorder::MessageBoxRecorder()
    : responder_([this](const MessageBoxRequest& request) {
          shown.push_back(request);
          if (answers.empty()) return IDOK;
          const int answer = answers.front();
          answers.pop_front();
          return answer;
      }) {}

std::wstring componentDllPath() {
    const char* configured = std::getenv("KT_EMAILER_DLL");
    std::string path = configured ? configured : "KT_EMailer.dll";
    // Under Wine the build passes a Unix path; drive Z: is the Unix root.
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::wstring result(path.begin(), path.end());
    for (auto& c : result)
        if (c == L'/') c = L'\\';
    return result;
}

namespace {

struct WindowSearch {
    std::wstring caption;
    std::vector<HWND> found;
};

BOOL CALLBACK collectByCaption(HWND hwnd, LPARAM state) {
    auto* search = reinterpret_cast<WindowSearch*>(state);
    if (windowText(hwnd) == search->caption) search->found.push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> threadWindows(const std::wstring& caption) {
    WindowSearch search{caption, {}};
    EnumThreadWindows(GetCurrentThreadId(), &collectByCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND findThreadWindow(const std::wstring& caption) {
    const auto found = threadWindows(caption);
    return found.empty() ? nullptr : found.front();
}

std::wstring windowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace kt::test
