#pragma once
// The address book as the registry keeps it: under HKEY_CURRENT_USER,
// "Software\Veltrano\Ardwyn\E_MailList", one string value per entry named
// "0" to n-1 and holding the address, a comma and the name. Every access goes
// through the registry functions, with quiet set where they take it.

#include <optional>
#include <string>
#include <vector>

#include "settings/modRegFunctions.h"

namespace kt {

inline constexpr const wchar_t* kAddressBookKey = L"Software\\Veltrano\\Ardwyn\\E_MailList";

// The number of stored values; nothing when the key cannot be read.
std::optional<unsigned long> storedValueCount();

// Every stored value in the store's order, watched from before the read, so
// that a later step can tell whether the store still holds them; nothing when
// the key cannot be read.
std::optional<RegSnapshot> storeSnapshot();
// A watch for the store's key to come, while it cannot be read.
RegAbsenceWatch storeAbsenceWatch();

// The text of a stored value as the load reads it: nothing for a value that
// is not a string, or whose name or text is longer than a read by position takes.
std::optional<std::wstring> recordTextOf(const RegValue& value);

// False when the value could not be written.
bool storeRecord(const std::wstring& valueName, const std::wstring& record);

// The name for a new value beside `stored`: the value count, or, should a
// value of that name exist (a rewrite that failed left a gap), the next
// number that is free.
std::wstring newValueName(const std::vector<RegValue>& stored);

// Makes the store hold `values` as "0" to n-1, in their order, and nothing
// else; `stored` is what it holds now.
RewriteFailures rewriteStore(const std::vector<RegValue>& stored, const std::vector<RegValue>& values);

}  // namespace kt
