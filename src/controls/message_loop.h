#pragma once
// The thread's message loop, run from inside the component: to let waiting
// messages through during long work, and to show a window modally.

#include <windows.h>

namespace kt {

// Dispatches the messages that are waiting for this thread, then returns. A
// WM_QUIT is put back for the thread's own loop to find.
void pumpWaitingMessages();

// Runs a nested message loop until `window` is destroyed. Meanwhile the
// thread's other top-level windows are disabled and take no input.
void runModal(HWND window);

}  // namespace kt
