#pragma once
// The address book as the registry keeps it: under HKEY_CURRENT_USER,
// "Software\Veltrano\Ardwyn\E_MailList", one string value per entry named
// "0" to n-1 and holding the address, a comma and the name. Every access goes
// through the registry functions with quiet set.

#include <optional>
#include <string>

namespace kt {

inline constexpr const wchar_t* kAddressBookKey = L"Software\\Veltrano\\Ardwyn\\E_MailList";

// The number of stored values; nothing when the key cannot be read.
std::optional<unsigned long> storedValueCount();
// The record text at a position, empty when it cannot be read as a string.
std::wstring storedRecordAt(long position);
// The value name at a position, empty when it cannot be read.
std::wstring storedNameAt(long position);
// False when the value could not be written.
bool storeRecord(const std::wstring& valueName, const std::wstring& record);
// Raises the registry's error when the value cannot be removed.
void removeStoredValue(const std::wstring& valueName);

// The name for a new value: the value count, or, should a value of that name
// exist (a rewrite that failed left a gap), the next number that is free.
std::wstring newValueName(unsigned long valueCount);

}  // namespace kt
