#include "foundation/api_error.h"

#include <windows.h>

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
    return systemCallError(static_cast<long>(code), thisModuleBaseName() + L".Windows", GetApiErrorText(code), doing);
}

void RaiseApiError(unsigned long code) { throw apiError(code); }

void CheckApiResult(long resultCode) {
    if (resultCode != 0) RaiseApiError(static_cast<unsigned long>(resultCode));
}

}  // namespace kt
