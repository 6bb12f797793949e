#include "provider_sign_in.h"

#include "delivery/mail_error.h"

namespace kt {

std::shared_ptr<SignInProvider> providerSignIn(std::shared_ptr<SignInProvider>, long, long) {
    throw mailError(MailFailure::SignInFailed, L"A provider's sign-in (OAuth) needs the Windows build.");
}

void askTokenEndpoint(const std::string&, long) {
    throw mailError(MailFailure::SignInFailed, L"The token endpoint is asked in the Windows build only.");
}

}  // namespace kt
