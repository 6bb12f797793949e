// A deletion from the address book: the values it keeps, and the fewest
// changes that end as a rewrite from scratch would, on a registry that lists
// values by name and on one that lists them in the order they were made.

#include <gtest/gtest.h>

#include <algorithm>

#include "addressbook/entry_list.h"
#include "settings/value_rewrite.h"

namespace kt {

bool operator==(const RegValue& a, const RegValue& b) { return a.name == b.name && a.sameContent(b); }

namespace {

RegValue text(const std::wstring& name, const std::string& data) {
    return {name, kStringValueType, {data.begin(), data.end()}};
}

// A key of the registry, listing its values by name or in the order made.
struct ModelKey {
    bool listsByName;
    std::vector<RegValue> values;  // in the order made

    std::vector<RegValue> listed() const {
        auto list = values;
        if (listsByName) std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.name < b.name; });
        return list;
    }
    void remove(const std::wstring& name) {
        values.erase(std::remove_if(values.begin(), values.end(), [&](auto& v) { return v.name == name; }), values.end());
    }
    void write(const RegValue& value) {
        const auto at = std::find_if(values.begin(), values.end(), [&](auto& v) { return v.name == value.name; });
        if (at != values.end()) *at = value;
        else values.push_back(value);
    }
};

std::vector<RegValue> book(std::size_t count) {
    std::vector<RegValue> values;
    for (std::size_t i = 0; i < count; ++i)
        values.push_back(text(std::to_wstring(i), "p" + std::to_string(i) + "@x.com,P" + std::to_string(i)));
    return values;
}

TEST(AddressBookDeletion, KeepsEveryOtherValueAndEndsAsARewriteFromScratchWould) {
    auto withBadValue = book(5);
    withBadValue[2] = {L"2", 4, {7, 0, 0, 0}};
    const std::vector<std::pair<const char*, std::vector<RegValue>>> books = {
        {"more than ten", book(12)},
        {"gaps and odd names", {text(L"0", "a@x,A"), text(L"3", "b@x,B"), text(L"x", "c@x,C"), text(L"", "d@x,D"),
                                text(L"007", "e@x,E,with,commas")}},
        {"a gap, in order", {text(L"0", "a@x,A"), text(L"1", "b@x,B"), text(L"3", "c@x,C"), text(L"4", "d@x,D"),
                             text(L"5", "e@x,E")}},
        {"a value no load reads, in the middle", withBadValue},
        {"no comma", {text(L"0", "a@x,A"), text(L"1", "nocomma"), text(L"2", "c@x,C")}},
    };
    for (const auto& [what, values] : books) {
        for (bool listsByName : {true, false}) {
            ModelKey key{listsByName, values};
            // The entries a load takes from the listed values: up to the first one that is no record.
            EntryList entries;
            for (const RegValue& value : key.listed()) {
                const std::string data(value.data.begin(), value.data.end());
                if (value.type != kStringValueType || data.find(',') == std::string::npos) break;
                entries.add(std::wstring(data.begin(), data.end()), L"", value.data);
            }
            for (std::size_t index = 0; index < entries.entries().size(); ++index) {
                SCOPED_TRACE(std::string(what) + (listsByName ? ", by name" : ", as made") + ", entry " +
                             std::to_string(index));
                const auto kept = entries.valuesWithout(index, key.listed());
                ASSERT_TRUE(kept);
                const std::vector<RegValue>& wanted = *kept;
                auto remaining = values;
                remaining.erase(std::find_if(remaining.begin(), remaining.end(),
                                             [&](auto& v) { return v.data == entries.entries()[index].stored; }));
                // The same types and data, whatever their names and order.
                EXPECT_TRUE(std::is_permutation(wanted.begin(), wanted.end(), remaining.begin(), remaining.end(),
                                                [](auto& a, auto& b) { return a.sameContent(b); }));

                ModelKey scratch = key, planned = key;
                for (const RegValue& value : key.values) scratch.remove(value.name);
                for (std::size_t i = 0; i < wanted.size(); ++i)
                    scratch.write({std::to_wstring(i), wanted[i].type, wanted[i].data});
                const ValueRewrite plan = planDenseRewrite(key.listed(), wanted);
                for (const auto& name : plan.removals) planned.remove(name);
                for (const auto& value : plan.writes) planned.write(value);
                EXPECT_EQ(planned.listed(), scratch.listed());
            }
        }
    }
}

TEST(AddressBookDeletion, AnEntryTheStoreNoLongerHoldsIsNothingToDelete) {
    EntryList entries;
    for (const RegValue& value : book(2)) entries.add(L"", L"", value.data);
    EXPECT_FALSE(entries.valuesWithout(0, {book(2)[1]}));  // another program took it out
}

TEST(AddressBookDeletion, TouchesOnlyWhatChanges) {
    const auto stored = book(5000);
    auto wanted = stored;
    wanted.erase(wanted.begin() + 4990);
    const ValueRewrite nearEnd = planDenseRewrite(stored, wanted);
    EXPECT_EQ(nearEnd.removals, std::vector<std::wstring>{L"4999"});
    EXPECT_EQ(nearEnd.writes.size(), 9u);
}

}  // namespace
}  // namespace kt
