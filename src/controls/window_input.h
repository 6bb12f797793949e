#pragma once
// Keeps a window, or all its controls but one, from taking input for a
// while, and gives the keyboard focus back afterwards.

#include <windows.h>

#include <vector>

namespace kt {

class ScopedWindowDisabled {
public:
    // Does nothing for a window that is disabled already.
    explicit ScopedWindowDisabled(HWND window);
    ScopedWindowDisabled(ScopedWindowDisabled&& other) noexcept;
    ScopedWindowDisabled(const ScopedWindowDisabled&) = delete;
    ScopedWindowDisabled& operator=(const ScopedWindowDisabled&) = delete;
    ScopedWindowDisabled& operator=(ScopedWindowDisabled&&) = delete;
    ~ScopedWindowDisabled();

private:
    HWND window_ = nullptr;
    HWND focus_ = nullptr;
};

// Keeps every control of a window that takes input (those in the tab order)
// but one from taking it for a while; the keyboard focus goes to that one,
// and back afterwards.
class ScopedControlsDisabled {
public:
    ScopedControlsDisabled(HWND window, HWND stillEnabled);
    ScopedControlsDisabled(const ScopedControlsDisabled&) = delete;
    ScopedControlsDisabled& operator=(const ScopedControlsDisabled&) = delete;
    ~ScopedControlsDisabled();

private:
    HWND window_;
    HWND focus_ = nullptr;
    std::vector<HWND> disabled_;
};

}  // namespace kt
