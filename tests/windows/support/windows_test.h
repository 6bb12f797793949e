#pragma once
// Common ground of the Windows tests: a COM apartment, message boxes answered
// and recorded instead of shown, the thread's message loop run with a
// deadline, late-bound calls as scripts make them, composition windows opened
// the way a host opens them, the address book key set aside, the SMTP
// catchers of the test run.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "foundation/message_box.h"
#include "controls/window.h"
#include "foundation/handles.h"

namespace kt {
class frmEmail;
class FormControl;
}  // namespace kt

namespace kt::test {

using namespace std::chrono_literals;

inline const std::wstring kComposeCaption = L"Ardwyn E-Mail Message";
inline const std::wstring kPickerCaption = L"Ardwyn Address Picker";

class WindowsTest : public ::testing::Test {
protected:
    WindowsTest();
    ~WindowsTest() override;  // closes the windows a test left open

    // No box was shown; else the first one's text.
    ::testing::AssertionResult noBox() const;
    // One box was shown, holding every part.
    ::testing::AssertionResult oneBoxSays(const std::vector<std::wstring>& parts) const;

    ComApartment apartment_;
    // Every message box of this thread, answered OK unless an answer was queued.
    std::vector<MessageBoxRequest> shownBoxes;
    std::deque<int> boxAnswers;
    ScopedMessageBoxResponder responder_;
};

// A path the build names, as the test programs name it (under Wine drive Z:
// is the Unix root); the registered component file.
std::wstring windowsPathOf(const std::string& buildPath);
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

// The text holds every part (the text in the failure).
::testing::AssertionResult holdsAll(const std::wstring& text, const std::vector<std::wstring>& parts);

void setRegistryString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value);

// Dispatches this thread's messages for a time, or until the condition
// holds (false if the deadline came first).
void pumpFor(std::chrono::milliseconds duration);
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 5000ms);
// The window is gone within the time, its messages dispatched meanwhile.
bool closes(HWND window, std::chrono::milliseconds deadline = 5000ms);

// Steps that run one per timer tick on this thread, also inside a modal loop
// that the test is blocked in (a modal window, a message box, a dialog); or
// one step that runs on every tick. One at a time on a thread.
class StepsOnTimer {
public:
    explicit StepsOnTimer(std::deque<std::function<void()>> steps, unsigned intervalMs = 40);
    StepsOnTimer(std::function<void()> everyTick, unsigned intervalMs);
    StepsOnTimer(const StepsOnTimer&) = delete;
    StepsOnTimer& operator=(const StepsOnTimer&) = delete;
    ~StepsOnTimer();
    bool done() const { return steps_.empty(); }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    std::deque<std::function<void()>> steps_;
    std::function<void()> everyTick_;
    UINT_PTR timer_;
};

// Another thread that asks a window for an answer again and again, as a
// host's other threads do.
class AnswerProbe {
public:
    explicit AnswerProbe(HWND window);
    AnswerProbe(const AnswerProbe&) = delete;
    AnswerProbe& operator=(const AnswerProbe&) = delete;
    ~AnswerProbe();
    // Ends the asking, this thread still answering a question under way; the
    // slowest answer.
    std::chrono::milliseconds stop();

private:
    std::atomic<bool> asking_{true}, ended_{false};
    std::atomic<long long> slowestMs_{0};
    std::thread thread_;
};

// A text or a Boolean, as a script passes it.
struct Argument {
    Argument(const wchar_t* value) : text(value) {}
    Argument(std::wstring value) : text(std::move(value)) {}
    Argument(bool value) : isFlag(true), flag(value) {}
    std::wstring text;
    bool isFlag = false, flag = false;
};

DISPID dispidOf(IDispatch* object, const wchar_t* name);
// Invokes a method or property (DISPATCH_...) by name with the arguments in
// the order a caller writes them; a text that comes back goes to `result`.
HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, const std::vector<Argument>& arguments = {},
               std::wstring* result = nullptr);

// A new cEmail through its class factory, as COM creates one.
ComPtr<IDispatch> newEmail();

// SendEMail(body, subject, To, server, sender[, flags]); the window it opened.
frmEmail& sendEMail(IDispatch* email, const std::wstring& body, const std::wstring& to = L"a@example.com,Ann",
                    const std::wstring& server = L"127.0.0.1:1", std::vector<Argument> flags = {},
                    const std::wstring& sender = L"me@example.com", const std::wstring& subject = L"A subject");

void press(const FormControl& button);

// The address book key of the current user, set aside for a test: whatever
// the user had there is moved to a scratch key and put back afterwards.
class AddressBookTest : public WindowsTest {
protected:
    AddressBookTest();
    ~AddressBookTest() override;

    // Empties the book, then writes records as the string values "0", "1", ...
    void seed(const std::vector<std::wstring>& records) const;
    void setValue(const std::wstring& name, DWORD type, const void* data, DWORD size) const;
    void setString(const std::wstring& name, const std::wstring& text) const;
    // Every value of the key: name to string data ("<type N>" for other types).
    std::map<std::wstring, std::wstring> stored() const;
    // Lets the user do no more with the key than these rights allow, until the test ends.
    void allowOnly(DWORD rights) const;

private:
    const std::wstring backup_;
    bool hadKey_ = false;
};

// An SMTP catcher of this test run (tests/windows/CMakeLists.txt starts them).
struct Catcher {
    explicit Catcher(const std::string& name);
    std::wstring server(const std::wstring& host = L"127.0.0.1") const { return host + L":" + std::to_wstring(port); }
    // The summaries (envelope, decoded headers and body) of the messages with this subject.
    std::vector<std::wstring> caught(const std::wstring& subject) const;
    // Its log, one line per sign-in: "PLAIN reader accepted".
    std::vector<std::string> signIns() const;

    std::string directory;
    int port = 0;
};

// An OAuth profile for "localhost" (the catchers' host) while it lives; its
// endpoints are never reached.
class ProviderProfile {
public:
    explicit ProviderProfile(const std::wstring& tokenEndpoint = L"https://authorization.invalid/token");
    ProviderProfile(const ProviderProfile&) = delete;
    ProviderProfile& operator=(const ProviderProfile&) = delete;
    ~ProviderProfile();
};

// A subject no other test run sent.
std::wstring uniqueSubject(const std::wstring& what);

}  // namespace kt::test
