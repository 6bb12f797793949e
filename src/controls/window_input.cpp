#include "controls/window_input.h"

#include <utility>

namespace kt {

ScopedWindowDisabled::ScopedWindowDisabled(HWND window) {
    if (!IsWindow(window) || !IsWindowEnabled(window)) return;
    window_ = window;
    const HWND focus = GetFocus();
    if (focus && (focus == window || IsChild(window, focus))) focus_ = focus;
    EnableWindow(window_, FALSE);
}

ScopedWindowDisabled::ScopedWindowDisabled(ScopedWindowDisabled&& other) noexcept
    : window_(std::exchange(other.window_, nullptr)), focus_(std::exchange(other.focus_, nullptr)) {}

ScopedWindowDisabled::~ScopedWindowDisabled() {
    if (!window_ || !IsWindow(window_)) return;
    EnableWindow(window_, TRUE);
    if (focus_ && IsWindow(focus_) && GetActiveWindow() == window_) SetFocus(focus_);
}

}  // namespace kt
