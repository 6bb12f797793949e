#pragma once
// Keeps a window from taking input for a while, and gives its keyboard focus
// back afterwards.

#include <windows.h>

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

}  // namespace kt
