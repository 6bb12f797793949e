#include "compose/message_body.h"

#include "delivery/text_to_html.h"

namespace kt {
namespace {

// What goes before the page in HTML mode.
std::wstring noteLeadIn(const std::wstring& note) {
    // The paragraph tags go on first, so the conversion runs over them too.
    return TextToHtml(note.empty() ? L"<p>     </p>" : L"<p>" + note + L"</p>") + L"\r\n<hr>\r\n";
}

}  // namespace

std::wstring composeMessageBody(const std::wstring& note, bool html) { return html ? noteLeadIn(note) : note; }

std::shared_ptr<const PageTextAhead> makePageTextAhead(std::shared_ptr<const std::wstring> htmlPage) {
    // Most notes leave the page's rendering where this one does; only markup
    // they leave open (or a hidden element they start) does not.
    return std::make_shared<const PageTextAhead>(noteLeadIn(L"A note"), std::move(htmlPage));
}

}  // namespace kt
