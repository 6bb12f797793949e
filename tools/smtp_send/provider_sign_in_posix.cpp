#include "provider_sign_in.h"

#include "delivery/mail_error.h"

namespace kt {

std::shared_ptr<SignInProvider> providerSignIn(std::shared_ptr<SignInProvider>, long, long) {
    throw mailError(MailFailure::SignInFailed, L"A provider's sign-in (OAuth) needs the Windows build.");
}

}  // namespace kt
