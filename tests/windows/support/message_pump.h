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
