#pragma once
// Text cut into pieces at a separator.

#include <string>
#include <vector>

namespace kt {

// The pieces between the separators, empty ones included: joined with the
// separator they give the text back. The empty text is one empty piece.
std::vector<std::wstring> splitAtEvery(const std::wstring& text, wchar_t separator);

}  // namespace kt
