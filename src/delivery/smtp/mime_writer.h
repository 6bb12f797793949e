#pragma once
// The message as RFC 5322 / MIME text: headers with RFC 2047 encoded words
// where text is not plain ASCII, the body as UTF-8 in quoted-printable, every
// line ended by CR LF and within the length limits. Dot-stuffing is the SMTP
// session's business.

#include <ctime>
#include <string>
#include <vector>

#include "delivery/smtp/mail_message.h"

namespace kt {

std::string writeMessage(const MailMessage& message, const MessageStamp& stamp);

// The body encoding: hard line breaks only for CR LF pairs of the text; a lone
// CR or LF is encoded, so the text decodes back exactly.
void appendQuotedPrintable(std::string& out, const std::string& utf8);

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
