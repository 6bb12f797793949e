#include "controls/handler_boundary.h"

#include <string>

#include "foundation/message_box.h"

namespace kt {

void reportHandlerFailure(const wchar_t* where, const ComponentError& error) noexcept {
    try {
        showMessageBox(failureReport(L"Error in " + std::wstring(where) + L".", error), L"Error",
                       MB_OK | MB_ICONERROR);
    } catch (...) {
    }
}

}  // namespace kt
