#include "controls/timer.h"

#include "foundation/api_error.h"

namespace kt {
namespace {
constexpr UINT_PTR kTimerId = 1;
}

SSubTimer::SSubTimer() = default;

void SSubTimer::Interval(long milliseconds) {
    if (milliseconds < 0) throw invalidPropertyValueError();
    if (milliseconds == 0) {
        interval_ = 0;
        if (hwnd()) KillTimer(hwnd(), kTimerId);
        return;
    }
    // Its window is made at the first start: many timers are never started.
    if (!hwnd()) createWindow(WindowClass::MessageOnly, 0, L"", 0, 0, 0, 0, 0, HWND_MESSAGE);
    if (!SetTimer(hwnd(), kTimerId, static_cast<UINT>(milliseconds), nullptr)) {
        interval_ = 0;
        throw apiError(GetLastError(), L"Starting the timer failed");
    }
    interval_ = milliseconds;
}

LRESULT SSubTimer::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    // A WM_TIMER already queued when the timer was stopped is dropped here.
    if (message == WM_TIMER && wParam == kTimerId) {
        // A listener may end this timer in its handler: nothing of it is used after.
        if (interval_ > 0) ThatTime.raise();
        return 0;
    }
    return defaultHandling(message, wParam, lParam);
}

}  // namespace kt
