#include <windows.h>

#include "foundation/idna.h"

namespace kt {

std::optional<std::string> domainToAscii(const std::wstring& domain) {
    wchar_t ascii[256];
    // The rules for host names' ASCII labels are the caller's: some systems apply them to the dots too.
    const int length =
        IdnToAscii(0, domain.data(), static_cast<int>(domain.size()), ascii, static_cast<int>(std::size(ascii)));
    if (length <= 0) return std::nullopt;
    return std::string(ascii, ascii + length);  // ASCII by what the call makes
}

}  // namespace kt
