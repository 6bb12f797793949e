#include "delivery/mail_error.h"

#include "foundation/characters.h"
#include "foundation/utf8.h"

namespace kt {

ComponentError mailError(MailFailure failure, const std::wstring& description) {
    return ComponentError(kMailErrorBase + static_cast<long>(failure), kMailErrorSource, description);
}

std::wstring serverText(const std::string& text) { return withControlsReplaced(fromUtf8(text), L'?'); }

ComponentError refusedReplyError(int replyCode, const std::string& command, const std::string& replyText) {
    const std::wstring what = command.empty() ? L"the connection" : fromUtf8(command);
    return ComponentError(kMailErrorBase + replyCode, kMailErrorSource,
                          L"The SMTP server refused " + what + L": " + serverText(replyText));
}

}  // namespace kt
