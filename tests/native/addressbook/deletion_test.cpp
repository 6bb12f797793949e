// A deletion from the address book: what the store holds afterwards, computed
// from the picker's entries and what the store held, then written with the
// fewest changes. Checked against removing every value and writing the rest
// back, on a registry that lists values by name and on one that lists them in
// the order they were made.

#include <gtest/gtest.h>

#include <algorithm>

#include "addressbook/entry_list.h"
#include "settings/value_rewrite.h"

namespace kt {

bool operator==(const RegValue& a, const RegValue& b) { return a.name == b.name && a.sameContent(b); }

namespace {

std::vector<unsigned char> bytes(const std::string& text) { return {text.begin(), text.end()}; }
RegValue text(const std::wstring& name, const std::string& data) { return {name, kStringValueType, bytes(data)}; }
RegValue number(const std::wstring& name, unsigned char data) { return {name, 4, {data, 0, 0, 0}}; }

// A key of the registry, listing its values by name or in the order made.
struct ModelKey {
    bool listsByName;
    std::vector<RegValue> values;  // in the order made

    std::vector<RegValue> listed() const {
        auto list = values;
        if (listsByName)
            std::sort(list.begin(), list.end(), [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
        return list;
    }
    void remove(const std::wstring& name) {
        values.erase(std::remove_if(values.begin(), values.end(), [&](const RegValue& v) { return v.name == name; }),
                     values.end());
    }
    void write(const RegValue& value) {
        const auto existing =
            std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return v.name == value.name; });
        if (existing != values.end())
            *existing = value;
        else
            values.push_back(value);
    }
};

// The key after a rewrite from scratch, and after the planned one.
std::pair<std::vector<RegValue>, std::vector<RegValue>> rewrite(ModelKey key, const std::vector<RegValue>& wanted) {
    ModelKey scratch = key;
    for (const RegValue& value : scratch.listed()) scratch.remove(value.name);
    for (std::size_t i = 0; i < wanted.size(); ++i) scratch.write({std::to_wstring(i), wanted[i].type, wanted[i].data});

    const ValueRewrite plan = planDenseRewrite(key.listed(), wanted);
    for (const auto& name : plan.removals) key.remove(name);
    for (const auto& value : plan.writes) key.write(value);
    return {scratch.listed(), key.listed()};
}

// The entries a load takes from the listed values: up to the first one that is no record.
EntryList loaded(const std::vector<RegValue>& listed) {
    EntryList entries;
    for (const RegValue& value : listed) {
        const std::string data(value.data.begin(), value.data.end());
        const auto comma = data.find(',');
        if (value.type != kStringValueType || comma == std::string::npos) break;
        const std::string name = data.substr(comma + 1, data.find(',', comma + 1) - comma - 1);
        entries.add(std::wstring(name.begin(), name.end()), L"", value.data);
    }
    return entries;
}

std::vector<RegValue> book(std::size_t count) {
    std::vector<RegValue> values;
    for (std::size_t i = 0; i < count; ++i)
        values.push_back(text(std::to_wstring(i), "p" + std::to_string(i) + "@x.com,P" + std::to_string(i)));
    return values;
}

std::size_t countOf(const std::vector<RegValue>& values, const RegValue& content) {
    return static_cast<std::size_t>(
        std::count_if(values.begin(), values.end(), [&](const RegValue& v) { return v.sameContent(content); }));
}

TEST(AddressBookDeletion, EndsAsARewriteFromScratchWouldOnEveryKindOfBook) {
    auto withBadValue = book(5);
    withBadValue.insert(withBadValue.begin() + 2, number(L"", 7));
    for (std::size_t i = 0; i < withBadValue.size(); ++i) withBadValue[i].name = std::to_wstring(i);
    const std::vector<std::pair<const char*, std::vector<RegValue>>> books = {
        {"dense", book(4)},
        {"more than ten", book(23)},
        {"gaps and odd names", {text(L"0", "a@x,A"), text(L"3", "b@x,B"), text(L"x", "c@x,C"), text(L"", "d@x,D"),
                                text(L"007", "e@x,E,with,commas")}},
        {"a gap, in order", {text(L"0", "a@x,A"), text(L"1", "b@x,B"), text(L"3", "c@x,C"), text(L"4", "d@x,D"),
                             text(L"5", "e@x,E")}},
        {"a value no load reads, in the middle", withBadValue},
        {"no comma", {text(L"0", "a@x,A"), text(L"1", "nocomma"), text(L"2", "c@x,C")}},
    };
    for (const auto& [what, values] : books) {
        for (bool listsByName : {true, false}) {
            const ModelKey key{listsByName, values};
            const EntryList entries = loaded(key.listed());
            for (std::size_t index = 0; index < entries.entries().size(); ++index) {
                SCOPED_TRACE(std::string(what) + (listsByName ? ", listed by name" : ", listed as made") +
                             ", deleting entry " + std::to_string(index));
                const auto wanted = entries.valuesWithout(index, key.listed());
                // Every value but the deleted entry's stays, exactly.
                auto remaining = values;
                remaining.erase(std::find_if(remaining.begin(), remaining.end(), [&](const RegValue& v) {
                    return v.data == entries.entries()[index].stored;
                }));
                ASSERT_EQ(wanted.size(), remaining.size());
                for (const RegValue& value : remaining) EXPECT_EQ(countOf(wanted, value), countOf(remaining, value));

                const auto [scratch, planned] = rewrite(key, wanted);
                EXPECT_EQ(planned, scratch);
            }
        }
    }
}

TEST(AddressBookDeletion, LoadedEntriesComeFirstThenWhatTheLoadDidNotReach) {
    const std::vector<RegValue> stored = {text(L"0", "a@x,A"), number(L"1", 9), text(L"2", "c@x,C")};
    EntryList entries = loaded(stored);           // only A: the load stops at the number
    entries.add(L"N", L"n@x,N", bytes("n@x,N"));  // added in the picker, its write failed
    const auto wanted = entries.valuesWithout(0, stored);
    ASSERT_EQ(wanted.size(), 3u);
    EXPECT_TRUE(wanted[0].sameContent(text(L"", "n@x,N")));
    EXPECT_TRUE(wanted[1].sameContent(number(L"", 9)));
    EXPECT_TRUE(wanted[2].sameContent(text(L"", "c@x,C")));
}

TEST(AddressBookDeletion, TwoEntriesOfOneNameEachDeleteTheirOwnValue) {
    const std::vector<RegValue> stored = {text(L"0", "a@x,Ann"), text(L"1", "b@x,Ann")};
    const EntryList entries = loaded(stored);
    ASSERT_NE(entries.entries()[0].id, entries.entries()[1].id);
    const auto wanted = entries.valuesWithout(1, stored);
    ASSERT_EQ(wanted.size(), 1u);
    EXPECT_TRUE(wanted[0].sameContent(stored[0]));
}

TEST(AddressBookDeletion, TouchesOnlyWhatChanges) {
    const auto stored = book(5000);
    auto wanted = stored;
    wanted.pop_back();
    const ValueRewrite last = planDenseRewrite(stored, wanted);
    EXPECT_EQ(last.removals, std::vector<std::wstring>{L"4999"});
    EXPECT_TRUE(last.writes.empty());

    wanted.erase(wanted.begin() + 4990);
    wanted.push_back(stored.back());
    const ValueRewrite nearEnd = planDenseRewrite(stored, wanted);
    EXPECT_EQ(nearEnd.removals.size(), 1u);
    EXPECT_EQ(nearEnd.writes.size(), 9u);
}

}  // namespace
}  // namespace kt
