#pragma once
// Failures of the SMTP mail component. Its own failures are numbered from
// the object-error base plus 512; a reply the server refused carries the
// reply code in its number. Network failures are failed system calls.

#include <string>

#include "foundation/component_error.h"

namespace kt {

constexpr long kMailErrorBase = -2147221504L + 512;  // 0x80040200
inline constexpr const wchar_t* kMailErrorSource = L"KT_EMailer.SMTP";

enum class MailFailure : long {
    InvalidAddress = 1,
    NoSender = 2,
    NoRecipients = 3,
    InvalidServer = 4,
    ProtocolViolation = 5,
    ConnectionClosed = 6,
    TlsRequired = 7,      // TLS needed (a password to send, mail submission) but not offered
    SignInCancelled = 8,  // the user cancelled the sign-in dialog
    SignInRequired = 9,   // the server wants a sign-in and none was given
    MessageTooLarge = 10, // larger than the server's announced SIZE limit
    SignInFailed = 11,    // the provider's sign-in (OAuth) could not be finished
    Stopped = 12,         // the user stopped the delivery before the message's end went
    NoMailProgram = 13,   // no server given, and no mail program takes the message (Simple MAPI)
    NeedsSmtpUtf8 = 14,   // an address beyond ASCII before its @, and a server without SMTPUTF8
    NoSentFolder = 15,    // the IMAP server has no folder for the copy of a sent message
    CopyRefused = 16,     // the IMAP server refused a command of the copy
};

ComponentError mailError(MailFailure failure, const std::wstring& description);
// Text the server sent, fit to show: control characters (NUL, line breaks,
// escapes) become "?", so it can neither end nor add a line of a report.
std::wstring serverText(const std::string& text);
// The server answered `command` with a reply that refuses it.
ComponentError refusedReplyError(int replyCode, const std::string& command, const std::string& replyText);

}  // namespace kt
