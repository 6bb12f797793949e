#include "settings/api_error.h"

#include <windows.h>

#include "controls/ansi_text.h"
#include "controls/module.h"
#include "settings/component_error.h"

namespace kt {

std::wstring GetApiErrorText(unsigned long code) {
    char buffer[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, sizeof buffer, nullptr);
    return length > 0 ? fromAnsi(std::string(buffer, length)) : std::wstring();
}

void RaiseApiError(unsigned long code) {
    throw ComponentError(kApiErrorBase + static_cast<long>(code), thisModuleBaseName() + L".Windows",
                         GetApiErrorText(code));
}

void CheckApiResult(long resultCode) {
    if (resultCode != 0) RaiseApiError(static_cast<unsigned long>(resultCode));
}

}  // namespace kt
