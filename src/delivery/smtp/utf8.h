#pragma once
// UTF-8 for the wire. wchar_t text is UTF-16 on Windows and UTF-32 elsewhere;
// an unpaired surrogate becomes U+FFFD.

#include <string>

namespace kt {

std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

}  // namespace kt
