#pragma once
// The refresh token of a provider's sign-in, kept in the Credential Manager
// as the generic credential "KT_EMailer:OAuth:<host>:<sender>": the user name
// is the address, the secret the token as UTF-16LE without a terminator, as
// stored passwords are. `cmdkey /delete:<that name>` signs out.

#include <optional>

#include "delivery/smtp/sign_in.h"
#include "foundation/secret_text.h"

namespace kt {

std::optional<SecretText> storedRefreshToken(const SignInScope& scope);
// A token that cannot be stored only means the browser opens next time.
void storeRefreshToken(const SignInScope& scope, const SecretText& token);
void forgetRefreshToken(const SignInScope& scope);

}  // namespace kt
