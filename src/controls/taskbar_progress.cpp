#include "controls/taskbar_progress.h"

#include <utility>

namespace kt {
namespace {

// The seam for tests: one recorder per thread, empty outside tests.
thread_local std::function<void(const TaskbarProgressCall&)> t_recorder;

}  // namespace

TaskbarProgress::TaskbarProgress(HWND window) : window_(window) {
    // Without a taskbar (or COM) the window shows its own bar alone.
    if (!t_recorder &&
        SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                   taskbar_.putVoid())) &&
        FAILED(taskbar_->HrInit()))
        taskbar_.reset();
    call({window_, TBPF_NORMAL});
}

TaskbarProgress::~TaskbarProgress() { call({window_, TBPF_NOPROGRESS}); }

void TaskbarProgress::value(ULONGLONG completed, ULONGLONG total) {
    if (completed == shown_) return;
    shown_ = completed;
    call({window_, TBPF_NORMAL, completed, total});
}

void TaskbarProgress::call(const TaskbarProgressCall& call) const {
    if (t_recorder) return t_recorder(call);
    if (!taskbar_) return;
    if (call.total)
        taskbar_->SetProgressValue(call.window, call.completed, call.total);
    else
        taskbar_->SetProgressState(call.window, call.state);
}

ScopedTaskbarRecorder::ScopedTaskbarRecorder(std::function<void(const TaskbarProgressCall&)> recorder)
    : previous_(std::exchange(t_recorder, std::move(recorder))) {}

ScopedTaskbarRecorder::~ScopedTaskbarRecorder() { t_recorder = std::move(previous_); }

}  // namespace kt
