#include <idn2.h>

#include <memory>

#include "foundation/idna.h"
#include "foundation/utf8.h"

namespace kt {

std::optional<std::string> domainToAscii(const std::wstring& domain) {
    char* ascii = nullptr;
    const int result =
        idn2_to_ascii_8z(toUtf8(domain).c_str(), &ascii, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL | IDN2_USE_STD3_ASCII_RULES);
    const std::unique_ptr<char, void (*)(void*)> owned(ascii, idn2_free);
    if (result != IDN2_OK || !ascii) return std::nullopt;
    return std::string(ascii);
}

}  // namespace kt
