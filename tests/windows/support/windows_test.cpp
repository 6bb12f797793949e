#include "support/windows_test.h"


namespace kt::test {

MessageBoxRecorder::MessageBoxRecorder()
    : responder_([this](const MessageBoxRequest& request) {
          shown.push_back(request);
          if (answers.empty()) return IDOK;
          const int answer = answers.front();
          answers.pop_front();
          return answer;
      }) {}

std::wstring windowsPathOf(const std::string& buildPath) {
    // A cross build names Unix paths; under Wine drive Z: is the Unix root.
    const std::string path = !buildPath.empty() && buildPath[0] == '/' ? "Z:" + buildPath : buildPath;
    std::wstring result(path.begin(), path.end());
    for (auto& c : result)
        if (c == L'/') c = L'\\';
    return result;
}

std::wstring componentDllPath() { return windowsPathOf(KT_EMAILER_DLL); }

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

namespace kt::test {

ScratchRegistryKey::ScratchRegistryKey()
    : path_(L"Software\\KT_EMailer Tests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount())) {
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

ScratchRegistryKey::~ScratchRegistryKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
}

void ScratchRegistryKey::setRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
    RegSetKeyValueW(HKEY_CURRENT_USER, path_.c_str(), name.c_str(), type, data, size);
}

void ScratchRegistryKey::setString(const std::wstring& name, const std::string& ansiText, DWORD type) const {
    UniqueRegKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    const std::string narrowName(name.begin(), name.end());
    RegSetValueExA(key.get(), narrowName.c_str(), 0, type, reinterpret_cast<const BYTE*>(ansiText.c_str()),
                   static_cast<DWORD>(ansiText.size() + 1));
}

DWORD ScratchRegistryKey::typeOf(const std::wstring& name) const {
    DWORD type = REG_NONE;
    if (RegGetValueW(HKEY_CURRENT_USER, path_.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr,
                     nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

std::string ScratchRegistryKey::stringOf(const std::wstring& name) const {
    char data[4096] = {};
    DWORD size = sizeof data;
    const std::string narrowPath(path_.begin(), path_.end());
    const std::string narrowName(name.begin(), name.end());
    if (RegGetValueA(HKEY_CURRENT_USER, narrowPath.c_str(), narrowName.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return data;
}

}  // namespace kt::test
