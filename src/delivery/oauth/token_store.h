#pragma once
// The refresh token of a provider's sign-in, kept in the Credential Manager
// as the generic credential "KT_EMailer:OAuth:<host>:<sender>": the user name
// is the address, the secret the token's bytes (ASCII). A token longer than
// one credential holds goes on in "...:2", "...:3" and so on, each full but
// the last. `cmdkey /delete:<that name>` (and its further pieces) signs out.

#include <optional>

#include "delivery/sign_in.h"
#include "foundation/secret_text.h"

namespace kt {

std::optional<SecretText> storedRefreshToken(const SignInScope& scope);
// Throws the system's error when the store refuses it.
void storeRefreshToken(const SignInScope& scope, const SecretText& token);
void forgetRefreshToken(const SignInScope& scope);

}  // namespace kt
