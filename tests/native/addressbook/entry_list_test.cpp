#include "addressbook/entry_list.h"

#include <gtest/gtest.h>

namespace kt {

TEST(EntryList, EmptyBookIsOneEmptySlotThatTheFirstAdditionFills) {
    EntryList list;
    EXPECT_TRUE(list.isEmptyBook());
    ASSERT_EQ(list.entries().size(), 1u);
    list.add(L"Ann", L"ann@x.com,Ann");
    EXPECT_FALSE(list.isEmptyBook());
    ASSERT_EQ(list.entries().size(), 1u);
    list.add(L"Bob", L"bob@x.com,Bob");
    EXPECT_EQ(list.entries()[1].Record, L"bob@x.com,Bob");
    list.removeAt(0);
    list.removeAt(0);
    EXPECT_TRUE(list.isEmptyBook());
}

TEST(EntryList, FindsAndComparesExactly) {
    EntryList list;
    list.add(L"Ann", L"ann@x.com,Ann");
    list.add(L"Bob", L"bob@x.com,Bob");
    list.add(L"Ann", L"ann2@x.com,Ann");
    EXPECT_EQ(list.findByName(L"Ann"), 0u);
    EXPECT_FALSE(list.findByName(L"ann").has_value());
    EXPECT_FALSE(list.findByName(L"Ann ").has_value());
    EXPECT_EQ(EntryList::addressOf(list.entries()[1]), L"bob@x.com");
    list.removeAt(1);
    EXPECT_EQ(list.entries()[1].Record, L"ann2@x.com,Ann");  // later entries move up in order
}

TEST(StoredRecord, SplitsAtTheFirstTwoCommas) {
    const auto plain = splitStoredRecord(L"ann@x.com,Ann Lee");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->address, L"ann@x.com");
    EXPECT_EQ(plain->name, L"Ann Lee");
    EXPECT_EQ(splitStoredRecord(L"ann@x.com,Lee,Ann")->name, L"Lee");   // a name with a comma is cut there
    EXPECT_EQ(splitStoredRecord(L"a,b@x.com,Ann")->name, L"b@x.com");  // so is an address
    EXPECT_EQ(splitStoredRecord(L"ann@x.com,")->name, L"");
    EXPECT_FALSE(splitStoredRecord(L"ann@x.com").has_value());
    EXPECT_FALSE(splitStoredRecord(L"").has_value());
}

}  // namespace kt
