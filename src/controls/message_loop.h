#pragma once
// A nested message loop that shows a window modally.

#include <windows.h>

namespace kt {

// Runs a nested message loop until `window` is destroyed. Meanwhile the
// thread's other top-level windows are disabled and take no input.
void runModal(HWND window);

}  // namespace kt
