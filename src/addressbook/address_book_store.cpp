#include "addressbook/address_book_store.h"

#include <windows.h>

#include <set>

#include "settings/modRegFunctions.h"

namespace kt {
namespace {
constexpr bool kQuiet = true;
}

std::optional<unsigned long> storedValueCount() {
    RegKeyInfo info;
    if (!GetRegItemInfo(kAddressBookKey, HKEY_CURRENT_USER, info, kQuiet)) return std::nullopt;
    return info.ValueCount;
}

std::wstring storedRecordAt(long position) {
    return GetRegStrbyItemNum(kAddressBookKey, position, HKEY_CURRENT_USER, kQuiet, L"");
}

std::wstring storedNameAt(long position) {
    return GetRegItemNamebyItemNum(kAddressBookKey, position, HKEY_CURRENT_USER, kQuiet, L"");
}

bool storeRecord(const std::wstring& valueName, const std::wstring& record) {
    return SetRegStr(kAddressBookKey, valueName, record, HKEY_CURRENT_USER, kQuiet) != L"Error";
}

void removeStoredValue(const std::wstring& valueName) {
    DeleteRegValue(HKEY_CURRENT_USER, kAddressBookKey, valueName);
}

std::wstring newValueName(unsigned long valueCount) {
    std::set<std::wstring> taken;
    for (unsigned long position = 0; position < valueCount; ++position)
        taken.insert(storedNameAt(static_cast<long>(position)));
    unsigned long number = valueCount;
    while (taken.count(std::to_wstring(number))) ++number;
    return std::to_wstring(number);
}

}  // namespace kt
