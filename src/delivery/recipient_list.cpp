#include "delivery/recipient_list.h"

#include "settings/component_error.h"

namespace kt {
namespace {
constexpr std::size_t kMax16 = 32767;
}

std::vector<std::wstring> splitRecipientList(const std::wstring& list) {
    std::vector<std::wstring> entries;
    if (list.empty()) return entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t separator = list.find(L';', start);
        entries.push_back(list.substr(start, separator == std::wstring::npos ? std::wstring::npos : separator - start));
        if (separator == std::wstring::npos) return entries;
        start = separator + 1;
    }
}

void checkEntryCount16(const std::vector<std::wstring>& entries) {
    if (entries.size() > kMax16) throw overflowError();
}

RecipientEntry splitRecipientEntry(const std::wstring& entry) {
    const std::size_t first = entry.find(L',');
    if (first == std::wstring::npos) throw subscriptOutOfRangeError();
    const std::size_t second = entry.find(L',', first + 1);
    return {entry.substr(0, first),
            entry.substr(first + 1, second == std::wstring::npos ? std::wstring::npos : second - first - 1)};
}

long findPosition16(const std::wstring& text, wchar_t character, long from) {
    const std::size_t found = text.find(character, from > 0 ? static_cast<std::size_t>(from - 1) : 0);
    if (found == std::wstring::npos) return 0;
    if (found + 1 > kMax16) throw overflowError();
    return static_cast<long>(found + 1);
}

}  // namespace kt
