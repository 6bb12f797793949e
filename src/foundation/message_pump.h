#pragma once
// Lets the messages waiting for this thread through during long work, so that
// its windows keep repainting and answering.

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace kt {

// Dispatches the messages that are waiting for this thread, then returns. A
// WM_QUIT is put back for the thread's own loop to find; true when there was one.
bool pumpWaitingMessages();

void dispatchMessage(MSG& message);

// How a wait ended; `index` names the handle that was signalled.
enum class WaitEnd { Signalled, TimedOut, Stopped };
struct WaitResult {
    WaitEnd end;
    std::size_t index = 0;
};

// Waits until one of the handles is signalled or the deadline passes,
// letting the thread's messages through meanwhile. After each message `stop`
// (when given) may end the wait; so does a quit of the thread, after which
// a wait without `stop` goes on without the messages.
WaitResult waitLettingMessagesThrough(const std::vector<HANDLE>& handles,
                                      std::chrono::steady_clock::time_point deadline,
                                      const std::function<bool()>& stop = nullptr);

}  // namespace kt
