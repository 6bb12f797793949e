#pragma once
// The class object through which COM creates cEmail.

#include <windows.h>

namespace kt {

// DllGetClassObject's work: the class factory of cEmail, or CLASS_E_CLASSNOTAVAILABLE.
HRESULT getClassObject(REFCLSID classId, REFIID interfaceId, void** object) noexcept;

}  // namespace kt
