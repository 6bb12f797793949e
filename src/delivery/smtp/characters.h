#pragma once
// Character rules of RFC 5322 that addresses and header texts share.

#include <string>

namespace kt {

// A character of an atom (RFC 5322 "atext").
bool isAtext(wchar_t c);

// Atoms separated by single separators, with none at either end: with "." a
// dot-atom (the parts of an address), with a blank a phrase that needs no quoting.
bool isAtomsSeparatedBy(const std::wstring& text, wchar_t separator);

// The text with every control character (line breaks included) replaced.
std::wstring withControlsReplaced(const std::wstring& text, wchar_t replacement);

// The text with A to Z in lower case and nothing else changed: for names
// whose case means nothing and whose letters are ASCII (hosts, schemes,
// token types).
template <typename Text>
Text asciiLowerCase(Text text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<typename Text::value_type>(c - 'A' + 'a');
    return text;
}

}  // namespace kt
