#include "foundation/locale_order.h"

#include <windows.h>

namespace kt {

std::string localeSortKey(const std::wstring& text) {
    constexpr DWORD kFlags = LCMAP_SORTKEY | NORM_IGNORECASE;
    const int bytes = LCMapStringW(LOCALE_USER_DEFAULT, kFlags, text.c_str(), -1, nullptr, 0);
    std::string key(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    LCMapStringW(LOCALE_USER_DEFAULT, kFlags, text.c_str(), -1, reinterpret_cast<LPWSTR>(key.data()), bytes);
    return key;
}

}  // namespace kt
