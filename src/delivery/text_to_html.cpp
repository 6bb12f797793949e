#include "delivery/text_to_html.h"

namespace kt {
namespace {
constexpr std::size_t kLastPairStart = 32765;  // 1-based position of the last pair that converts
}

std::wstring TextToHtml(const std::wstring& text) {
    static const std::wstring kLineBreak = L"\r\n";
    std::size_t found = text.find(kLineBreak);
    if (found == std::wstring::npos) return text;

    std::wstring html;
    html.reserve(text.size() + text.size() / 8);
    std::size_t start = 0;
    while (found != std::wstring::npos) {
        if (found + 1 > kLastPairStart) return text;
        html.append(text, start, found - start).append(L"<br>");
        start = found + 2;
        found = text.find(kLineBreak, start);
    }
    return html.append(text, start, std::wstring::npos);
}

}  // namespace kt
