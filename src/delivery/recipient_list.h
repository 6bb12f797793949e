#pragma once
// The text forms the delivery reads: recipient lists ("address,name" entries
// separated by ";") and the sender field ("name <address>" or an address).
// Nothing is trimmed; positions and counts follow 16-bit limits.

#include <optional>
#include <string>
#include <vector>

#include "foundation/address_and_name.h"

namespace kt {

// The entries of a list split at every ";", empty ones included; the empty
// list has none.
std::vector<std::wstring> splitRecipientList(const std::wstring& list);

// Entries are counted with a 16-bit index: more than 32,767 raise the overflow error.
void checkEntryCount16(const std::vector<std::wstring>& entries);

// An entry without a comma raises the subscript-out-of-range error.
AddressAndName splitRecipientEntry(const std::wstring& entry);

// 1-based position of `character` at or after the 1-based `from`, 0 when it
// is not there; a position beyond 32,767 raises the overflow error.
long findPosition16(const std::wstring& text, wchar_t character, long from = 1);

}  // namespace kt
