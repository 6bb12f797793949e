#include "foundation/module.h"

#include <atomic>
#include <vector>

namespace kt {
namespace {

// The one process-wide count a COM server needs for DllCanUnloadNow.
std::atomic<long> g_moduleLocks{0};

}  // namespace

HMODULE thisModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

std::wstring thisModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(thisModule(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring thisModuleDirectory() {
    const std::wstring path = thisModulePath();
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring thisModuleBaseName() {
    const std::wstring path = thisModulePath();
    const auto separator = path.find_last_of(L"\\/");
    std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

ModuleLock::ModuleLock() noexcept { ++g_moduleLocks; }
ModuleLock::ModuleLock(const ModuleLock&) noexcept { ++g_moduleLocks; }
ModuleLock::~ModuleLock() { --g_moduleLocks; }
void ModuleLock::lockServer(bool lock) noexcept {
    if (lock)
        ++g_moduleLocks;
    else
        --g_moduleLocks;
}
long ModuleLock::count() noexcept { return g_moduleLocks.load(); }

}  // namespace kt
