#include "delivery/message/text_part.h"

namespace kt {
namespace {

std::string quotedPrintable(const std::wstring& text) {
    std::string encoded;
    encoded.reserve(text.size() + text.size() / 16);  // a page's text is mostly plain: little grows
    encodeBody(text, BodyEncoding::QuotedPrintable, [&](const std::string& piece) { encoded += piece; });
    return encoded;
}

}  // namespace

void TextPart::write(const BytesSink& sink) const {
    sink(lead);
    if (rest) sink(*rest);
}

PageTextAhead::PageTextAhead(std::wstring_view sampleLeadIn, std::shared_ptr<const std::wstring> page)
    : page_(std::move(page)) {
    start_.read(sampleLeadIn);
    PageTextReader reader(start_);
    reader.read(*page_);
    std::wstring text = reader.takeText();
    // The text goes on from the sample's, which it starts with. Encoded from
    // the start of a line, its rest is encoded as it would be after any lead-in.
    const std::size_t lineBreak = text.find(L"\r\n", start_.text().size());
    const std::size_t restStart = lineBreak == std::wstring::npos ? text.size() : lineBreak + 2;
    firstLine_ = text.substr(start_.text().size(), restStart - start_.text().size());
    text.erase(0, restStart);
    rest_ = std::make_shared<const std::string>(quotedPrintable(text));
}

std::optional<TextPart> PageTextAhead::partFor(const std::wstring& body) const {
    const std::wstring& page = *page_;
    if (body.size() < page.size() || body.compare(body.size() - page.size(), page.size(), page) != 0) return {};
    PageTextReader leadIn;
    leadIn.read(std::wstring_view(body).substr(0, body.size() - page.size()));
    if (!start_.atBreak() || !leadIn.atBreak() || !leadIn.sameState(start_)) return {};
    return TextPart{quotedPrintable(leadIn.takeText() + firstLine_), rest_};
}

TextPart textPart(const MailMessage& message, const PageTextAhead* ahead) {
    if (!message.html) return {};
    if (ahead)
        if (auto part = ahead->partFor(message.body)) return std::move(*part);
    return {quotedPrintable(pageText(message.body)), nullptr};
}

}  // namespace kt
