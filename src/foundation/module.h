#pragma once
// The module that holds the component's code (KT_EMailer.dll, or a test
// program linked with the same code), and the count of reasons it must stay
// loaded.

#include <windows.h>

#include <functional>
#include <string>

namespace kt {

HMODULE thisModule() noexcept;
std::wstring thisModulePath();
// Folder of the module file, without a trailing separator.
std::wstring thisModuleDirectory();
// File name of the module without its extension.
std::wstring thisModuleBaseName();

// Keeps the module loaded while it lives: held by every COM object, every
// class-factory lock and every open window, because their code is ours.
class ModuleLock {
public:
    ModuleLock() noexcept;
    ModuleLock(const ModuleLock&) noexcept;
    ModuleLock& operator=(const ModuleLock&) = default;
    ~ModuleLock();

    // IClassFactory::LockServer's count, which COM raises and lowers by call.
    static void lockServer(bool lock) noexcept;
    static long count() noexcept;
};

// Runs `work` on a thread of its own that holds a reference to the module
// until its last instruction: whoever waits for the work may stop waiting
// and go, and the module with them, while it runs on. `work` keeps its own
// failures: one it lets escape ends there, not the process. Throws the
// system's error (see apiError for `doing`) when no thread starts.
void runOnThreadOfItsOwn(std::function<void()> work, const std::wstring& doing);

}  // namespace kt
