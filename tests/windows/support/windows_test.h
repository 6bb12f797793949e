#pragma once
// Common ground of the Windows tests: a COM apartment, message boxes answered
// and recorded instead of shown, the thread's message loop run with a
// deadline, and composition windows opened the way a host opens them.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "controls/message_box.h"
#include "controls/window.h"
#include "foundation/handles.h"
#include "support/late_bound.h"

namespace kt {
class frmEmail;
class FormControl;
}  // namespace kt

namespace kt::test {

using namespace std::chrono_literals;

inline const std::wstring kComposeCaption = L"Ardwyn E-Mail Message";
inline const std::wstring kPickerCaption = L"Ardwyn Address Picker";

// Records every message box of this thread and answers it (OK unless an
// answer was queued).
class MessageBoxRecorder {
public:
    MessageBoxRecorder();

    std::vector<MessageBoxRequest> shown;
    std::deque<int> answers;

private:
    ScopedMessageBoxResponder responder_;
};

class WindowsTest : public ::testing::Test {
protected:
    ~WindowsTest() override;  // closes the windows a test left open

    ComApartment apartment_;
    MessageBoxRecorder messageBoxes;
};

// A path the build names, as a Windows path.
std::wstring windowsPathOf(const std::string& buildPath);
// The registered component file.
std::wstring componentDllPath();

// The top-level windows of this thread with the given caption.
std::vector<HWND> threadWindows(const std::wstring& caption);
HWND findThreadWindow(const std::wstring& caption);
std::wstring windowText(HWND hwnd);

// The object behind one of our windows, as the given form type.
template <class T>
T* formOf(HWND hwnd) {
    return dynamic_cast<T*>(Window::fromHandle(hwnd));
}

// Dispatches this thread's messages for a time, or until the condition
// holds (false if the deadline came first).
void pumpFor(std::chrono::milliseconds duration);
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 5000ms);

// Steps that run one per timer tick on this thread, also inside a modal loop
// that the test is blocked in (a modal window, a message box).
class StepsOnTimer {
public:
    explicit StepsOnTimer(std::deque<std::function<void()>> steps, unsigned intervalMs = 40);
    StepsOnTimer(const StepsOnTimer&) = delete;
    StepsOnTimer& operator=(const StepsOnTimer&) = delete;
    ~StepsOnTimer();

    bool done() const { return steps_.empty(); }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    std::deque<std::function<void()>> steps_;
    UINT_PTR timer_;
};

// A new cEmail through its class factory, as COM creates one.
ComPtr<IDispatch> newEmail();

// SendEMail(body, subject, To, server, sender[, flags]); the window it opened.
frmEmail& sendEMail(IDispatch* email, const std::wstring& body, const std::wstring& to = L"a@example.com,Ann",
                    const std::wstring& server = L"127.0.0.1:1", std::vector<Argument> flags = {},
                    const std::wstring& sender = L"me@example.com", const std::wstring& subject = L"A subject");

void press(const FormControl& button);

}  // namespace kt::test
