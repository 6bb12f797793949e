#include "delivery/text_to_html.h"

#include <gtest/gtest.h>

namespace kt {

TEST(TextToHtml, ReplacesEachCrLfPairAndNothingElse) {
    EXPECT_EQ(TextToHtml(L""), L"");
    EXPECT_EQ(TextToHtml(L"no breaks & <b>"), L"no breaks & <b>");
    EXPECT_EQ(TextToHtml(L"\r\n"), L"<br>");
    EXPECT_EQ(TextToHtml(L"a\r\nb\r\n"), L"a<br>b<br>");
    EXPECT_EQ(TextToHtml(L"a\r\n\r\nb"), L"a<br><br>b");
    EXPECT_EQ(TextToHtml(L"lone\nfeed and lone\rreturn"), L"lone\nfeed and lone\rreturn");
    EXPECT_EQ(TextToHtml(L"\r\r\n"), L"\r<br>");    // pairs do not overlap
    EXPECT_EQ(TextToHtml(L"\r\n\n"), L"<br>\n");
}

TEST(TextToHtml, PairsFromPosition32766OnLeaveTheTextUnchanged) {
    const std::wstring pairAt32765 = std::wstring(32764, L'x') + L"\r\n" + L"tail";
    EXPECT_EQ(TextToHtml(pairAt32765), std::wstring(32764, L'x') + L"<br>tail");

    const std::wstring pairAt32766 = std::wstring(32765, L'x') + L"\r\n";
    EXPECT_EQ(TextToHtml(pairAt32766), pairAt32766);
    // One pair too far abandons the whole conversion, earlier pairs included.
    const std::wstring earlierPairToo = L"a\r\n" + std::wstring(32762, L'x') + L"\r\n";
    EXPECT_EQ(TextToHtml(earlierPairToo), earlierPairToo);
}

TEST(TextToHtml, ConvertsEveryPairBeforeTheLimit) {
    std::wstring text;
    for (int i = 0; i < 8000; ++i) text += L"ab\r\n";  // the last pair begins at 31,999
    std::wstring expected;
    for (int i = 0; i < 8000; ++i) expected += L"ab<br>";
    EXPECT_EQ(TextToHtml(text), expected);
}

}  // namespace kt
