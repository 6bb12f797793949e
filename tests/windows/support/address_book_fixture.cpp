#include "support/address_book_fixture.h"

#include "addressbook/address_book_store.h"

namespace kt::test {

AddressBookTest::AddressBookTest()
    : backup_(L"Software\\KT_EMailer Tests\\address book " + std::to_wstring(GetCurrentProcessId())) {
    UniqueRegKey key;
    hadKey_ = RegOpenKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    if (hadKey_) {
        UniqueRegKey target;
        RegCreateKeyExW(HKEY_CURRENT_USER, backup_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(),
                        nullptr);
        RegCopyTreeW(key.get(), nullptr, target.get());
    }
    key.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddressBookKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kAddressBookKey);
}

AddressBookTest::~AddressBookTest() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddressBookKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kAddressBookKey);
    if (hadKey_) {
        UniqueRegKey source, target;
        RegOpenKeyExW(HKEY_CURRENT_USER, backup_.c_str(), 0, KEY_READ, source.put());
        RegCreateKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(),
                        nullptr);
        RegCopyTreeW(source.get(), nullptr, target.get());
        source.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, backup_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, backup_.c_str());
    }
    for (HWND window : threadWindows(L"Ardwyn Address Picker")) DestroyWindow(window);
    for (HWND window : threadWindows(L"Ardwyn E-Mail Message")) DestroyWindow(window);
}

void AddressBookTest::seed(const std::vector<std::wstring>& records) const {
    for (size_t i = 0; i < records.size(); ++i) setString(std::to_wstring(i), records[i]);
}

void AddressBookTest::setValue(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
    UniqueRegKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

void AddressBookTest::setString(const std::wstring& name, const std::wstring& text) const {
    setValue(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::map<std::wstring, std::wstring> AddressBookTest::stored() const {
    std::map<std::wstring, std::wstring> values;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[2048];
        DWORD nameLength = 256, size = sizeof data, type = 0;
        if (RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
            break;
        values[name] = type == REG_SZ ? std::wstring(data) : L"<type " + std::to_wstring(type) + L">";
    }
    return values;
}

bool AddressBookTest::keyExists() const {
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kAddressBookKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring AddressBookTest::lastErrorWithTime() {
    if (messageBoxes.shown.empty()) return L"<no message>";
    const std::wstring text = messageBoxes.shown.back().text;
    const auto end = text.rfind(L"\r\n\r\nTime of Error:");
    if (text.rfind(L"ERROR - ", 0) != 0 || end == std::wstring::npos) return L"<unframed> " + text;
    return text.substr(8, end - 8);
}

}  // namespace kt::test
