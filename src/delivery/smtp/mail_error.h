#pragma once
// Failures of the SMTP mail component. Its own failures are numbered from
// the object-error base plus 512; a reply the server refused carries the
// reply code in its number; network failures carry the system's code the
// way failed system calls do everywhere in the component.

#include <string>

#include "settings/component_error.h"

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
};

ComponentError mailError(MailFailure failure, const std::wstring& description);
// The server answered `command` with a reply that refuses it.
ComponentError refusedReplyError(int replyCode, const std::string& command, const std::string& replyText);
// A system (socket) error code, with what was being done and the system's text.
ComponentError networkError(long systemCode, const std::wstring& doing, const std::wstring& systemText);

}  // namespace kt
