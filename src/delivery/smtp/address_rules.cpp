#include "delivery/smtp/address_rules.h"

#include "delivery/smtp/characters.h"
#include "delivery/smtp/mail_error.h"

namespace kt {
namespace {

bool isDomainLiteral(const std::wstring& text) {
    if (text.size() < 3 || text.front() != L'[' || text.back() != L']') return false;
    for (std::size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] <= 0x20 || text[i] >= 0x7F || text[i] == L'[' || text[i] == L']' || text[i] == L'\\')
            return false;
    return true;
}

}  // namespace

std::string checkedAddress(const std::wstring& address) {
    const auto first = address.find_first_not_of(L" \t");
    const auto last = address.find_last_not_of(L" \t");
    const std::wstring trimmed = first == std::wstring::npos ? std::wstring() : address.substr(first, last - first + 1);
    const auto at = trimmed.rfind(L'@');
    const bool valid = at != std::wstring::npos && isAtomsSeparatedBy(trimmed.substr(0, at), L'.') &&
                       (isAtomsSeparatedBy(trimmed.substr(at + 1), L'.') || isDomainLiteral(trimmed.substr(at + 1)));
    // What the SMTP envelope can carry (RFC 5321: 256 octets with the brackets).
    constexpr std::size_t kLongestAddress = 254;
    if (!valid || trimmed.size() > kLongestAddress) {
        throw mailError(MailFailure::InvalidAddress,
                        trimmed.empty() ? L"An e-mail address is empty."
                                        : L"\"" + withControlsReplaced(address, L'?') + L"\" is not a valid e-mail address.");
    }
    return std::string(trimmed.begin(), trimmed.end());  // ASCII by the checks above
}

}  // namespace kt
