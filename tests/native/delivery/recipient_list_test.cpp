#include "delivery/recipient_list.h"

#include <gtest/gtest.h>

#include "foundation/component_error.h"

namespace kt {
namespace {

long errorNumberOf(void (*action)()) {
    try {
        action();
    } catch (const ComponentError& error) {
        return error.number();
    }
    return 0;
}

}  // namespace

TEST(RecipientList, SplitsAtEverySemicolonKeepingEmptiesAndBlanks) {
    EXPECT_TRUE(splitRecipientList(L"").empty());
    EXPECT_EQ(splitRecipientList(L"a,A"), (std::vector<std::wstring>{L"a,A"}));
    EXPECT_EQ(splitRecipientList(L"a,A; b,B;;"), (std::vector<std::wstring>{L"a,A", L" b,B", L"", L""}));
    EXPECT_EQ(splitRecipientList(L";"), (std::vector<std::wstring>{L"", L""}));
}

TEST(RecipientList, EntryIsAddressCommaNameAndNeedsItsComma) {
    const AddressAndName withBlanks = splitRecipientEntry(L" b@x, Bob");
    EXPECT_EQ(withBlanks.address, L" b@x");
    EXPECT_EQ(withBlanks.name, L" Bob");
    const AddressAndName twoCommas = splitRecipientEntry(L"a@x,Lee,Ann");
    EXPECT_EQ(twoCommas.name, L"Lee");
    EXPECT_EQ(splitRecipientEntry(L"a@x,").name, L"");
    EXPECT_EQ(errorNumberOf([] { splitRecipientEntry(L"a@x"); }), 9);
    EXPECT_EQ(errorNumberOf([] { splitRecipientEntry(L" "); }), 9);
}

TEST(RecipientList, SixteenBitLimits) {
    std::wstring list;
    for (int i = 0; i < 32766; ++i) list += L";";  // 32,767 entries
    EXPECT_NO_THROW(checkEntryCount16(splitRecipientList(list)));
    list += L";";
    EXPECT_EQ(errorNumberOf([] {
                  std::wstring tooMany(32767, L';');
                  checkEntryCount16(splitRecipientList(tooMany));
              }),
              6);

    EXPECT_EQ(findPosition16(L"Name <a@x>", L'<'), 6);
    EXPECT_EQ(findPosition16(L"Name <a@x>", L'>', 6), 10);
    EXPECT_EQ(findPosition16(L"a>x<", L'>', 4), 0);
    EXPECT_EQ(findPosition16(std::wstring(32766, L' ') + L"<", L'<'), 32767);
    EXPECT_EQ(errorNumberOf([] { findPosition16(std::wstring(32767, L' ') + L"<", L'<'); }), 6);
}

}  // namespace kt
