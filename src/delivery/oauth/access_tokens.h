#pragma once
// Access tokens kept in memory only, one for each server and sender, until
// shortly before they expire; a token dropped is wiped.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "delivery/sign_in.h"
#include "foundation/secret_text.h"

namespace kt {

class AccessTokens {
public:
    using Clock = std::chrono::steady_clock;

    std::optional<SecretText> find(const SignInScope& scope, Clock::time_point now = Clock::now()) const;
    // Kept for the lifetime the provider gave, less a margin (a minute, or
    // half of a short lifetime), so that no token expires on its way.
    void keep(const SignInScope& scope, const SecretText& token, std::chrono::seconds lifetime,
              Clock::time_point now = Clock::now());
    void forget(const SignInScope& scope);

private:
    struct Kept {
        SecretText token;
        Clock::time_point until;
    };
    std::map<std::pair<std::string, std::string>, Kept> kept_;
};

}  // namespace kt
