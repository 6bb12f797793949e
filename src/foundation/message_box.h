#pragma once
// The one way the component shows a message box. Tests install a responder
// for their thread that sees the exact text, title, buttons and icon and
// answers at once; without one the real box is shown.

#include <windows.h>

#include <functional>
#include <string>

namespace kt {

struct MessageBoxRequest {
    std::wstring text;
    std::wstring title;
    UINT style = MB_OK;

    UINT buttons() const { return style & MB_TYPEMASK; }
    UINT icon() const { return style & MB_ICONMASK; }
};

using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;

// Shows a modal message box owned by the thread's active window and returns
// the button chosen (IDOK, IDYES, ...).
int showMessageBox(const std::wstring& text, const std::wstring& title, UINT style);

// Routes this thread's message boxes to a responder while it lives.
class ScopedMessageBoxResponder {
public:
    explicit ScopedMessageBoxResponder(MessageBoxResponder responder);
    ScopedMessageBoxResponder(const ScopedMessageBoxResponder&) = delete;
    ScopedMessageBoxResponder& operator=(const ScopedMessageBoxResponder&) = delete;
    ~ScopedMessageBoxResponder();

private:
    MessageBoxResponder previous_;
};

}  // namespace kt
