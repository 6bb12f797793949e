// UTF-8 for the wire and for secrets, both ways.

#include "foundation/secret_text.h"
#include "foundation/utf8.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(Utf8, ConvertsAndBack) {
    const std::wstring password = L"Kt-T3st-Passw0rd-for-a-memory-scan-\u00e4\u00f6\u00fc\u00df\u00e9\u00e8\u00ea\u00eb";
    const std::string utf8 = toUtf8(password);
    EXPECT_EQ(utf8.size(), 51u);
    EXPECT_EQ(fromUtf8(utf8), password);
    EXPECT_TRUE(toUtf8<SecretText>(password) == SecretText(utf8));
    EXPECT_EQ(toUtf8(std::wstring(L"a\xD800z")), "a\xEF\xBF\xBDz");  // an unpaired surrogate
}

}  // namespace
}  // namespace kt
