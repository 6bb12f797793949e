#pragma once
// The text form an address book record and a recipient entry share: an
// address, a comma and a display name.

#include <optional>
#include <string>

namespace kt {

struct AddressAndName {
    std::wstring address;  // before the first comma
    std::wstring name;     // between the first comma and a second one, if any
};

// Nothing is trimmed; a second comma and everything after it are dropped.
// Nothing when the text holds no comma.
std::optional<AddressAndName> splitAddressAndName(const std::wstring& text);

}  // namespace kt
