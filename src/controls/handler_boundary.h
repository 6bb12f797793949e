#pragma once
// Where a failure stops when there is no caller to hand it to: a window
// procedure, a timer tick. The failure is shown to the user and the host's
// process goes on.

#include <utility>

#include "foundation/component_error.h"

namespace kt {

// Shows "Error in <where>." with the error's number and description.
void reportHandlerFailure(const wchar_t* where, const ComponentError& error) noexcept;

// Runs a handler; returns false when it failed (the failure has been shown).
template <class Handler>
bool runHandler(const wchar_t* where, Handler&& handler) noexcept {
    try {
        std::forward<Handler>(handler)();
        return true;
    } catch (...) {
        try {
            reportHandlerFailure(where, currentError());
        } catch (...) {
        }
        return false;
    }
}

// Runs a step whose failure is to be skipped without a message.
template <class Step>
void ignoreFailure(Step&& step) noexcept {
    try {
        std::forward<Step>(step)();
    } catch (...) {
    }
}

}  // namespace kt
