#pragma once
// The order of texts as the user's locale sorts them, ignoring case: the
// order of a sorted list box (CompareStringW), as keys compared byte by byte.

#include <string>

namespace kt {

std::string localeSortKey(const std::wstring& text);

}  // namespace kt
