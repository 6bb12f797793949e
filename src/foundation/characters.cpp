#include "foundation/characters.h"

namespace kt {

bool isAtext(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           (c != 0 && std::wstring(L"!#$%&'*+-/=?^_`{|}~").find(c) != std::wstring::npos);
}

bool isAtomsSeparatedBy(const std::wstring& text, wchar_t separator) {
    if (text.empty() || text.front() == separator || text.back() == separator) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == separator) {
            if (text[i + 1] == separator) return false;
        } else if (!isAtext(text[i])) {
            return false;
        }
    }
    return true;
}

std::wstring withControlsReplaced(const std::wstring& text, wchar_t replacement) {
    std::wstring clean = text;
    for (auto& c : clean)
        if (c < 0x20 || c == 0x7F) c = replacement;
    return clean;
}

std::wstring withoutOuterBlanks(std::wstring_view text, std::wstring_view blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::wstring_view::npos) return {};
    return std::wstring(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

}  // namespace kt
