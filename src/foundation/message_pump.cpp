#include "foundation/message_pump.h"

#include <algorithm>

#include "foundation/api_error.h"

namespace kt {

void dispatchMessage(MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

bool pumpWaitingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return true;
        }
        dispatchMessage(message);
    }
    return false;
}

const StopSignal& untilQuit() {
    static const struct : StopSignal {
        bool stopRequested() const override { return false; }
        bool canStop() const override { return true; }
    } signal;
    return signal;
}

WaitResult waitLettingMessagesThrough(const std::vector<HANDLE>& handles,
                                      std::chrono::steady_clock::time_point deadline, const StopSignal* stop) {
    const auto count = static_cast<DWORD>(handles.size());
    // A quit stays in the queue for the thread's loop, and would wake the wait at once.
    bool quitSeen = false;
    const auto stopped = [&] { return stop && stop->canStop() && (quitSeen || stop->stopRequested()); };
    for (;;) {
        if (stopped()) return {WaitEnd::Stopped};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        // Whatever ran in the messages may have outlasted the deadline: what
        // was signalled meanwhile still counts.
        const DWORD wait = static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
        const DWORD woke = quitSeen ? WaitForMultipleObjects(count, handles.data(), FALSE, wait)
                                    : MsgWaitForMultipleObjectsEx(count, handles.data(), wait, QS_ALLINPUT,
                                                                  MWMO_INPUTAVAILABLE);
        if (woke < WAIT_OBJECT_0 + count) {
            // A handle that is signalled again and again must not keep the
            // messages waiting: the wait reports handles before messages.
            if (!quitSeen) quitSeen = pumpWaitingMessages();
            if (stopped()) return {WaitEnd::Stopped};
            return {WaitEnd::Signalled, woke - WAIT_OBJECT_0};
        }
        if (woke == WAIT_TIMEOUT || left <= 0) return {WaitEnd::TimedOut};
        if (woke != WAIT_OBJECT_0 + count)
            throw apiError(GetLastError(), L"Waiting while letting messages through failed");
        quitSeen = pumpWaitingMessages();
    }
}

}  // namespace kt
