#include "delivery/mapi/mail_program.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "foundation/characters.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

constexpr std::size_t kLongestFileName = 80;

bool isReservedDeviceName(const std::wstring& name) {
    const std::wstring base = asciiLowerCase(name.substr(0, name.find(L'.')));
    if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul") return true;
    return base.size() == 4 && (base.compare(0, 3, L"com") == 0 || base.compare(0, 3, L"lpt") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// Where a page's charset is declared: after its head's start tag, or in a
// head of its own after the html start tag, or first.
std::size_t endOfStartTag(const std::wstring& lowered, const wchar_t* tag) {
    for (std::size_t at = lowered.find(tag); at != std::wstring::npos; at = lowered.find(tag, at + 1)) {
        const wchar_t next = at + wcslen(tag) < lowered.size() ? lowered[at + wcslen(tag)] : L'\0';
        if (next != L'>' && !std::iswspace(next)) continue;  // <header>, <html5...>
        const std::size_t end = lowered.find(L'>', at);
        return end == std::wstring::npos ? std::wstring::npos : end + 1;
    }
    return std::wstring::npos;
}

const wchar_t* meaningOf(unsigned long code) {
    switch (code) {
        case 3: return L"signing in to it failed";
        case 4: return L"the disk is full";
        case 5: return L"there was not enough memory";
        case 6: return L"it refused access";
        case 8: return L"too many sessions are open";
        case 9: return L"the message has too many attachments";
        case 10: return L"the message has too many recipients";
        case 11: return L"an attachment was not found";
        case 12: return L"an attachment could not be opened";
        case 13: return L"an attachment could not be written";
        case 14: return L"a recipient is unknown to it";
        case 15: return L"it does not take a recipient of that kind (To, cc or Bcc)";
        case 17: return L"it found the message invalid";
        case 18: return L"the text is too large for it";
        case 20: return L"it does not take an attachment of that type";
        case 21: return L"a recipient is ambiguous: more than one entry of its address book matches";
        case 22: return L"the message is in use";
        case 23: return L"the network failed";
        case 25: return L"a recipient is not valid";
        case 27: return L"it does not take text in Unicode";
        case 28: return L"an attachment is too large for it";
        default: return L"it failed";
    }
}

}  // namespace

bool usesMailProgram(const std::wstring& server) {
    const std::wstring text = withoutOuterBlanks(server, L" \t");
    return text.empty() || asciiLowerCase(text) == L"mapi:";
}

std::wstring pageFileName(const std::wstring& subject) {
    std::wstring name;
    for (const wchar_t c : subject)
        name += c < 0x20 || c == 0x7F || std::wstring(L"<>:\"/\\|?*").find(c) != std::wstring::npos ? L'_' : c;
    if (name.size() > kLongestFileName) {
        name.resize(kLongestFileName);
        if (name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();  // half a character
    }
    // Windows drops dots and blanks at the end of a name, and blanks at its start confuse.
    name.erase(name.find_last_not_of(L". ") == std::wstring::npos ? 0 : name.find_last_not_of(L". ") + 1);
    name.erase(0, std::min(name.size(), name.find_first_not_of(L' ')));
    if (name.empty()) name = L"Page";
    if (isReservedDeviceName(name)) name.insert(0, 1, L'_');
    return name + L".htm";
}

std::string pageFileBytes(const std::wstring& page) {
    static const wchar_t kMeta[] = L"<meta charset=\"utf-8\">";
    std::wstring declared = page;
    const std::wstring lowered = asciiLowerCase(page);
    if (const auto head = endOfStartTag(lowered, L"<head"); head != std::wstring::npos)
        declared.insert(head, kMeta);
    else if (const auto html = endOfStartTag(lowered, L"<html"); html != std::wstring::npos)
        declared.insert(html, std::wstring(L"<head>") + kMeta + L"</head>");
    else
        declared.insert(0, kMeta);
    return "\xEF\xBB\xBF" + toUtf8(declared);
}

ComponentError mailProgramFailure(unsigned long code, const std::wstring& program) {
    return ComponentError(kMailProgramErrorBase + static_cast<long>(code), kMailProgramErrorSource,
                          L"The mail program " + program + L" did not take the message: " + meaningOf(code) +
                              L" (Simple MAPI code " + std::to_wstring(code) + L").");
}

}  // namespace kt
