#pragma once
// Work on a thread of its own, waited for while this thread's messages go
// through: the one way the component waits for another thread. The thread
// holds a reference to the module until its last instruction and shares with
// the waiter only what both own, so a waiter that stops waiting (the user's
// Stop, the thread's quit, a deadline) goes at once and leaves the work to
// finish on its own.

#include <windows.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "foundation/api_error.h"
#include "foundation/handles.h"
#include "foundation/message_pump.h"
#include "foundation/module.h"

namespace kt {

template <class Result>
class BackgroundWork {
public:
    // Starts `work` at once; throws the system's error (see apiError for
    // `doing`) when no thread starts. What `work` throws is kept for result().
    BackgroundWork(std::function<Result()> work, const std::wstring& doing) : state_(std::make_shared<State>()) {
        if (!state_->done) throw apiError(GetLastError(), doing);
        runOnThreadOfItsOwn(
            [state = state_, work = std::move(work)] {
                try {
                    state->result.emplace(work());
                } catch (...) {
                    state->failure = std::current_exception();
                }
                SetEvent(state->done.get());
            },
            doing);
    }

    // Waits until the work is done (Signalled), the deadline comes, or `stop`
    // ends the wait (see waitLettingMessagesThrough).
    WaitEnd wait(std::chrono::steady_clock::time_point deadline, const StopSignal* stop) const {
        return waitLettingMessagesThrough({state_->done.get()}, deadline, stop).end;
    }
    bool done() const { return WaitForSingleObject(state_->done.get(), 0) == WAIT_OBJECT_0; }

    // What the work gave, or what it threw, once it is done.
    Result& result() const {
        if (state_->failure) std::rethrow_exception(state_->failure);
        return *state_->result;
    }

private:
    struct State {
        UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::optional<Result> result;  // set before `done`
        std::exception_ptr failure;
    };
    std::shared_ptr<State> state_;
};

}  // namespace kt
