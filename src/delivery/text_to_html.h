#pragma once
// TextToHtml: every CR LF pair of a text becomes "<br>"; nothing else changes.

#include <string>

namespace kt {

// Pairs are found left to right without overlap. If a pair begins at position
// 32,766 or later (counting from 1), the position after it would not fit the
// 16-bit positions of the conversion: the input is then returned unchanged.
std::wstring TextToHtml(const std::wstring& text);

}  // namespace kt
