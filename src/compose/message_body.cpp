#include "compose/message_body.h"

#include "delivery/text_to_html.h"

namespace kt {

std::wstring composeMessageBody(const std::wstring& note, bool html, const std::wstring& htmlPage) {
    if (!html) return note;
    // The paragraph tags go on first, so the conversion runs over them too.
    const std::wstring leadIn = TextToHtml(note.empty() ? L"<p>     </p>" : L"<p>" + note + L"</p>") + L"\r\n<hr>";
    return leadIn + L"\r\n" + htmlPage;
}

}  // namespace kt
