#include "delivery/smtp/address_rules.h"

#include <cstring>

#include "delivery/smtp/mail_error.h"

namespace kt {
namespace {

bool isAtext(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           (c < 0x80 && c != 0 && std::strchr("!#$%&'*+-/=?^_`{|}~", static_cast<char>(c)) != nullptr);
}

// Dot-atom text: atoms separated by single dots.
bool isDotAtom(const std::wstring& text) {
    if (text.empty() || text.front() == L'.' || text.back() == L'.') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'.') {
            if (text[i + 1] == L'.') return false;
        } else if (!isAtext(text[i])) {
            return false;
        }
    }
    return true;
}

bool isDomainLiteral(const std::wstring& text) {
    if (text.size() < 3 || text.front() != L'[' || text.back() != L']') return false;
    for (std::size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] <= 0x20 || text[i] >= 0x7F || text[i] == L'[' || text[i] == L']' || text[i] == L'\\')
            return false;
    return true;
}

// The address as a failure description may show it: control characters as "?".
std::wstring printable(const std::wstring& text) {
    std::wstring shown = text;
    for (auto& c : shown)
        if (c < 0x20 || c == 0x7F) c = L'?';
    return shown;
}

}  // namespace

std::string checkedAddress(const std::wstring& address) {
    const auto first = address.find_first_not_of(L" \t");
    const auto last = address.find_last_not_of(L" \t");
    const std::wstring trimmed = first == std::wstring::npos ? std::wstring() : address.substr(first, last - first + 1);
    const auto at = trimmed.rfind(L'@');
    const bool valid = at != std::wstring::npos && isDotAtom(trimmed.substr(0, at)) &&
                       (isDotAtom(trimmed.substr(at + 1)) || isDomainLiteral(trimmed.substr(at + 1)));
    if (!valid) {
        throw mailError(MailFailure::InvalidAddress,
                        trimmed.empty() ? L"An e-mail address is empty."
                                        : L"\"" + printable(address) + L"\" is not a valid e-mail address.");
    }
    return std::string(trimmed.begin(), trimmed.end());  // ASCII by the checks above
}

}  // namespace kt
