#pragma once
// The message as RFC 5322 / MIME text: headers with RFC 2047 encoded words
// where text is not plain ASCII, folded within the line limits, and the body
// as UTF-8 (see body_encoder.h): a page as multipart/alternative, its
// plain-text rendering first, in quoted-printable, and the HTML as it is.
// Dot-stuffing is the SMTP session's business.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "delivery/message/body_encoder.h"
#include "delivery/message/mail_message.h"
#include "delivery/message/text_part.h"

namespace kt {

// How a message goes: the body's encoding, and whether its headers may carry
// UTF-8 (RFC 6532, for a server that takes SMTPUTF8). Without it an address
// written beyond ASCII shows in the headers by its domain's ASCII form, with
// the address as written for its name where it has none.
struct MessageForm {
    BodyEncoding encoding = BodyEncoding::QuotedPrintable;
    bool smtpUtf8 = false;
    std::uint64_t sizeLimit = 0;  // the largest message the server takes; 0 when it names none

    bool operator==(const MessageForm& other) const {
        return encoding == other.encoding && smtpUtf8 == other.smtpUtf8 && sizeLimit == other.sizeLimit;
    }
    bool operator!=(const MessageForm& other) const { return !(*this == other); }
};

// The pictures a page's message carries inside it: a multipart/related part
// in place of the HTML, holding it and one part per picture taken, which the
// HTML names by Content-ID.
struct Embedding {
    const PagePictures* pictures = nullptr;
    std::size_t pageStart = 0;       // where the page starts in the body
    std::vector<std::size_t> taken;  // in PagePictures::pictures, in page order

    bool empty() const { return taken.empty(); }
};

// The header block, the empty line that ends it included.
std::string writeHeaders(const MailMessage& message, const MessageStamp& stamp, const MessageForm& form);

// The header block of the copy the sender keeps: the one sent with a Bcc
// field naming the Bcc recipients before its empty line, so the record is whole.
std::string withBccField(std::string headers, const MailMessage& message, const MessageForm& form);

// The body as its parts go: for a page its `textPart` and the HTML (with
// its embedded pictures) between the stamp's boundary lines, otherwise the text alone.
void writeBody(const MailMessage& message, const TextPart& textPart, const MessageStamp& stamp,
               BodyEncoding encoding, const BytesSink& sink, const Embedding& embedding = {});
// How many bytes writeBody hands on, counted.
std::size_t bodySize(const MailMessage& message, const TextPart& textPart, const MessageStamp& stamp,
                     BodyEncoding encoding, const Embedding& embedding = {});

// The pictures of a page's message that fit, in page order, when the whole
// message may take the server's limit (20 MB where it names none); none
// unless the body ends with the pictures' page.
Embedding embeddingWithin(const MailMessage& message, const TextPart& textPart, const MessageStamp& stamp,
                          const MessageForm& form, const PagePictures& pictures);

// The Content-ID of a message's picture, without its angle brackets: short,
// plain ASCII, unique to the message.
std::string pictureContentId(std::size_t picture, const MessageStamp& stamp);

// The whole message as text: the header block and the body.
std::string writeMessage(const MailMessage& message, const MessageStamp& stamp, const MessageForm& form = {});

// The words of a header field, each short enough for a line of its own
// (addresses aside); folding may put a line break before any of them.
using HeaderWords = std::vector<std::string>;

// A display name as a phrase: atoms, a quoted string or encoded words.
// Control characters become blanks; blanks around it go.
HeaderWords displayNameWords(const std::wstring& name);

// Unstructured text (the subject): its own words, or encoded words when it is
// not plain ASCII or a word is too long for a line. Control characters become blanks.
HeaderWords unstructuredWords(const std::wstring& text);

// "Sun, 06 Dec 2026 11:04:16 +0100" for a moment and the local offset from UTC.
std::string formatDate(std::time_t moment, int utcOffsetMinutes);

// The date and a new identifier for a message sent now from `sender`.
MessageStamp stampMessage(const MailAddress& sender);

}  // namespace kt
