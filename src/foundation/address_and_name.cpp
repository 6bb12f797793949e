#include "foundation/address_and_name.h"

namespace kt {

std::optional<AddressAndName> splitAddressAndName(const std::wstring& text) {
    const auto first = text.find(L',');
    if (first == std::wstring::npos) return std::nullopt;
    const auto second = text.find(L',', first + 1);
    return AddressAndName{text.substr(0, first),
                          text.substr(first + 1, second == std::wstring::npos ? std::wstring::npos : second - first - 1)};
}

}  // namespace kt
