#pragma once
// DeliverMail: sends one message through a fresh mail component, in a fixed
// order of operations, and reports a failure when asked to.

#include <functional>
#include <memory>
#include <string>

#include "delivery/mail_component.h"

namespace kt {

using MailComponentFactory = std::function<std::unique_ptr<MailComponent>()>;

// True when every operation, the send included, succeeded. The sender is
// "name <address>" or an address; the lists are recipient lists
// ("address,name" entries separated by ";"). A delivery the user stopped
// (or cancelled in the mail program) is no failure to report.
bool DeliverMail(std::wstring body, const std::wstring& subject, const std::wstring& toList,
                 const std::wstring& ccList, const std::wstring& bccList, const std::wstring& server,
                 const std::wstring& sender, bool showError, bool html,
                 const MailComponentFactory& createMailComponent);

}  // namespace kt
