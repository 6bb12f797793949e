#pragma once
// Character rules of RFC 5322 that addresses and header texts share, and
// the ASCII case and outer blanks of names.

#include <string>
#include <string_view>

namespace kt {

// A character of an atom (RFC 5322 "atext").
bool isAtext(wchar_t c);

// Atoms separated by single separators, with none at either end: with "." a
// dot-atom (the parts of an address), with a blank a phrase that needs no quoting.
bool isAtomsSeparatedBy(const std::wstring& text, wchar_t separator);

// The text with every control character (line breaks included) replaced.
std::wstring withControlsReplaced(const std::wstring& text, wchar_t replacement);

// A to Z in lower case and nothing else changed: for names whose case means
// nothing and whose letters are ASCII (hosts, schemes, token types, tags).
template <typename Char>
constexpr Char asciiLower(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}
template <typename Text>
Text asciiLowerCase(Text text) {
    for (auto& c : text) c = asciiLower(c);
    return text;
}

// The text without the blanks at either end (of those named).
std::wstring withoutOuterBlanks(std::wstring_view text, std::wstring_view blanks = L" ");

}  // namespace kt
