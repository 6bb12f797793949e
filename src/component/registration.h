#pragma once
// Self-registration: the class, its programmatic identifier and the type
// library, all under HKEY_CLASSES_ROOT.

#include <windows.h>

namespace kt {

HRESULT registerServer() noexcept;
// Removes every key registerServer wrote; keys that are already gone are no failure.
HRESULT unregisterServer() noexcept;

}  // namespace kt
