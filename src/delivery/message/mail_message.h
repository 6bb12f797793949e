#pragma once
// One message as the mail component collects it before sending.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "delivery/message/address_rules.h"

namespace kt {

struct Mailbox {
    MailAddress address;
    std::optional<std::wstring> name;  // display name
};

// A picture that goes inside a page's message, held once, as it was fetched.
struct EmbeddedPicture {
    std::string address;    // where it came from (Content-Location); empty for one the page carried
    std::string mediaType;  // image/png, image/jpeg or image/gif
    std::string fileName;   // plain ASCII
    std::shared_ptr<const std::string> bytes;
};

// Where a page names one of its pictures: the address's span in the page.
struct PictureReference {
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t picture = 0;  // in PagePictures::pictures
};

// The pictures of a page, for a body that ends with `page`.
struct PagePictures {
    std::shared_ptr<const std::wstring> page;
    std::vector<EmbeddedPicture> pictures;     // in page order
    std::vector<PictureReference> references;  // in page order
};

struct MailMessage {
    std::optional<Mailbox> from;
    std::vector<Mailbox> to;
    std::vector<Mailbox> cc;
    std::vector<Mailbox> bcc;  // envelope only, never a header
    std::wstring subject;
    // The text; for a page's message what goes before `page`, which goes on
    // from its last line: empty, or ending with CR LF.
    std::wstring body;
    std::shared_ptr<const std::wstring> page;  // the page as the window holds it, never copied; or none
    bool html = false;
};

// True when `text` may go before a page kept apart: its encoding and the
// page's are then those of the two as one.
inline bool endsWithLineBreak(const std::wstring& text) {
    return text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0);
}

// Where `page` starts in the message's text (the body, then its page) when
// the text ends with it; none otherwise.
inline std::optional<std::size_t> startOfPage(const MailMessage& message, const std::wstring& page) {
    const std::wstring& last = message.page ? *message.page : message.body;
    const std::size_t before = message.page ? message.body.size() : 0;
    if (&last == &page) return before;
    if (last.size() < page.size() || last.compare(last.size() - page.size(), page.size(), page) != 0) return {};
    return before + last.size() - page.size();
}

// What makes one copy of a message unique: its date and identifier, and the
// boundary between the parts of a page's message.
struct MessageStamp {
    std::string date;       // RFC 5322 date-time
    std::string messageId;  // with its angle brackets
    std::string boundary = "=_kt-part";
};

}  // namespace kt
