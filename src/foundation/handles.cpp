#include "foundation/handles.h"

#include <algorithm>
#include <cwchar>
#include <new>

namespace kt {

Bstr::Bstr(const std::wstring& text)
    : UniqueHandle(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!get()) throw std::bad_alloc();
}

std::wstring Bstr::toString(BSTR value) {
    return value ? std::wstring(value, SysStringLen(value)) : std::wstring();
}

std::wstring registryString(HKEY key, const wchar_t* subkey, const wchar_t* name) {
    DWORD size = 0;
    if (RegGetValueW(key, subkey, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(key, subkey, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS) return {};
    text.resize(std::min<std::size_t>(text.size(), wcsnlen(text.c_str(), text.size())));
    return text;
}

}  // namespace kt
