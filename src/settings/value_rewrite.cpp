#include "settings/value_rewrite.h"

#include <algorithm>
#include <unordered_map>

namespace kt {
namespace {

bool listedByName(const std::vector<RegValue>& stored) {
    return std::is_sorted(stored.begin(), stored.end(),
                          [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
}

bool denseInOrder(const std::vector<RegValue>& stored) {
    for (std::size_t i = 0; i < stored.size(); ++i)
        if (stored[i].name != std::to_wstring(i)) return false;
    return true;
}

// True for the names "0" to (limit - 1), written as numbers are written.
bool isNumberBelow(const std::wstring& name, std::size_t limit) {
    const std::wstring highest = std::to_wstring(limit);
    if (name.empty() || name.size() > highest.size() || (name.size() > 1 && name[0] == L'0') ||
        name.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    return name.size() < highest.size() || name < highest;
}

}  // namespace

ValueRewrite planDenseRewrite(const std::vector<RegValue>& stored, const std::vector<RegValue>& wanted) {
    ValueRewrite plan;
    // Values kept or overwritten in place stay where the registry lists them;
    // that matches a rewrite from scratch only when the registry lists by name
    // or the key is already numbered in order. Otherwise start from scratch.
    if (!listedByName(stored) && !denseInOrder(stored)) {
        for (const RegValue& value : stored) plan.removals.push_back(value.name);
        for (std::size_t i = 0; i < wanted.size(); ++i)
            plan.writes.push_back({std::to_wstring(i), wanted[i].type, wanted[i].data});
        return plan;
    }
    std::unordered_map<std::wstring, const RegValue*> byName;
    for (const RegValue& value : stored) byName.emplace(value.name, &value);
    for (const RegValue& value : stored)
        if (!isNumberBelow(value.name, wanted.size())) plan.removals.push_back(value.name);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const std::wstring name = std::to_wstring(i);
        const auto existing = byName.find(name);
        if (existing == byName.end() || !existing->second->sameContent(wanted[i]))
            plan.writes.push_back({name, wanted[i].type, wanted[i].data});
    }
    return plan;
}

}  // namespace kt
