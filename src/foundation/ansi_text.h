#pragma once
// Conversion between the component's UTF-16 text and the system's ANSI code
// page, for the registry and HTML Help, which take ANSI text.

#include <string>

namespace kt {

std::string toAnsi(const std::wstring& text);
std::wstring fromAnsi(const std::string& text);

}  // namespace kt
