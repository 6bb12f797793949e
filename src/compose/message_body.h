#pragma once
// The body the Send command hands to the delivery. In plain mode it is the
// text the user edited; in HTML mode the user's note becomes a paragraph with
// HTML line breaks, then a rule, then the page the host handed in.

#include <string>

namespace kt {

std::wstring composeMessageBody(const std::wstring& note, bool html, const std::wstring& htmlPage);

}  // namespace kt
