#include "controls/handler_boundary.h"

#include <string>

#include "controls/message_box.h"

namespace kt {

void reportHandlerFailure(const wchar_t* where, const ComponentError& error) noexcept {
    try {
        showMessageBox(std::wstring(L"Error in ") + where + L"." + L"\r\nError Number: " +
                           std::to_wstring(error.number()) + L"\r\n" + error.description(),
                       L"Error", MB_OK | MB_ICONERROR);
    } catch (...) {
    }
}

}  // namespace kt
