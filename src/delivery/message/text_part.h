#pragma once
// A page's plain-text part as it goes, in quoted-printable. The page is
// known when the window opens, the note that goes before it only at Send:
// the page's text can be made while the user writes, and only the note's at
// Send.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/message/body_encoder.h"
#include "delivery/message/mail_message.h"
#include "delivery/message/page_text.h"

namespace kt {

// Text in quoted-printable, kept in the pieces it was encoded in, so that
// a page's text never needs a second copy to grow into.
class EncodedText {
public:
    // Encodes text that starts a line, and ends one unless it is the last.
    void add(std::wstring_view text);
    std::size_t size() const { return size_; }
    void write(const BytesSink& sink) const;

private:
    std::vector<std::string> pieces_;
    std::size_t size_ = 0;
};

struct TextPart {
    std::string lead;                         // the part's start, where the rest was made ahead
    std::shared_ptr<const EncodedText> rest;  // the rest, or the whole part

    std::size_t size() const { return lead.size() + (rest ? rest->size() : 0); }
    void write(const BytesSink& sink) const;
};

// A page's text made before what goes ahead of the page in the body is known.
class PageTextAhead {
public:
    // Renders `page` as it reads after `sampleLeadIn`, which stands for what
    // will go before it; takes as long as the page's rendering.
    PageTextAhead(std::wstring_view sampleLeadIn, std::shared_ptr<const std::wstring> page);

    // The text part of a page's message, when its text ends with the page
    // and what goes before it leaves the rendering as the sample did (a note
    // with markup left open does not); nothing otherwise.
    std::optional<TextPart> partFor(const MailMessage& message) const;

private:
    std::shared_ptr<const std::wstring> page_;
    PageTextReader start_;   // after the sample
    std::wstring firstLine_;  // the page's first line of text, which may go on the lead-in's last
    std::shared_ptr<const EncodedText> rest_;  // the rest, encoded from the start of a line
};

// The text part of a page's message, from `ahead` where it fits the body;
// none for a message of text.
TextPart textPart(const MailMessage& message, const PageTextAhead* ahead = nullptr);

}  // namespace kt
