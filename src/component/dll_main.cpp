// Entry points of KT_EMailer.dll. KT_EMailer.def exports them under the names
// COM looks for; here they are named apart, because some system import
// libraries carry those names too (the sign-in dialog's among them), and a
// 32-bit link would otherwise export the system's functions as ours.

#include <windows.h>

#include "component/class_factory.h"
#include "component/registration.h"
#include "foundation/module.h"
#include "controls/window.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID processEnding) {
    // On FreeLibrary no window of ours is left (DllCanUnloadNow saw to it),
    // so the classes can go; at process end there is nothing to tidy.
    if (reason == DLL_PROCESS_DETACH && !processEnding) kt::unregisterWindowClasses();
    return TRUE;
}

STDAPI KtDllGetClassObject(REFCLSID classId, REFIID interfaceId, LPVOID* object) {
    return kt::getClassObject(classId, interfaceId, object);
}

STDAPI KtDllCanUnloadNow() { return kt::ModuleLock::count() == 0 ? S_OK : S_FALSE; }

STDAPI KtDllRegisterServer() { return kt::registerServer(kt::RegistrationScope::Machine); }

STDAPI KtDllUnregisterServer() { return kt::unregisterServer(kt::RegistrationScope::Machine); }

// "regsvr32 /n /i:user" registers for the current user only, "/u /n /i:user" removes that.
STDAPI KtDllInstall(BOOL install, LPCWSTR command) {
    kt::RegistrationScope scope{};
    if (!kt::scopeFromInstallCommand(command, scope)) return E_INVALIDARG;
    return install ? kt::registerServer(scope) : kt::unregisterServer(scope);
}
