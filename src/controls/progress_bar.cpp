#include "controls/progress_bar.h"

#include <commctrl.h>

#include "foundation/api_error.h"
#include "foundation/module.h"

namespace kt {

ProgressBar::ProgressBar(HWND window, const PixelRect& at, int range) {
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, at.x, at.y, at.width,
                           at.height, window, nullptr, thisModule(), nullptr);
    if (!bar_) throw apiError(GetLastError(), L"Creating a progress bar failed");
    SendMessageW(bar_, PBM_SETRANGE32, 0, range);
    SetWindowPos(bar_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

ProgressBar::~ProgressBar() { DestroyWindow(bar_); }

void ProgressBar::position(int value) const {
    if (static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0)) != value) SendMessageW(bar_, PBM_SETPOS, value, 0);
}

void ProgressBar::place(const PixelRect& at) const {
    SetWindowPos(bar_, HWND_TOP, at.x, at.y, at.width, at.height, SWP_NOACTIVATE);
}

}  // namespace kt
