#pragma once
// UTF-8 for the wire. wchar_t text is UTF-16 on Windows and UTF-32 elsewhere;
// an unpaired surrogate becomes U+FFFD.

#include <string>
#include <string_view>

namespace kt {

std::wstring fromUtf8(const std::string& text);

// The code point that starts at text[i], moving i past it (past both halves
// of a surrogate pair); U+FFFD for an unpaired surrogate.
char32_t nextCodePoint(std::wstring_view text, std::size_t& i);

// Appends a code point as wchar_t text; a surrogate or a value beyond
// U+10FFFF as U+FFFD.
void appendCodePoint(std::wstring& out, char32_t c);

// Writes the UTF-8 bytes of a code point to `out` (room for 4); returns how many.
int encodeUtf8(char32_t c, char* out);

// How many UTF-8 bytes a code point, or a text, takes; counted, nothing written.
std::size_t utf8Length(char32_t c);
std::size_t utf8Length(std::wstring_view text);

// As a std::string, or as a SecretText for a secret.
template <class Text = std::string>
Text toUtf8(std::wstring_view text) {
    Text out(utf8Length(text), '\0');
    char* at = out.data();
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned>(text[i]) < 0x80)
            *at++ = static_cast<char>(text[i++]);
        else
            at += encodeUtf8(nextCodePoint(text, i), at);
    }
    return out;
}

}  // namespace kt
