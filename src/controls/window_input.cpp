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

ScopedControlsDisabled::ScopedControlsDisabled(HWND window, HWND stillEnabled) : window_(window) {
    const HWND focus = GetFocus();
    if (focus && IsChild(window, focus)) focus_ = focus;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        // Labels take no input, and would show their text greyed.
        const bool takesInput = (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0;
        if (child == stillEnabled || !takesInput || !IsWindowEnabled(child)) continue;
        EnableWindow(child, FALSE);
        disabled_.push_back(child);
    }
    if (focus_) SetFocus(stillEnabled);
}

ScopedControlsDisabled::~ScopedControlsDisabled() {
    for (const HWND child : disabled_)
        if (IsWindow(child)) EnableWindow(child, TRUE);
    if (focus_ && IsWindow(focus_) && GetActiveWindow() == window_) SetFocus(focus_);
}

}  // namespace kt
