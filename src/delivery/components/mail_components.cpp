#include "delivery/components/mail_components.h"

#include "delivery/components/sent_copy_in_background.h"
#include "delivery/components/system_sign_in.h"
#include "delivery/mapi/mail_program.h"
#include "delivery/mapi/mapi_mailer.h"
#include "delivery/smtp/smtp_mailer.h"

namespace kt {

MailRoute mailRouteFor(const std::wstring& server) {
    return usesMailProgram(server) ? MailRoute::MailProgram : MailRoute::Smtp;
}

MailComponentFactory smtpMailComponent(SmtpComponentParts parts) {
    return [parts = std::move(parts)]() -> std::unique_ptr<MailComponent> {
        auto signIns =
            std::make_shared<OAuthSignIn>(std::make_shared<SystemSignIn>(parts.signInOwner), parts.tokens,
                                                     parts.wait, parts.progress);
        auto mailer = std::make_unique<SmtpMailer>(parts.connect, SmtpTimeouts{}, std::move(signIns), parts.progress);
        mailer->pageAfterBody(parts.page);
        mailer->pageTextAhead(parts.pageText);
        mailer->pagePictures(parts.pictures);
        mailer->onAccepted([showError = parts.showError](const SmtpMailer::CopyOfSent& copy, const SignInScope& scope,
                                                         const SignIn* given) {
            placeSentCopyInBackground(copy, scope, given, showError);
        });
        return mailer;
    };
}

MailComponentFactory mapiMailComponent(HWND owner, std::shared_ptr<const std::wstring> page) {
    return [owner, page = std::move(page)]() -> std::unique_ptr<MailComponent> {
        return std::make_unique<MapiMailer>(owner, page);
    };
}

MailComponentFactory mailComponentFor(const std::wstring& server, SmtpComponentParts smtp,
                                      std::shared_ptr<const std::wstring> page) {
    if (mailRouteFor(server) == MailRoute::MailProgram) return mapiMailComponent(smtp.signInOwner, std::move(page));
    smtp.page = std::move(page);
    return smtpMailComponent(std::move(smtp));
}

}  // namespace kt
