#pragma once
// Common ground of the Windows tests: a COM apartment, message boxes answered
// and recorded instead of shown, and ways to find our windows.

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "foundation/handles.h"
#include "controls/message_box.h"
#include "controls/window.h"

namespace kt::test {

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
    ComApartment apartment_;
    MessageBoxRecorder messageBoxes;
};

// A path the build names, as a Windows path.
std::wstring windowsPathOf(const std::string& buildPath);

// The registered component file.
std::wstring componentDllPath();

// A top-level window of this thread with the given caption, or nullptr.
HWND findThreadWindow(const std::wstring& caption);
std::vector<HWND> threadWindows(const std::wstring& caption);

// The object behind one of our windows, as the given form type.
template <class T>
T* formOf(HWND hwnd) {
    return dynamic_cast<T*>(Window::fromHandle(hwnd));
}

std::wstring windowText(HWND hwnd);

}  // namespace kt::test

namespace kt::test {

// A key of its own under HKEY_CURRENT_USER for one test, removed with
// everything under it when the test ends.
class ScratchRegistryKey {
public:
    ScratchRegistryKey();
    ScratchRegistryKey(const ScratchRegistryKey&) = delete;
    ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;
    ~ScratchRegistryKey();

    // Path relative to HKEY_CURRENT_USER.
    const std::wstring& path() const { return path_; }
    // Writes a value of any type directly, bypassing the code under test.
    void setRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const;
    void setString(const std::wstring& name, const std::string& ansiText, DWORD type = REG_SZ) const;
    DWORD typeOf(const std::wstring& name) const;  // REG_NONE when missing
    std::string stringOf(const std::wstring& name) const;

private:
    std::wstring path_;
};

}  // namespace kt::test
