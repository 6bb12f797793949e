#include "foundation/api_error.h"

#include <windows.h>

#include <cwchar>

#include "foundation/handles.h"
#include "foundation/module.h"

namespace kt {

std::wstring GetApiErrorText(unsigned long code) {
    // Wide, and as long as the text is: the user's language may be one the
    // ANSI code page cannot write, and some texts are long.
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const UniqueLocalMemory owned(text);
    return length > 0 ? std::wstring(text, length) : std::wstring();
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
