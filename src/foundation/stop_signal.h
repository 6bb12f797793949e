#pragma once
// What may end a wait before its work is done: a Stop the user asked for,
// and the thread's quit, as long as the work can still be stopped.

namespace kt {

class StopSignal {
public:
    virtual bool stopRequested() const = 0;
    // False once stopping would lose more than waiting (the server decides on a message).
    virtual bool canStop() const = 0;

protected:
    ~StopSignal() = default;
};

}  // namespace kt
