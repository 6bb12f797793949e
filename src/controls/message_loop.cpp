#include "controls/message_loop.h"

#include <vector>

#include "controls/window_input.h"
#include "foundation/message_pump.h"

namespace kt {
namespace {

// Disables the thread's visible top-level windows but one, for its lifetime.
class ThreadWindowsDisabled {
public:
    explicit ThreadWindowsDisabled(HWND except) : except_(except) {
        EnumThreadWindows(GetCurrentThreadId(), &ThreadWindowsDisabled::disableOne, reinterpret_cast<LPARAM>(this));
    }

private:
    static BOOL CALLBACK disableOne(HWND window, LPARAM self) {
        auto* state = reinterpret_cast<ThreadWindowsDisabled*>(self);
        if (window != state->except_ && IsWindowVisible(window)) state->disabled_.emplace_back(window);
        return TRUE;
    }

    HWND except_;
    std::vector<ScopedWindowDisabled> disabled_;
};

void runUntilDestroyed(HWND window) {
    MSG message;
    while (IsWindow(window)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // The thread is ending: leave the quit for the loop that owns the thread.
            if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
            DestroyWindow(window);
            return;
        }
        dispatchMessage(message);
    }
}

}  // namespace

void runModal(HWND window) {
    const HWND previouslyActive = GetActiveWindow();
    {
        ThreadWindowsDisabled others(window);
        runUntilDestroyed(window);
    }
    // The windows are enabled again: hand the activation back instead of
    // letting it fall to another program.
    if (previouslyActive && IsWindow(previouslyActive)) SetActiveWindow(previouslyActive);
}

}  // namespace kt
