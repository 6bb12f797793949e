#include "settings/value_rewrite.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace kt {
namespace {

// The number a value's name writes, if it is one as numbers are written.
std::optional<std::size_t> numberOf(const std::wstring& name) {
    if (name.empty() || name.size() > 9 || (name.size() > 1 && name[0] == L'0') ||
        name.find_first_not_of(L"0123456789") != std::wstring::npos)
        return std::nullopt;
    return std::stoul(name);
}

// True for the names "0" to (limit - 1), written as numbers are written.
bool isNumberBelow(const std::wstring& name, std::size_t limit) {
    const auto number = numberOf(name);
    return number && *number < limit;
}

// Whether the registry lists the key's values by name rather than in the
// order they were made: they are in name order, and the numbers among them
// are not in their own order ("10" before "2").
bool listedByName(const std::vector<RegValue>& stored) {
    if (!std::is_sorted(stored.begin(), stored.end(),
                        [](const RegValue& a, const RegValue& b) { return a.name < b.name; }))
        return false;
    std::size_t highest = 0;
    for (const RegValue& value : stored) {
        const auto number = numberOf(value.name);
        if (number && *number < highest) return true;
        if (number) highest = *number;
    }
    return false;
}

// How many of the values "0", "1", ... the key holds, listed in their order:
// they may stay where they are when the key lists values in the order made.
std::size_t numberedInOrder(const std::vector<RegValue>& stored) {
    std::unordered_map<std::wstring, std::size_t> position;
    for (std::size_t i = 0; i < stored.size(); ++i) position.emplace(stored[i].name, i);
    std::size_t count = 0;
    for (std::size_t last = 0;; ++count) {
        const auto found = position.find(std::to_wstring(count));
        if (found == position.end() || (count > 0 && found->second < last)) return count;
        last = found->second;
    }
}

}  // namespace

ValueRewrite planDenseRewrite(const std::vector<RegValue>& stored, const std::vector<RegValue>& wanted) {
    // Where the registry lists by name, any value of a wanted name may stay
    // and only its content matter. Where it lists in the order made, a value
    // overwritten in place keeps its place in the list: only "0", "1", ...
    // listed in their order may stay; the others are made anew, in order.
    const std::size_t mayStay = listedByName(stored) ? wanted.size() : std::min(numberedInOrder(stored), wanted.size());
    std::unordered_map<std::wstring, const RegValue*> byName;
    for (const RegValue& value : stored) byName.emplace(value.name, &value);
    ValueRewrite plan;
    for (const RegValue& value : stored)
        if (!isNumberBelow(value.name, mayStay)) plan.removals.push_back(value.name);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const std::wstring name = std::to_wstring(i);
        const auto existing = byName.find(name);
        if (i >= mayStay || existing == byName.end() || !existing->second->sameContent(wanted[i]))
            plan.writes.push_back({name, wanted[i].type, wanted[i].data});
    }
    return plan;
}

}  // namespace kt
