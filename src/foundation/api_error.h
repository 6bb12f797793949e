#pragma once
// Failed system calls as component errors: the number is the base plus the
// system's code, the source names this module followed by ".Windows", the
// description is the system's own text for the code. Every failed system
// call in the component becomes an error this way.

#include <string>

#include "foundation/component_error.h"

namespace kt {

// The system's message for a code in the user's language, trailing line
// break included; empty when the system has none.
std::wstring GetApiErrorText(unsigned long code);

// The error for a failed system call. With `doing` (what the call was for)
// the description reads "<doing>: <the system's text>". A code that is a
// failure HRESULT (security, certificates) is the number itself, and the
// description shows it: "<doing> (0x800B0109): <the system's text>".
ComponentError apiError(unsigned long code, const std::wstring& doing = {});

// Raises the error for a system code; does not return.
[[noreturn]] void RaiseApiError(unsigned long code);

// Returns at once for 0; raises the error for any other code.
void CheckApiResult(long resultCode);

}  // namespace kt
