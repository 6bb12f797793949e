#include "support/message_pump.h"

#include <windows.h>

namespace kt::test {
namespace {

void dispatchWaiting() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        dispatchWaiting();
        if (condition()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count() < 10 ? left.count() : 10),
                                  QS_ALLINPUT);
    }
}

}  // namespace kt::test

namespace kt::test {
namespace {
thread_local StepsOnTimer* t_steps = nullptr;
}

StepsOnTimer::StepsOnTimer(std::deque<std::function<void()>> steps, unsigned intervalMs) : steps_(std::move(steps)) {
    t_steps = this;
    timer_ = SetTimer(nullptr, 0, intervalMs, &StepsOnTimer::tick);
}

StepsOnTimer::~StepsOnTimer() {
    KillTimer(nullptr, timer_);
    t_steps = nullptr;
}

void CALLBACK StepsOnTimer::tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!t_steps || t_steps->steps_.empty()) return;
    const auto step = std::move(t_steps->steps_.front());
    t_steps->steps_.pop_front();
    step();
}

}  // namespace kt::test
