#pragma once
// Self-registration: the class, its programmatic identifier and the type
// library, for every user of the machine (HKLM\Software\Classes) or for the
// current user only (HKCU\Software\Classes, which needs no administrator).

#include <windows.h>

namespace kt {

enum class RegistrationScope { Machine, User };

HRESULT registerServer(RegistrationScope scope) noexcept;
// Removes every key registerServer wrote under that scope; keys that are
// already gone are no failure. Keys that the other architecture's DLL shares
// (the ProgID, the type library) stay while that DLL is registered there.
HRESULT unregisterServer(RegistrationScope scope) noexcept;

// DllInstall's command line: "user" for the current user, empty or "machine"
// for all users. False for anything else.
bool scopeFromInstallCommand(LPCWSTR command, RegistrationScope& scope) noexcept;

}  // namespace kt
