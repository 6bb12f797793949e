#pragma once
// Lets the messages waiting for this thread through during long work, so that
// its windows keep repainting.

#include <windows.h>

namespace kt {

// Dispatches the messages that are waiting for this thread, then returns. A
// WM_QUIT is put back for the thread's own loop to find; true when there was one.
bool pumpWaitingMessages();

void dispatchMessage(MSG& message);

}  // namespace kt
