#include "foundation/api_error.h"

#include <windows.h>

#include <cwchar>

#include "foundation/ansi_text.h"
#include "foundation/module.h"

namespace kt {

std::wstring GetApiErrorText(unsigned long code) {
    char buffer[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, sizeof buffer, nullptr);
    return length > 0 ? fromAnsi(std::string(buffer, length)) : std::wstring();
}

ComponentError apiError(unsigned long code, const std::wstring& doing) {
    const std::wstring source = thisModuleBaseName() + L".Windows";
    if (code < 0x80000000UL) return systemCallError(static_cast<long>(code), source, GetApiErrorText(code), doing);
    // The base plus an HRESULT would not fit the number, and some systems
    // have no text for these codes.
    wchar_t hex[16];
    swprintf(hex, 16, L" (0x%08lX)", code);
    const ComponentError described = systemCallError(0, source, GetApiErrorText(code), doing + hex);
    return ComponentError(static_cast<long>(code), described.source(), described.description());
}

void RaiseApiError(unsigned long code) { throw apiError(code); }

void CheckApiResult(long resultCode) {
    if (resultCode != 0) RaiseApiError(static_cast<unsigned long>(resultCode));
}

}  // namespace kt
