#pragma once
// Lets the messages waiting for this thread through during long work, so that
// its windows keep repainting and answering.

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <vector>

#include "foundation/stop_signal.h"

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

// The signal of work the user cannot stop, whose waiter still goes when the thread quits.
const StopSignal& untilQuit();

// Waits until one of the handles is signalled or the deadline passes,
// letting the thread's messages through meanwhile. `stop` (when given) may
// end the wait; a wait without one, or whose work can no longer be stopped,
// goes on past a quit of the thread, without the messages.
WaitResult waitLettingMessagesThrough(const std::vector<HANDLE>& handles,
                                      std::chrono::steady_clock::time_point deadline,
                                      const StopSignal* stop = nullptr);

}  // namespace kt
