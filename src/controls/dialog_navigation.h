#pragma once
// Dialog keyboard navigation (Tab, Shift+Tab, arrow keys) and tooltips for a
// top-level window with controls, whatever message loop the host runs: the
// host's loop knows nothing of our windows and would never call
// IsDialogMessage for them nor show their tooltips.

#include <windows.h>

namespace kt {

// Gives one window dialog navigation while it lives, and relays the mouse
// messages of its controls to its tooltip window (which may be null).
// Relaying costs one hook for all windows; having the tooltip window subclass
// every control costs a subclass each, which makes a window slow to open.
class DialogNavigation {
public:
    DialogNavigation(HWND window, HWND tooltip);
    DialogNavigation(const DialogNavigation&) = delete;
    DialogNavigation& operator=(const DialogNavigation&) = delete;
    ~DialogNavigation();

private:
    HWND window_;
};

}  // namespace kt
