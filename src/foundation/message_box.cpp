#include "foundation/message_box.h"

#include <algorithm>
#include <utility>

namespace kt {
namespace {

// The seam for tests: one responder per thread, empty outside tests.
thread_local MessageBoxResponder t_responder;

// The box ends its text at a NUL; whatever follows one must still show.
std::wstring withoutNul(std::wstring text) {
    std::replace(text.begin(), text.end(), L'\0', L'\uFFFD');
    return text;
}

}  // namespace

int showMessageBox(const std::wstring& text, const std::wstring& title, UINT style) {
    MessageBoxRequest request{withoutNul(text), withoutNul(title), style};
    if (t_responder) return t_responder(request);
    return MessageBoxW(GetActiveWindow(), request.text.c_str(), request.title.c_str(), style);
}

ScopedMessageBoxResponder::ScopedMessageBoxResponder(MessageBoxResponder responder)
    : previous_(std::exchange(t_responder, std::move(responder))) {}

ScopedMessageBoxResponder::~ScopedMessageBoxResponder() { t_responder = std::move(previous_); }

}  // namespace kt
