#pragma once
// A progress bar (the common controls' msctls_progress32) that a window
// shows for a while: made on a window, gone with this object.

#include <windows.h>

#include "controls/form_control.h"

namespace kt {

class ProgressBar {
public:
    // A bar from 0 to `range` at `at` in the window's pixels, shown on top of its controls.
    ProgressBar(HWND window, const PixelRect& at, int range);
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    ~ProgressBar();

    HWND hwnd() const noexcept { return bar_; }
    void position(int value) const;
    void place(const PixelRect& at) const;

private:
    HWND bar_ = nullptr;
};

}  // namespace kt
