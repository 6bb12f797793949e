#pragma once
// What the mail component's failures are checked by: their number, then their text.

#include <gtest/gtest.h>

#include <string>

#include "delivery/mail_error.h"

namespace kt {

inline long failure(MailFailure kind) { return kMailErrorBase + static_cast<long>(kind); }

// The text of the error `act` must end with, once its number is checked.
template <class Act>
std::wstring failureText(Act&& act, long number) {
    try {
        act();
    } catch (const ComponentError& error) {
        EXPECT_EQ(error.number(), number);
        return error.description();
    }
    ADD_FAILURE() << "no failure";
    return L"(none)";
}

}  // namespace kt
