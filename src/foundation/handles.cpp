#include "foundation/handles.h"

#include <new>

namespace kt {

Bstr::Bstr(const std::wstring& text)
    : UniqueHandle(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!get()) throw std::bad_alloc();
}

std::wstring Bstr::toString(BSTR value) {
    return value ? std::wstring(value, SysStringLen(value)) : std::wstring();
}

}  // namespace kt
