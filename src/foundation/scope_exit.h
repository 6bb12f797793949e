#pragma once
// Runs a function when the scope ends, however it ends.

#include <utility>

namespace kt {

template <class Function>
class ScopeExit {
public:
    explicit ScopeExit(Function function) : function_(std::move(function)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { function_(); }

private:
    Function function_;
};

}  // namespace kt
