#include "support/address_book_fixture.h"

#include "addressbook/address_book_store.h"

namespace kt::test {
namespace {

void moveKey(const std::wstring& from, const std::wstring& to) {
    UniqueRegKey source, target;
    RegOpenKeyExW(HKEY_CURRENT_USER, from.c_str(), 0, KEY_READ, source.put());
    RegCreateKeyExW(HKEY_CURRENT_USER, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(), nullptr);
    RegCopyTreeW(source.get(), nullptr, target.get());
    source.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, from.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, from.c_str());
}

}  // namespace

AddressBookTest::AddressBookTest()
    : backup_(L"Software\\KT_EMailer Tests\\address book " + std::to_wstring(GetCurrentProcessId())),
      hadKey_(keyExists()) {
    if (hadKey_) moveKey(kAddressBookKey, backup_);
}

AddressBookTest::~AddressBookTest() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddressBookKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kAddressBookKey);
    if (hadKey_) moveKey(backup_, kAddressBookKey);
}

void AddressBookTest::seed(const std::vector<std::wstring>& records) const {
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddressBookKey);
    for (size_t i = 0; i < records.size(); ++i) setString(std::to_wstring(i), records[i]);
}

void AddressBookTest::setValue(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
    RegSetKeyValueW(HKEY_CURRENT_USER, kAddressBookKey, name.c_str(), type, data, size);
}

void AddressBookTest::setString(const std::wstring& name, const std::wstring& text) const {
    setValue(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::map<std::wstring, std::wstring> AddressBookTest::stored() const {
    std::map<std::wstring, std::wstring> values;
    UniqueRegKey key;
    RegOpenKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, KEY_READ, key.put());
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[2048];
        DWORD nameLength = 256, size = sizeof data, type = 0;
        if (RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
            return values;
        values[name] = type == REG_SZ ? std::wstring(data) : L"<type " + std::to_wstring(type) + L">";
    }
}

bool AddressBookTest::keyExists() const {
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring AddressBookTest::lastErrorWithTime() const {
    if (messageBoxes.shown.empty()) return L"<no message>";
    const MessageBoxRequest& box = messageBoxes.shown.back();
    const auto end = box.text.rfind(L"\r\n\r\nTime of Error:");
    if (box.text.rfind(L"ERROR - ", 0) != 0 || end == std::wstring::npos || box.title != L"Error" ||
        box.style != static_cast<UINT>(MB_OK | MB_ICONERROR))
        return L"<not framed> " + box.text;
    return box.text.substr(8, end - 8);
}

}  // namespace kt::test
