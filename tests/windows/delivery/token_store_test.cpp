// A provider's refresh token in the Credential Manager: one credential holds
// 2,560 bytes, and tokens of some providers are longer. However long, it
// comes back whole, and a shorter one replaces a longer one entirely.

#include <windows.h>
#include <wincred.h>

#include <gtest/gtest.h>

#include "delivery/oauth/token_store.h"

namespace kt::test {
namespace {

TEST(TokenStore, ATokenOfAnyLengthComesBackWholeAndAShorterOneReplacesItAll) {
    const SignInScope scope{"tokens.example", "me@example.com"};
    const auto token = [](std::size_t length) {
        SecretText text;
        for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('A' + i % 26);
        return text;
    };
    for (const std::size_t length : {6000u, 2560u, 3000u, 40u}) {
        storeRefreshToken(scope, token(length));
        const auto stored = storedRefreshToken(scope);
        EXPECT_TRUE(stored && *stored == token(length)) << length;
    }
    // No piece of a longer token is left behind.
    EXPECT_FALSE(CredDeleteW(L"KT_EMailer:OAuth:tokens.example:me@example.com:2", CRED_TYPE_GENERIC, 0));
    forgetRefreshToken(scope);
    EXPECT_FALSE(storedRefreshToken(scope));
}

}  // namespace
}  // namespace kt::test
