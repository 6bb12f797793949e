#pragma once
// Failed system calls as component errors: the number is the base plus the
// system's code, the source names this module, the description is the
// system's own text for the code.

#include <string>

namespace kt {

// The system's message for a code (FormatMessageA, 256 characters at most),
// trailing line break included; empty when the system has none.
std::wstring GetApiErrorText(unsigned long code);

// Raises the component error for a system code; does not return.
[[noreturn]] void RaiseApiError(unsigned long code);

// Returns at once for 0; raises the component error for any other code.
void CheckApiResult(long resultCode);

}  // namespace kt
