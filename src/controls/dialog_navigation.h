#pragma once
// Dialog keyboard navigation (Tab, Shift+Tab, arrow keys) for a top-level
// window with controls, whatever message loop the host runs: the host's loop
// knows nothing of our windows and would never call IsDialogMessage for them.

#include <windows.h>

namespace kt {

// Gives one window dialog navigation while it lives.
class DialogNavigation {
public:
    explicit DialogNavigation(HWND window);
    DialogNavigation(const DialogNavigation&) = delete;
    DialogNavigation& operator=(const DialogNavigation&) = delete;
    ~DialogNavigation();

private:
    HWND window_;
};

}  // namespace kt
