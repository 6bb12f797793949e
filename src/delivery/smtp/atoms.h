#pragma once
// The atoms of RFC 5322, which addresses and plain display names are made of.

#include <string>

namespace kt {

// A character of an atom (RFC 5322 "atext").
bool isAtext(wchar_t c);

// Atoms separated by single separators, with none at either end: with "." a
// dot-atom (the parts of an address), with a blank a phrase that needs no quoting.
bool isAtomsSeparatedBy(const std::wstring& text, wchar_t separator);

}  // namespace kt
