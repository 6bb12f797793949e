#pragma once
// The body the Send command hands to the delivery. In plain mode it is the
// text the user edited; in HTML mode the user's note becomes a paragraph with
// HTML line breaks, then a rule, and the page the host handed in goes on
// after it, kept apart as the window holds it.

#include <memory>
#include <string>

#include "delivery/message/text_part.h"

namespace kt {

std::wstring composeMessageBody(const std::wstring& note, bool html);

// The page's plain text, made while the user writes the note, for the HTML
// bodies composeMessageBody makes of it; takes as long as the page's rendering.
std::shared_ptr<const PageTextAhead> makePageTextAhead(std::shared_ptr<const std::wstring> htmlPage);

}  // namespace kt
