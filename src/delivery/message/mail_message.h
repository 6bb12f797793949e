#pragma once
// One message as the mail component collects it before sending.

#include <optional>
#include <string>
#include <vector>

#include "delivery/message/address_rules.h"

namespace kt {

struct Mailbox {
    MailAddress address;
    std::optional<std::wstring> name;  // display name
};

struct MailMessage {
    std::optional<Mailbox> from;
    std::vector<Mailbox> to;
    std::vector<Mailbox> cc;
    std::vector<Mailbox> bcc;  // envelope only, never a header
    std::wstring subject;
    std::wstring body;
    bool html = false;
};

// What makes one copy of a message unique: its date and identifier, and the
// boundary between the parts of a page's message.
struct MessageStamp {
    std::string date;       // RFC 5322 date-time
    std::string messageId;  // with its angle brackets
    std::string boundary = "=_kt-part";
};

}  // namespace kt
