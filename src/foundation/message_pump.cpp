#include "foundation/message_pump.h"

namespace kt {

void dispatchMessage(MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

bool pumpWaitingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return true;
        }
        dispatchMessage(message);
    }
    return false;
}

}  // namespace kt
