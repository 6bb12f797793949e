#include "delivery/oauth/access_tokens.h"

#include <algorithm>

namespace kt {
namespace {

std::pair<std::string, std::string> keyOf(const SignInScope& scope) { return {scope.host, scope.sender}; }

}  // namespace

std::optional<SecretText> AccessTokens::find(const SignInScope& scope, Clock::time_point now) const {
    const auto found = kept_.find(keyOf(scope));
    if (found == kept_.end() || now >= found->second.until) return std::nullopt;
    return found->second.token;
}

void AccessTokens::keep(const SignInScope& scope, const SecretText& token, std::chrono::seconds lifetime,
                        Clock::time_point now) {
    const std::chrono::seconds margin = std::min(std::chrono::seconds(60), lifetime / 2);
    kept_[keyOf(scope)] = {token, now + lifetime - margin};
}

void AccessTokens::forget(const SignInScope& scope) { kept_.erase(keyOf(scope)); }

}  // namespace kt
