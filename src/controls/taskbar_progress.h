#pragma once
// The progress a window's taskbar button shows (ITaskbarList3), while this
// lives. Tests install a recorder for their thread that sees every call
// instead: not every system draws taskbar progress.

#include <windows.h>
#include <shobjidl.h>

#include <functional>

#include "foundation/handles.h"

namespace kt {

struct TaskbarProgressCall {
    HWND window = nullptr;
    TBPFLAG state = TBPF_NOPROGRESS;
    ULONGLONG completed = 0, total = 0;  // for a value; both 0 for a state
};

class TaskbarProgress {
public:
    explicit TaskbarProgress(HWND window);
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;
    // The button shows no progress again.
    ~TaskbarProgress();

    void value(ULONGLONG completed, ULONGLONG total);

private:
    void call(const TaskbarProgressCall& call) const;

    HWND window_;
    ComPtr<ITaskbarList3> taskbar_;
    ULONGLONG shown_ = ~0ull;
};

// Routes this thread's taskbar progress to a recorder while it lives.
class ScopedTaskbarRecorder {
public:
    explicit ScopedTaskbarRecorder(std::function<void(const TaskbarProgressCall&)> recorder);
    ScopedTaskbarRecorder(const ScopedTaskbarRecorder&) = delete;
    ScopedTaskbarRecorder& operator=(const ScopedTaskbarRecorder&) = delete;
    ~ScopedTaskbarRecorder();

private:
    std::function<void(const TaskbarProgressCall&)> previous_;
};

}  // namespace kt
