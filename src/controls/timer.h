#pragma once
// SSubTimer: a timer that ticks on the thread that first started it, through
// that thread's message loop. An interval of 0 stops it; no tick arrives while it
// is stopped.

#include "controls/event.h"
#include "foundation/module.h"
#include "controls/window.h"

namespace kt {

class SSubTimer : private Window {
public:
    SSubTimer();

    long Interval() const noexcept { return interval_; }
    // Milliseconds; 0 stops the timer, a positive value (re)starts it.
    void Interval(long milliseconds);

    Event<> ThatTime;

private:
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;
    const wchar_t* handlerName() const override { return L"SSubTimer"; }

    ModuleLock moduleLock_;
    long interval_ = 0;
};

}  // namespace kt
