#include "delivery/recipient_list.h"

#include <utility>

#include "foundation/component_error.h"
#include "foundation/split.h"

namespace kt {
namespace {
constexpr std::size_t kMax16 = 32767;
}

std::vector<std::wstring> splitRecipientList(const std::wstring& list) {
    return list.empty() ? std::vector<std::wstring>() : splitAtEvery(list, L';');
}

void checkEntryCount16(const std::vector<std::wstring>& entries) {
    if (entries.size() > kMax16) throw overflowError();
}

AddressAndName splitRecipientEntry(const std::wstring& entry) {
    auto split = splitAddressAndName(entry);
    if (!split) throw subscriptOutOfRangeError();
    return std::move(*split);
}

long findPosition16(const std::wstring& text, wchar_t character, long from) {
    const std::size_t found = text.find(character, from > 0 ? static_cast<std::size_t>(from - 1) : 0);
    if (found == std::wstring::npos) return 0;
    if (found + 1 > kMax16) throw overflowError();
    return static_cast<long>(found + 1);
}

}  // namespace kt
