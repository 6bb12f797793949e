#include "delivery/message/address_rules.h"

#include <algorithm>

#include "foundation/characters.h"
#include "foundation/idna.h"
#include "delivery/mail_error.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

// What the SMTP envelope can carry (RFC 5321: 256 octets with the brackets).
constexpr std::size_t kLongestAddress = 254;

bool isAscii(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
}

bool isDomainLiteral(const std::wstring& text) {
    if (text.size() < 3 || text.front() != L'[' || text.back() != L']') return false;
    for (std::size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] <= 0x20 || text[i] >= 0x7F || text[i] == L'[' || text[i] == L']' || text[i] == L'\\')
            return false;
    return true;
}

// A dot-atom whose atoms may hold letters beyond ASCII (RFC 6532), but no
// control or separator of theirs and no half of a character.
bool isInternationalDotAtom(const std::wstring& text) {
    std::wstring asAscii = text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] < 0x80) continue;
        std::size_t at = i;
        const char32_t c = nextCodePoint(text, at);
        const bool letter = c >= 0xA0 && c != 0xFFFD && c != 0x2028 && c != 0x2029 && c != 0xFEFF;
        if (!letter) return false;
        for (; i < at; ++i) asAscii[i] = L'a';  // stands for an atom character
        --i;
    }
    return isAtomsSeparatedBy(asAscii, L'.');
}

// A host name of labels of letters, digits and hyphens, 63 at most, with
// no hyphen at either end (RFC 1123): what an international domain becomes.
bool isHostName(const std::string& name) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(name.find('.', start), name.size());
        const std::string label = name.substr(start, end - start);
        const bool letters = std::all_of(label.begin(), label.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        });
        if (label.empty() || label.size() > 63 || !letters || label.front() == '-' || label.back() == '-') return false;
        if (end == name.size()) return true;
        start = end + 1;
    }
}

// No label of a domain as written starts or ends with a hyphen (IDNA 2008),
// which its A-label would hide. Labels end at any of the dots IDNA knows.
bool hasHyphenAtALabelsEnd(const std::wstring& domain) {
    const auto isDot = [](wchar_t c) { return c == L'.' || c == L'\u3002' || c == L'\uFF0E' || c == L'\uFF61'; };
    for (std::size_t i = 0; i < domain.size(); ++i) {
        const bool labelStart = i == 0 || isDot(domain[i - 1]), labelEnd = i + 1 == domain.size() || isDot(domain[i + 1]);
        if (domain[i] == L'-' && (labelStart || labelEnd)) return true;
    }
    return false;
}

[[noreturn]] void refuse(const std::wstring& address, const std::wstring& why = L"") {
    throw mailError(MailFailure::InvalidAddress,
                    address.empty() ? L"An e-mail address is empty."
                                    : L"\"" + withControlsReplaced(address, L'?') + L"\" is not a valid e-mail address" +
                                          why + L".");
}

}  // namespace

bool MailAddress::needsSmtpUtf8() const {
    return std::any_of(local.begin(), local.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

MailAddress checkedAddress(const std::wstring& address) {
    const std::wstring trimmed = withoutOuterBlanks(address, L" \t");
    const auto at = trimmed.rfind(L'@');
    if (at == std::wstring::npos) refuse(trimmed);
    const std::wstring local = trimmed.substr(0, at), domain = trimmed.substr(at + 1);
    if (!isInternationalDotAtom(local)) refuse(trimmed);

    MailAddress checked{toUtf8(local), {}, toUtf8(domain)};
    if (isDomainLiteral(domain) || (isAscii(domain) && isAtomsSeparatedBy(domain, L'.'))) {
        checked.domain = checked.unicodeDomain;
    } else if (isInternationalDotAtom(domain)) {
        const auto ascii = domainToAscii(domain);
        if (!ascii || !isHostName(*ascii) || hasHyphenAtALabelsEnd(domain))
            refuse(trimmed, L": its domain is no valid international domain name");
        checked.domain = *ascii;
    } else {
        refuse(trimmed);
    }
    if (std::max(checked.ascii().size(), checked.unicode().size()) > kLongestAddress) refuse(trimmed);
    return checked;
}

}  // namespace kt
