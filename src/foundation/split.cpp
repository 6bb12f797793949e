#include "foundation/split.h"

namespace kt {

std::vector<std::wstring> splitAtEvery(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t found = text.find(separator, start);
        pieces.push_back(text.substr(start, found == std::wstring::npos ? std::wstring::npos : found - start));
        if (found == std::wstring::npos) return pieces;
        start = found + 1;
    }
}

}  // namespace kt
