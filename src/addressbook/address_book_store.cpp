#include "addressbook/address_book_store.h"

#include <windows.h>

#include <set>

#include "foundation/component_error.h"

namespace kt {
namespace {
constexpr bool kQuiet = true;
}

std::optional<unsigned long> storedValueCount() {
    RegKeyInfo info;
    if (!GetRegItemInfo(kAddressBookKey, HKEY_CURRENT_USER, info, kQuiet)) return std::nullopt;
    return info.ValueCount;
}

std::optional<RegSnapshot> storeSnapshot() {
    try {
        return RegSnapshot::take(HKEY_CURRENT_USER, kAddressBookKey);
    } catch (const ComponentError&) {
        return std::nullopt;
    }
}

RegAbsenceWatch storeAbsenceWatch() { return RegAbsenceWatch(HKEY_CURRENT_USER, kAddressBookKey); }

std::optional<std::wstring> recordTextOf(const RegValue& value) {
    if (value.type != REG_SZ || value.name.size() > kLongestTextByPosition ||
        value.data.size() > (kLongestTextByPosition + 1) * sizeof(wchar_t))
        return std::nullopt;
    return textOf(value.data);
}

bool storeRecord(const std::wstring& valueName, const std::wstring& record) {
    return SetRegStr(kAddressBookKey, valueName, record, HKEY_CURRENT_USER, kQuiet) != kSetRegStrFailed;
}

std::wstring newValueName(const std::vector<RegValue>& stored) {
    std::set<std::wstring> taken;
    for (const RegValue& value : stored) taken.insert(value.name);
    std::size_t number = stored.size();
    while (taken.count(std::to_wstring(number))) ++number;
    return std::to_wstring(number);
}

RewriteFailures rewriteStore(const std::vector<RegValue>& stored, const std::vector<RegValue>& values) {
    return ApplyRegRewrite(HKEY_CURRENT_USER, kAddressBookKey, planDenseRewrite(stored, values));
}

}  // namespace kt
