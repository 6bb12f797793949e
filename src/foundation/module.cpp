#include "foundation/module.h"

#include <atomic>
#include <memory>
#include <vector>

#include "foundation/api_error.h"
#include "foundation/handles.h"

namespace kt {
namespace {

// The one process-wide count a COM server needs for DllCanUnloadNow.
std::atomic<long> g_moduleLocks{0};

struct ThreadWork {
    std::function<void()> work;
    HMODULE module = nullptr;  // the thread's own reference
};

DWORD WINAPI runThreadWork(void* parameter) {
    HMODULE module = nullptr;
    {
        const std::unique_ptr<ThreadWork> held(static_cast<ThreadWork*>(parameter));
        module = held->module;
        try {
            held->work();
        } catch (...) {
        }
    }
    // The code that runs here is the module's: it goes only after this thread.
    FreeLibraryAndExitThread(module, 0);
}

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

void runOnThreadOfItsOwn(std::function<void()> work, const std::wstring& doing) {
    auto parameter = std::make_unique<ThreadWork>();
    parameter->work = std::move(work);
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&runThreadWork),
                            &parameter->module))
        throw apiError(GetLastError(), doing);
    const UniqueKernelHandle thread(CreateThread(nullptr, 0, runThreadWork, parameter.get(), 0, nullptr));
    if (!thread) {
        const DWORD error = GetLastError();
        FreeLibrary(parameter->module);
        throw apiError(error, doing);
    }
    parameter.release();  // the thread's now
}

}  // namespace kt
