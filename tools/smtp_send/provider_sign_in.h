#pragma once
// The command-line client's sign-in with a provider (OAuth): the component's
// own on Windows, with no window to wait in; elsewhere there is none.

#include <memory>
#include <string>

#include "delivery/sign_in.h"

namespace kt {

// Signs in with a provider where the server's host has a profile, through
// `passwords` elsewhere; waits for the browser `browserMs` at most.
std::shared_ptr<SignInProvider> providerSignIn(std::shared_ptr<SignInProvider> passwords, long browserMs,
                                               long tokenEndpointMs);

// Asks a token endpoint for tokens with a refresh grant, as a sign-in does;
// throws what the sign-in would when no answer of OAuth's comes.
void askTokenEndpoint(const std::string& url, long tokenEndpointMs);

}  // namespace kt
