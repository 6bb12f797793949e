#include "controls/message_box.h"

#include <utility>

namespace kt {
namespace {

// The seam for tests: one responder per thread, empty outside tests.
thread_local MessageBoxResponder t_responder;

}  // namespace

int showMessageBox(const std::wstring& text, const std::wstring& title, UINT style) {
    if (t_responder) return t_responder(MessageBoxRequest{text, title, style});
    return MessageBoxW(GetActiveWindow(), text.c_str(), title.c_str(), style);
}

ScopedMessageBoxResponder::ScopedMessageBoxResponder(MessageBoxResponder responder)
    : previous_(std::exchange(t_responder, std::move(responder))) {}

ScopedMessageBoxResponder::~ScopedMessageBoxResponder() { t_responder = std::move(previous_); }

}  // namespace kt
