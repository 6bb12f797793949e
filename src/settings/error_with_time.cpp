#include "settings/error_with_time.h"

#include <windows.h>

#include "foundation/message_box.h"

namespace kt {
namespace {

std::wstring timeOfDay() {
    wchar_t buffer[80] = {};
    const int length = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buffer, 80);
    return length > 0 ? std::wstring(buffer, static_cast<size_t>(length - 1)) : std::wstring();
}

}  // namespace

void ShowErrorWithTime(const std::wstring& message) {
    showMessageBox(L"ERROR - " + message + L"\r\n\r\nTime of Error:" + timeOfDay(), L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace kt
