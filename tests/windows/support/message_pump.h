#pragma once
// Running this thread's message loop from a test, with a deadline.

#include <chrono>
#include <functional>

namespace kt::test {

// Dispatches messages for the given time.
void pumpFor(std::chrono::milliseconds duration);

// Dispatches messages until the condition holds; false if the deadline came first.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

}  // namespace kt::test

#include <windows.h>

#include <deque>

namespace kt::test {

// Steps that run one per timer tick on this thread, also inside a modal loop
// that the test is blocked in (a modal window, a message box's own loop).
class StepsOnTimer {
public:
    explicit StepsOnTimer(std::deque<std::function<void()>> steps, unsigned intervalMs = 40);
    StepsOnTimer(const StepsOnTimer&) = delete;
    StepsOnTimer& operator=(const StepsOnTimer&) = delete;
    ~StepsOnTimer();

    bool done() const { return steps_.empty(); }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    std::deque<std::function<void()>> steps_;
    UINT_PTR timer_;
};

}  // namespace kt::test
