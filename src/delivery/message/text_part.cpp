#include "delivery/message/text_part.h"

#include <algorithm>

namespace kt {
namespace {

// The text `reader` makes of what it read before and of `html`, encoded as it settles.
std::shared_ptr<const EncodedText> encodedPageText(PageTextReader reader, std::wstring_view html) {
    auto encoded = std::make_shared<EncodedText>();
    reader.handSettledTextTo([&](std::wstring_view piece) { encoded->add(piece); });
    reader.read(html);
    encoded->add(reader.takeText());
    return encoded;
}

std::string quotedPrintable(std::wstring_view text) {
    std::string encoded;
    encodeBody(text, BodyEncoding::QuotedPrintable, [&](const std::string& piece) { encoded += piece; });
    return encoded;
}

// The page's text as it comes after a sample's, which it starts with: its
// first line, which goes on from the sample's last, kept as text; the rest,
// from the start of a line, encoded as it would be after any lead-in.
class TextAfterSample {
public:
    explicit TextAfterSample(std::size_t sampleSize) : sampleSize_(sampleSize) {}

    void add(std::wstring_view piece) {
        if (firstLineDone_) {
            rest_->add(piece);
            return;
        }
        head_ += piece;
        const std::size_t lineBreak = head_.find(L"\r\n", sampleSize_);
        if (lineBreak == std::wstring::npos) return;
        firstLine_ = head_.substr(sampleSize_, lineBreak + 2 - sampleSize_);
        firstLineDone_ = true;
        rest_->add(std::wstring_view(head_).substr(lineBreak + 2));
        head_ = {};
    }

    std::wstring firstLine() const { return firstLineDone_ ? firstLine_ : head_.substr(std::min(sampleSize_, head_.size())); }
    std::shared_ptr<const EncodedText> rest() const { return rest_; }

private:
    std::size_t sampleSize_;
    std::wstring head_, firstLine_;
    bool firstLineDone_ = false;
    std::shared_ptr<EncodedText> rest_ = std::make_shared<EncodedText>();
};

}  // namespace

void EncodedText::add(std::wstring_view text) {
    encodeBody(text, BodyEncoding::QuotedPrintable, [&](const std::string& piece) {
        size_ += piece.size();
        pieces_.push_back(piece);
    });
}

void EncodedText::write(const BytesSink& sink) const {
    for (const std::string& piece : pieces_) sink(piece);
}

void TextPart::write(const BytesSink& sink) const {
    if (!lead.empty()) sink(lead);
    if (rest) rest->write(sink);
}

PageTextAhead::PageTextAhead(std::wstring_view sampleLeadIn, std::shared_ptr<const std::wstring> page)
    : page_(std::move(page)) {
    start_.read(sampleLeadIn);
    TextAfterSample text(start_.text().size());
    PageTextReader reader(start_);
    reader.handSettledTextTo([&](std::wstring_view piece) { text.add(piece); });
    reader.read(*page_);
    text.add(reader.takeText());
    firstLine_ = text.firstLine();
    rest_ = text.rest();
}

std::optional<TextPart> PageTextAhead::partFor(const MailMessage& message) const {
    const std::optional<std::size_t> pageStart = startOfPage(message, *page_);
    if (!pageStart) return {};
    PageTextReader leadIn;
    leadIn.read(std::wstring_view(message.body).substr(0, *pageStart));
    if (message.page && *pageStart > message.body.size())
        leadIn.read(std::wstring_view(*message.page).substr(0, *pageStart - message.body.size()));
    if (!start_.atBreak() || !leadIn.atBreak() || !leadIn.sameState(start_)) return {};
    return TextPart{quotedPrintable(leadIn.takeText() + firstLine_), rest_};
}

TextPart textPart(const MailMessage& message, const PageTextAhead* ahead) {
    if (!message.html) return {};
    if (ahead)
        if (auto part = ahead->partFor(message)) return std::move(*part);
    if (!message.page) return {"", encodedPageText({}, message.body)};
    PageTextReader afterBody;
    afterBody.read(message.body);
    // Markup the body leaves open goes on into the page: read as one.
    if (!afterBody.atBreak()) return {"", encodedPageText({}, message.body + *message.page)};
    return {"", encodedPageText(afterBody, *message.page)};
}

}  // namespace kt
