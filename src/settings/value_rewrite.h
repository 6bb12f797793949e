#pragma once
// Renumbering the values of a key: after it the key holds the wanted values,
// named "0" to n-1 in their order, and nothing else, just as if every value
// had been removed and the wanted ones written afresh. Only what differs is
// touched: a value that already holds what its number should hold stays.

#include <string>
#include <vector>

namespace kt {

// A value as the registry holds it: name, type and data bytes.
struct RegValue {
    std::wstring name;
    unsigned long type = 0;
    std::vector<unsigned char> data;

    bool sameContent(const RegValue& other) const { return type == other.type && data == other.data; }
};

struct ValueRewrite {
    std::vector<std::wstring> removals;  // first, in this order
    std::vector<RegValue> writes;        // then, in this order
};

// The changes that turn `stored` (the key's values in the order the registry
// lists them) into `wanted` (their names are ignored). A registry lists
// values by name or in the order they were made; either way the key then
// lists the values as a rewrite from scratch would. Removals go first, so a
// value made anew goes after the ones that stay.
ValueRewrite planDenseRewrite(const std::vector<RegValue>& stored, const std::vector<RegValue>& wanted);

}  // namespace kt
