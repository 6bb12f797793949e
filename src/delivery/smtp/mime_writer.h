#pragma once
// The message as RFC 5322 / MIME text: headers with RFC 2047 encoded words
// where text is not plain ASCII, the body as UTF-8 in quoted-printable, every
// line ended by CR LF and within the length limits. Dot-stuffing is the SMTP
// session's business.

#include <ctime>
#include <string>

#include "delivery/smtp/mail_message.h"

namespace kt {

std::string writeMessage(const MailMessage& message, const MessageStamp& stamp);

// The body encoding: hard line breaks only for CR LF pairs of the text; a lone
// CR or LF is encoded, so the text decodes back exactly.
std::string encodeQuotedPrintable(const std::string& utf8);
void appendQuotedPrintable(std::string& out, const std::string& utf8);

// A display name as a header phrase: an atom phrase, a quoted string or
// encoded words. Control characters become blanks; blanks around it go.
std::string encodeDisplayName(const std::wstring& name);

// Unstructured header text (the subject), folded after `used` characters of
// its line. Control characters become blanks.
std::string encodeUnstructured(const std::wstring& text, std::size_t used);

// "Sun, 06 Dec 2026 11:04:16 +0100" for a moment and the local offset from UTC.
std::string formatDate(std::time_t moment, int utcOffsetMinutes);

// The date and a new identifier for a message sent now from `senderAddress`.
MessageStamp stampMessage(const std::string& senderAddress);

}  // namespace kt
