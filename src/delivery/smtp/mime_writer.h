#pragma once
// The message as RFC 5322 / MIME text: headers with RFC 2047 encoded words
// where text is not plain ASCII, folded within the line limits, and the body
// as UTF-8 (see body_encoder.h). Dot-stuffing is the SMTP session's business.

#include <ctime>
#include <string>
#include <vector>

#include "delivery/smtp/body_encoder.h"
#include "delivery/smtp/mail_message.h"

namespace kt {

// The header block, the empty line that ends it included.
std::string writeHeaders(const MailMessage& message, const MessageStamp& stamp, BodyEncoding encoding);

// The whole message as text: the header block and the body.
std::string writeMessage(const MailMessage& message, const MessageStamp& stamp,
                         BodyEncoding encoding = BodyEncoding::QuotedPrintable);

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

// The date and a new identifier for a message sent now from `senderAddress`.
MessageStamp stampMessage(const std::string& senderAddress);

}  // namespace kt
